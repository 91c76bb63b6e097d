#include "archive/archive_stats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <regex>
#include <sstream>

#include "archive/archive_period.h"
#include "archive/archive_session.h"
#include "archive/archive_support.h"
#include "archive/history_archive.h"
#include "cli/cli.h"
#include "cli/cli_options.h"
#include "device/device_time.h"
#include "support/comma_locale.h"
#include "support/scratch_folder.h"

namespace dravion {
namespace {

using archive_test::ArchiveForCli;
using archive_test::DownloadOf;
using archive_test::Measurement;
using archive_test::RecordStream;
using archive_test::Weighted;

constexpr uint32_t kDayStart = 799977600;  // a day's first second (device seconds)

// The figures straight from the raw records, for comparison.
ArchiveFigures Reference(std::vector<Weighted> raw, uint64_t from, uint64_t to,
                         std::optional<double> threshold) {
  ArchiveFigures f;
  std::stable_sort(raw.begin(), raw.end(), [](const Weighted& a, const Weighted& b) {
    return a.Record.Start < b.Record.Start;
  });
  bool any = false;
  uint64_t end = 0;
  for (const Weighted& w : raw) {
    const HistoryRecord& r = w.Record;
    if (!r.IsMeasurement()) continue;
    if (r.Duration == 0) {
      if (r.Start >= from && r.Start <= to) {
        ++f.Records;
        f.WeightedPulses += double(r.Pulses) * w.K;
      }
      continue;
    }
    const uint64_t last = uint64_t{r.Start} + r.Duration - 1;
    if (last < from || r.Start > to) continue;
    const uint64_t first = std::max<uint64_t>(r.Start, from);
    const uint64_t overlap = std::min<uint64_t>(last, to) - first + 1;
    ++f.Records;
    f.Covered += overlap;
    f.WeightedPulses += double(r.Pulses) * w.K * double(overlap) / r.Duration;
    if (any && first > end) {
      ++f.Gaps;
      f.LongestGap = std::max<uint64_t>(f.LongestGap, first - end);
    }
    end = std::max(end, first + overlap);
    any = true;
    if (r.Duration < 10) continue;
    const double rate = RecordRate(r.Pulses, r.Duration, w.K);
    if (!f.HasRates || rate > f.MaxRate) f.MaxRate = rate, f.MaxAt = r.Start;
    if (!f.HasRates || rate < f.MinRate) f.MinRate = rate, f.MinAt = r.Start;
    f.HasRates = true;
    if (threshold && rate > *threshold) f.Above += overlap;
  }
  return f;
}

void ExpectSame(const ArchiveFigures& got, const ArchiveFigures& want, const std::string& where) {
  SCOPED_TRACE(where);
  EXPECT_EQ(got.Records, want.Records);
  EXPECT_EQ(got.Covered, want.Covered);
  EXPECT_EQ(got.Gaps, want.Gaps);
  EXPECT_EQ(got.LongestGap, want.LongestGap);
  EXPECT_NEAR(got.WeightedPulses, want.WeightedPulses, 1e-6 * (1 + want.WeightedPulses));
  EXPECT_EQ(got.HasRates, want.HasRates);
  EXPECT_DOUBLE_EQ(got.MaxRate, want.MaxRate);
  EXPECT_EQ(got.MaxAt, want.MaxAt);
  EXPECT_DOUBLE_EQ(got.MinRate, want.MinRate);
  EXPECT_EQ(got.MinAt, want.MinAt);
  EXPECT_EQ(got.Above, want.Above);
}

// Two downloads with different coefficients, a gap, a point, a short record and a record across
// midnight: the figures of a whole day and of a period cut through records at both ends, worked
// out by hand.
TEST(ArchiveStatistics, FiguresOfASmallArchiveAreThoseWorkedOutByHand) {
  test::ScratchFolder folder("stats");
  HistoryArchive archive;
  ASSERT_TRUE(archive.Open((folder.path() / "a.sqlite3").string())) << archive.Error();
  const uint32_t d = kDayStart;
  // K = 1,00: 30 and 60 uR/h.
  ASSERT_TRUE(
      archive.Merge(DownloadOf({Measurement(d, 60, 86), Measurement(d + 60, 60, 172)}, 100)).Ok);
  // K = 2,00 after a gap of 120 s: 30 uR/h, a point, 5 s (no rate of its own), 120 uR/h across
  // midnight, 30 uR/h.
  ASSERT_TRUE(archive
                  .Merge(DownloadOf({Measurement(d + 240, 120, 86), Measurement(d + 360, 0, 43),
                                     Measurement(d + 360, 5, 1), Measurement(d + 86370, 60, 172),
                                     Measurement(d + 86430, 60, 43)},
                                    200))
                  .Ok);
  const int64_t device = archive.Devices().at(0).Id;

  ArchiveFigures f;
  // The whole day: the record across midnight with its 30 s before it.
  ASSERT_TRUE(ArchiveStatistics(archive, {device, d, d + 86399, 50.0}, f)) << archive.Error();
  EXPECT_EQ(f.Records, 6u);
  EXPECT_EQ(f.Covered, 275u);
  EXPECT_DOUBLE_EQ(f.WeightedPulses, 8600 + 17200 + 17200 + 8600 + 200 + 17200);
  EXPECT_NEAR(f.MeanRate(), 52.515, 0.001);
  EXPECT_NEAR(f.Dose(), 69000.0 / 17200, 1e-9);
  EXPECT_EQ(f.Gaps, 2u);
  EXPECT_EQ(f.LongestGap, 86005u);
  EXPECT_DOUBLE_EQ(f.MaxRate, 120);
  EXPECT_EQ(f.MaxAt, d + 86370);
  EXPECT_DOUBLE_EQ(f.MinRate, 30);
  EXPECT_EQ(f.MinAt, d);
  EXPECT_EQ(f.Above, 90u);  // 60 s at 60 uR/h, 30 s of the 120 uR/h record

  // 30 s into the first record to 30 s into the last one.
  ASSERT_TRUE(ArchiveStatistics(archive, {device, d + 30, d + 86459, 50.0}, f));
  EXPECT_EQ(f.Records, 7u);
  EXPECT_EQ(f.Covered, 305u);
  EXPECT_DOUBLE_EQ(f.Dose(), 86200.0 / 17200);
  EXPECT_EQ(f.Gaps, 2u);
  EXPECT_EQ(f.Above, 120u);
  EXPECT_EQ(f.MinAt, d);  // a record counts with its own rate, also when cut by the period

  // The same in the device's Sievert: a hundredth, with its names; a decimal comma in Russian,
  // a point in English (where "1,200" would read as twelve hundred).
  Language english, russian;
  english.Set(Lang::English);
  russian.Set(Lang::Russian);
  EXPECT_EQ(FigureNumber(RateIn(FigureUnit::Sievert, f.MaxRate), FigureUnit::Sievert, russian),
            "1,200");
  EXPECT_EQ(FigureNumber(DoseIn(FigureUnit::Sievert, f.Dose()), FigureUnit::Sievert, russian),
            "0,050");
  EXPECT_EQ(FigureNumber(DoseIn(FigureUnit::Roentgen, f.Dose()), FigureUnit::Roentgen, russian),
            "5,0");
  EXPECT_EQ(FigureNumber(RateIn(FigureUnit::Sievert, f.MaxRate), FigureUnit::Sievert, english),
            "1.200");
  EXPECT_EQ(FigureNumber(DoseIn(FigureUnit::Roentgen, f.Dose()), FigureUnit::Roentgen, english),
            "5.0");
  bool above = false;
  for (const FigureLine& line : FigureLines(f, FigureUnit::Sievert, english))
    above = above || line.Label == "Above 0.500 uSv/h";
  EXPECT_TRUE(above);
  EXPECT_EQ(FigureRateUnit(FigureUnit::Sievert, english), "uSv/h");
  EXPECT_EQ(FigureDoseUnit(FigureUnit::Roentgen, english), "uR");
  EXPECT_DOUBLE_EQ(RateFrom(FigureUnit::Sievert, 0.5), 50.0);

  // Nothing recorded, and no threshold: no rates, no time above.
  ASSERT_TRUE(ArchiveStatistics(archive, {device, d + 1000, d + 2000, std::nullopt}, f));
  EXPECT_EQ(f.Records, 0u);
  EXPECT_FALSE(f.HasRates);
  EXPECT_EQ(f.MeanRate(), 0);
}

// Many days of the device's own stream (hour and day crossing records, gaps, unusable records),
// merged in two downloads of different coefficients: every period, whole days or cut anywhere,
// gives what the raw records give; after a further download into days already asked for, the
// kept day figures follow it.
TEST(ArchiveStatistics, FiguresOverManyDaysMatchTheRawRecordsAlsoAfterANewDownload) {
  test::ScratchFolder folder("stats");
  HistoryArchive archive;
  ASSERT_TRUE(archive.Open((folder.path() / "a.sqlite3").string())) << archive.Error();
  const std::vector<HistoryRecord> stream = RecordStream(30000, kDayStart + 17);
  const std::vector<HistoryRecord> first(stream.begin(), stream.begin() + 18000);
  const std::vector<HistoryRecord> second(stream.begin() + 18000, stream.end());
  ASSERT_TRUE(archive.Merge(DownloadOf(first, 127)).Ok);
  std::vector<Weighted> raw;
  for (const HistoryRecord& r : first)
    raw.push_back({r, 127});
  const int64_t device = archive.Devices().at(0).Id;
  const uint32_t end = stream.back().Start;

  auto check = [&](const std::string& when) {
    for (const auto& [from, to] : std::vector<std::pair<uint32_t, uint32_t>>{
             {0, 0xFFFFFFFF},
             {kDayStart + 86400, kDayStart + 5 * 86400 - 1},
             {kDayStart + 86400 + 777, kDayStart + 9 * 86400 + 4321},
             {kDayStart + 3 * 86400 + 100, kDayStart + 3 * 86400 + 5000},
             {kDayStart + 2 * 86400 - 1, end}}) {
      for (const std::optional<double> threshold :
           {std::optional<double>(), std::optional<double>(40.0), std::optional<double>(300.0)}) {
        ArchiveFigures got;
        ASSERT_TRUE(ArchiveStatistics(archive, {device, from, to, threshold}, got));
        ExpectSame(got, Reference(raw, from, to, threshold),
                   when + " " + std::to_string(from) + "-" + std::to_string(to) + " above " +
                       std::to_string(threshold.value_or(-1)));
      }
    }
  };
  check("first download");
  // The second overlaps days asked for already, with another coefficient.
  ASSERT_TRUE(archive.Merge(DownloadOf(second, 140)).Ok);
  for (const HistoryRecord& r : second)
    raw.push_back({r, 140});
  check("second download");
}

// The archive named for dravion-cli while the object lives.
// archive stats: one JSON object with the figures in the unit asked for, numbers with a decimal
// point also where the process writes a decimal comma; the text in Russian with the device's
// unit names; the threshold typed in the unit.
TEST(ArchiveStatistics, TheCliPrintsTheFiguresInTheUnitAskedFor) {
  test::ScratchFolder folder("stats");
  const std::string path = (folder.path() / "a.sqlite3").string();
  const uint32_t d = kDayStart;
  {
    HistoryArchive archive;
    ASSERT_TRUE(archive.Open(path)) << archive.Error();
    ASSERT_TRUE(
        archive.Merge(DownloadOf({Measurement(d, 60, 86), Measurement(d + 60, 60, 172)}, 100)).Ok);
    ASSERT_TRUE(archive
                    .Merge(DownloadOf(
                        {Measurement(d + 240, 120, 86), Measurement(d + 86370, 60, 172)}, 200))
                    .Ok);
  }
  ArchiveForCli named(path);
  test::CommaDecimalLocale comma;
  const auto run = archive_test::RunCliCapturing;
  const TimeRecord day = TimeRecordFromSeconds(d);
  char date[16];
  std::snprintf(date, sizeof date, "20%02u-%02u-%02u", day.Bytes[5] % 100u, day.Bytes[4] % 100u,
                day.Bytes[3] % 100u);
  std::string out;
  ASSERT_EQ(
      run({"--json", "archive", "stats", "--from", date, "--to", date, "--threshold", "0,5usv"},
          out),
      0)
      << out;
  // 4 records, 270 s of the day: (8600 + 17200 + 17200 + 17200) x 36 / 172 / 270 uR/h.
  EXPECT_NE(out.find("\"records\":4,\"covered\":270,\"gaps\":2,\"longestGap\":86010,"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\"mean\":0.46667,\"meanLow\":0.4"), std::string::npos) << out;
  EXPECT_NE(out.find(",\"max\":1.2,"), std::string::npos) << out;
  EXPECT_NE(out.find("\"min\":0.3,"), std::string::npos) << out;
  EXPECT_NE(out.find("\"dose\":0.035,\"doseLow\":0.03"), std::string::npos) << out;
  EXPECT_NE(out.find("\"counts\":430,\"confidence\":0.95,\"rateUnit\":\"uSv/h\","
                     "\"doseUnit\":\"uSv\","),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\"threshold\":0.5,\"above\":90,\"otherRuns\":[]}"), std::string::npos) << out;
  // The intervals: about the figures, as the figures' counts give them, with a decimal point.
  ArchiveFigures f;
  {
    HistoryArchive archive;
    ASSERT_TRUE(archive.Open(path));
    ASSERT_TRUE(ArchiveStatistics(archive, {archive.Devices().at(0).Id, d, d + 86399, {}}, f));
  }
  auto number = [&](const std::string& name) {
    const size_t at = out.find("\"" + name + "\":");
    EXPECT_NE(at, std::string::npos) << name;
    const char* begin = out.c_str() + at + name.size() + 3;
    double value = -1;
    std::from_chars(begin, out.c_str() + out.size(), value);
    return value;
  };
  EXPECT_NEAR(number("meanLow"), f.MeanInterval().Low / 100, 1e-5);
  EXPECT_NEAR(number("meanHigh"), f.MeanInterval().High / 100, 1e-5);
  EXPECT_NEAR(number("doseLow"), f.DoseInterval().Low / 100, 1e-5);
  EXPECT_NEAR(number("doseHigh"), f.DoseInterval().High / 100, 1e-5);
  EXPECT_LT(number("meanLow"), 0.46);
  EXPECT_GT(number("meanHigh"), 0.48);
  EXPECT_FALSE(std::regex_search(out, std::regex("[0-9],[0-9]"))) << "a decimal comma in " << out;
  // --confidence: narrower at 90%, written as given.
  ASSERT_EQ(
      run({"--json", "archive", "stats", "--from", date, "--to", date, "--confidence", "0,9"}, out),
      0)
      << out;
  EXPECT_NE(out.find("\"confidence\":0.9,"), std::string::npos) << out;
  EXPECT_NEAR(number("meanHigh"), f.MeanInterval(0.9).High / 100, 1e-5);
  EXPECT_LT(number("meanHigh"), f.MeanInterval().High / 100);
  // --confidence belongs to the figures and the comparison alone, and is a share.
  cli::CliOptions options;
  std::string error;
  EXPECT_TRUE(cli::ParseCommandLine({"archive", "stats", "--confidence", "0.99"}, options, error));
  EXPECT_DOUBLE_EQ(options.confidence, 0.99);
  EXPECT_FALSE(cli::ParseCommandLine({"archive", "stats", "--confidence", "95"}, options, error));
  EXPECT_FALSE(cli::ParseCommandLine({"archive", "export", "--confidence", "0.9"}, options, error));
  EXPECT_NE(error.find("archive stats and archive compare"), std::string::npos) << error;
  // The text: the interval after the mean and the dose, in English with decimal points.
  ASSERT_EQ(run({"archive", "stats", "--from", date, "--to", date}, out), 0) << out;
  Language english;
  english.Set(Lang::English);
  EXPECT_NE(
      out.find("Mean:            0.467 uSv/h (" +
               FigureNumber(f.MeanInterval().Low / 100, FigureUnit::Sievert, english) + " to " +
               FigureNumber(f.MeanInterval().High / 100, FigureUnit::Sievert, english) + ")\n"),
      std::string::npos)
      << out;
  EXPECT_NE(out.find("Dose:            0.035 uSv (0.0"), std::string::npos) << out;

  // The device's unit and alarm threshold as its settings were last read are the defaults:
  // Roentgen, background position 2 (50 uR/h); out-of-range readings are not kept.
  {
    HistoryArchive archive;
    ASSERT_TRUE(archive.Open(path));
    EXPECT_FALSE(RememberedDeviceAlarm(archive, "214-36587"));
    EXPECT_FALSE(RememberDeviceAlarm(archive, "214-36587", 1, 16));
    EXPECT_FALSE(RememberDeviceAlarm(archive, "214-36587", 3, 2));
    ASSERT_TRUE(RememberDeviceAlarm(archive, "214-36587", 1, 2));
    EXPECT_DOUBLE_EQ(BackgroundThresholdRate(0), 30);
    EXPECT_DOUBLE_EQ(BackgroundThresholdRate(12), 1000);
    EXPECT_DOUBLE_EQ(BackgroundThresholdRate(15), 10000);
  }
  ASSERT_EQ(run({"--lang", "ru", "archive", "stats"}, out), 0);
  Language russian;
  russian.Set(Lang::Russian);
  EXPECT_NE(out.find("Наибольшее:      120,0 мкР/ч"), std::string::npos) << out;
  // The device's records from the first to the end of the last (its whole last record).
  {
    HistoryArchive archive;
    ASSERT_TRUE(archive.Open(path));
    ASSERT_TRUE(ArchiveStatistics(archive, {archive.Devices().at(0).Id, d, d + 86429, {}}, f));
  }
  EXPECT_NE(out.find("Доза:            4,5 мкР (" +
                     FigureNumber(f.DoseInterval().Low, FigureUnit::Roentgen, russian) + " – " +
                     FigureNumber(f.DoseInterval().High, FigureUnit::Roentgen, russian) + ")\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("Среднее:         54,0 мкР/ч (" +
                     FigureNumber(f.MeanInterval().Low, FigureUnit::Roentgen, russian) + " – "),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("Выше 50,0 мкР/ч: 00:02:00"), std::string::npos) << out;
}

}  // namespace
}  // namespace dravion

namespace dravion {
namespace {

double CommaNumber(const std::string& text) {
  std::string point = text;
  std::replace(point.begin(), point.end(), ',', '.');
  return std::stod(point);
}

// A report of some ten weeks has a table of months (their doses add up to the period's) and the
// year's chart with the period's months marked; one of three days a table of days; a period to
// the end of the device's calendar ends.
TEST(ArchiveReport, ALongPeriodIsTabledByMonthAShortOneByDay) {
  test::ScratchFolder folder("report");
  HistoryArchive archive;
  ASSERT_TRUE(archive.Open((folder.path() / "a.sqlite3").string())) << archive.Error();
  const std::vector<HistoryRecord> stream = RecordStream(100000, kDayStart + 17);
  ASSERT_TRUE(archive.Merge(DownloadOf(stream, 127)).Ok);
  const ArchiveDevice device = archive.Devices().at(0);
  Language english;
  english.Set(Lang::English);
  ReportRequest request;
  request.Device = device.Id;
  request.Serial = device.Serial;
  request.From = device.FirstStart;
  request.To = device.LastEnd - 1;
  request.Unit = FigureUnit::Roentgen;
  ArchiveReport report;
  ASSERT_TRUE(MakeArchiveReport(archive, request, english, report));
  EXPECT_EQ(report.Columns.front(), "Month");
  ASSERT_EQ(report.Rows.size(), 3u);  // May to July 2025
  EXPECT_EQ(report.Rows[0][0], "05.2025");
  EXPECT_EQ(report.Rows[2][0], "07.2025");
  double doses = 0;
  for (const auto& row : report.Rows)
    doses += CommaNumber(row[3]);
  ArchiveFigures all;
  ASSERT_TRUE(ArchiveStatistics(archive, {device.Id, request.From, request.To, {}}, all));
  EXPECT_NEAR(doses, all.Dose(), 0.15);
  // The report's figures give the mean and the dose with their 95% intervals, those of the
  // period's own figures.
  auto figure = [&](const std::string& label) {
    for (const FigureLine& line : report.Figures)
      if (line.Label == label) return line.Value;
    return std::string();
  };
  auto roentgen = [&](double value) { return FigureNumber(value, FigureUnit::Roentgen, english); };
  EXPECT_EQ(figure("Mean"), roentgen(all.MeanRate()) + " uR/h (" +
                                roentgen(all.MeanInterval().Low) + " to " +
                                roentgen(all.MeanInterval().High) + ")");
  EXPECT_EQ(figure("Dose"), roentgen(all.Dose()) + " uR (" + roentgen(all.DoseInterval().Low) +
                                " to " + roentgen(all.DoseInterval().High) + ")");
  EXPECT_LT(all.MeanInterval().Low, all.MeanInterval().High);
  // The chart is the period's, in days: its first day to its last, each with records.
  const size_t days = (request.To / 86400) - (request.From / 86400) + 1;
  ASSERT_EQ(report.Chart.Rate.size(), days);
  EXPECT_EQ(report.Chart.Labels.front(), "08.05");
  const TimeRecord lastDay = TimeRecordFromSeconds(request.To);
  char lastLabel[8];
  std::snprintf(lastLabel, sizeof lastLabel, "%02u.%02u", lastDay.Bytes[3] % 100u,
                lastDay.Bytes[4] % 100u);
  EXPECT_EQ(report.Chart.Labels.back(), lastLabel);
  EXPECT_FALSE(report.Chart.Rate.front().Mark);
  EXPECT_FALSE(report.Chart.Rate.back().Mark);

  request.From = kDayStart + 86400;
  request.To = kDayStart + 4 * 86400 - 1;
  ASSERT_TRUE(MakeArchiveReport(archive, request, english, report));
  EXPECT_EQ(report.Columns.front(), "Day");
  ASSERT_EQ(report.Rows.size(), 3u);
  EXPECT_EQ(report.Rows[0][0], "09.05.2025");
  // Three days in hours, from the period's first hour to its last.
  ASSERT_EQ(report.Chart.Rate.size(), 72u);
  EXPECT_EQ(report.Chart.Labels.front(), "00");
  EXPECT_EQ(report.Chart.Labels.back(), "23");
  // Across the end of a month: both months' days, none outside the period.
  request.From = kDayStart + 22 * 86400;  // 30.05.2025
  request.To = kDayStart + 27 * 86400 - 1;
  ASSERT_TRUE(MakeArchiveReport(archive, request, english, report));
  ASSERT_EQ(report.Chart.Labels.size(), 5u);
  EXPECT_EQ(report.Chart.Labels.front(), "30.05");
  EXPECT_EQ(report.Chart.Labels.back(), "03.06");
  EXPECT_NE(report.Chart.Title.front().find("30.05.2025 00:00:00 - 03.06.2025 23:59:59"),
            std::string::npos)
      << report.Chart.Title.front();

  request.To = 0xFFFFFFFF;
  ASSERT_TRUE(MakeArchiveReport(archive, request, english, report));
  EXPECT_FALSE(report.Rows.empty());
}

}  // namespace
}  // namespace dravion

namespace dravion {
namespace {

// A device whose clock went back an hour at 02:00 (a change to winter time): its records of
// the day lie in two runs that overlap for an hour. The day's figures take both runs, and say
// where the other run lies; a run asked for on its own gives its own figures.
TEST(ArchiveStatistics, APeriodAcrossAClockSetBackTakesEveryRunOfTheDevice) {
  test::ScratchFolder folder("stats");
  HistoryArchive archive;
  ASSERT_TRUE(archive.Open((folder.path() / "a.sqlite3").string())) << archive.Error();
  const uint32_t d = kDayStart;
  std::vector<HistoryRecord> before, after;
  for (uint32_t t = d; t < d + 3 * 3600; t += 60)
    before.push_back(Measurement(t, 60, 100));
  // After the change the clock reads 02:00 again; the records go on to the day's end and over
  // midnight.
  for (uint32_t t = d + 2 * 3600; t < d + 86400 + 600; t += 60)
    after.push_back(Measurement(t, 60, 50));
  std::vector<HistoryRecord> ring = before;
  ring.insert(ring.end(), after.begin(), after.end());
  ASSERT_TRUE(archive.Merge(DownloadOf(before, 100)).Ok);
  const MergeResult merged = archive.Merge(DownloadOf(ring, 100));
  ASSERT_TRUE(merged.Ok) << merged.Error;
  ASSERT_TRUE(merged.ClockSetBack);
  // The warning says by how much: an hour, no battery taken out.
  Language english;
  english.Set(Lang::English);
  const std::string warning = ClockSetBackMessage(merged, english);
  EXPECT_NE(warning.find("set back by 01:00:00"), std::string::npos) << warning;
  EXPECT_EQ(warning.find("battery"), std::string::npos) << warning;
  const std::vector<ArchiveDevice> runs = archive.Devices();
  ASSERT_EQ(runs.size(), 2u);
  std::vector<Weighted> raw;
  for (const HistoryRecord& r : ring)
    raw.push_back({r, 100});

  for (const auto& [from, to] : std::vector<std::pair<uint32_t, uint32_t>>{
           {d, d + 86399}, {d + 3600, d + 5 * 3600 - 1}, {d - 86400, d + 3 * 86400 - 1}}) {
    SCOPED_TRACE(std::to_string(from - d) + " to " + std::to_string(to - d));
    ArchiveFigures f;
    ASSERT_TRUE(ArchiveStatistics(archive, {runs[1].Id, from, to, 60.0}, f)) << archive.Error();
    const ArchiveFigures want = Reference(raw, from, to, 60.0);
    EXPECT_EQ(f.Records, want.Records);
    EXPECT_EQ(f.Covered, want.Covered);
    EXPECT_NEAR(f.Dose(), want.Dose(), 1e-9);
    EXPECT_EQ(f.Above, want.Above);
    EXPECT_DOUBLE_EQ(f.MaxRate, want.MaxRate);
    EXPECT_EQ(f.Gaps, want.Gaps);
    EXPECT_EQ(f.Run, 2);
    ASSERT_EQ(f.OtherRuns.size(), 1u);
    EXPECT_EQ(f.OtherRuns[0].Run, 1);
    EXPECT_EQ(f.OtherRuns[0].First, std::max(from, d));
    EXPECT_EQ(f.OtherRuns[0].Last, std::min(to, d + 3 * 3600 - 1));
    ASSERT_TRUE(f.OtherRuns[0].Overlaps);
    EXPECT_EQ(f.OtherRuns[0].OverlapFirst, std::max(from, d + 2 * 3600));
    EXPECT_EQ(f.OtherRuns[0].OverlapLast, d + 3 * 3600 - 1);
  }
  // The whole day: 180 minutes of 100 pulses and 22 h of 50 at K 1,00.
  ArchiveFigures day;
  ASSERT_TRUE(ArchiveStatistics(archive, {runs[1].Id, d, d + 86399, {}}, day));
  EXPECT_NEAR(day.Dose(), (180 * 100 + 22 * 60 * 50) * 100 * 36.0 / 172 / 3600, 1e-9);

  // One run on its own, as asked for; a period that holds no record of another run names none.
  FigureRange own{runs[0].Id, d, d + 86399, {}};
  own.AllRuns = false;
  ASSERT_TRUE(ArchiveStatistics(archive, own, day));
  EXPECT_EQ(day.Records, before.size());
  EXPECT_TRUE(day.OtherRuns.empty());
  ASSERT_TRUE(ArchiveStatistics(archive, {runs[1].Id, d + 4 * 3600, d + 5 * 3600, {}}, day));
  EXPECT_TRUE(day.OtherRuns.empty());
}

// archive stats over a day whose clock went back an hour: the figures of both runs, with the
// other run and where it overlaps named (in JSON and in the text, whose English numbers have a
// decimal point); a period that ends before it starts once clamped to the device's records is
// refused with a reason.
TEST(ArchiveStatistics, TheCliTakesEveryRunAndRefusesAnEmptyPeriod) {
  test::ScratchFolder folder("stats");
  const std::string path = (folder.path() / "a.sqlite3").string();
  const uint32_t d = kDayStart;
  {
    HistoryArchive archive;
    ASSERT_TRUE(archive.Open(path)) << archive.Error();
    std::vector<HistoryRecord> before, ring;
    for (uint32_t t = d; t < d + 3 * 3600; t += 60)
      before.push_back(Measurement(t, 60, 100));
    ring = before;
    for (uint32_t t = d + 2 * 3600; t < d + 86400; t += 60)
      ring.push_back(Measurement(t, 60, 50));
    ASSERT_TRUE(archive.Merge(DownloadOf(before, 100)).Ok);
    ASSERT_TRUE(archive.Merge(DownloadOf(ring, 100)).ClockSetBack);
  }
  ArchiveForCli named(path);
  test::CommaDecimalLocale comma;
  const auto run = archive_test::RunCliCapturing;
  std::string out;
  ASSERT_EQ(run({"--json", "archive", "stats", "--from", "2025-05-08", "--to", "2025-05-08"}, out),
            0)
      << out;
  EXPECT_NE(out.find("\"run\":2,"), std::string::npos) << out;
  EXPECT_NE(out.find("\"records\":1500,"), std::string::npos) << out;
  EXPECT_NE(out.find("\"otherRuns\":[{\"run\":1,\"from\":\"2025-05-08T00:00:00\","
                     "\"to\":\"2025-05-08T02:59:59\",\"overlapFrom\":\"2025-05-08T02:00:00\","
                     "\"overlapTo\":\"2025-05-08T02:59:59\"}]"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("the newest is taken"), std::string::npos) << out;

  ASSERT_EQ(run({"--lang", "en", "archive", "stats", "--threshold", "0.2usv"}, out), 0) << out;
  EXPECT_NE(out.find("Above 0.200 uSv/h: 03:00:00"), std::string::npos) << out;
  EXPECT_NE(out.find("Records:         1,500"), std::string::npos) << out;
  EXPECT_NE(out.find("08.05.2025 02:00:00 - 08.05.2025 02:59:59"), std::string::npos) << out;
  EXPECT_EQ(out.find(",200"), std::string::npos) << out;

  // Only --to, a day before the device's first record: nothing to give figures of.
  EXPECT_NE(run({"--lang", "en", "archive", "stats", "--to", "2025-05-01"}, out), 0);
  EXPECT_NE(out.find("ends before it begins"), std::string::npos) << out;
  EXPECT_EQ(out.find("Records:"), std::string::npos) << out;
}

}  // namespace
}  // namespace dravion
