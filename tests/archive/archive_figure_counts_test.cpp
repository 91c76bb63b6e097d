#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "archive/archive_period.h"
#include "archive/archive_stats.h"
#include "archive/archive_support.h"
#include "archive/history_archive.h"
#include "cli/cli.h"
#include "cli/cli_options.h"
#include "device/device_time.h"
#include "stats/counting_statistics.h"
#include "support/comma_locale.h"
#include "support/scratch_folder.h"

namespace dravion {
namespace {

using archive_test::DownloadOf;
using archive_test::Measurement;
using archive_test::RecordStream;
using archive_test::Weighted;

constexpr uint32_t kDayStart = 799977600;  // a day's first second (device seconds)

// The counting of a period straight from the raw records: each usable record's part in it, its
// pulses in proportion to its seconds there, at the coefficient it was downloaded with.
PeriodCounts ReferenceCounts(const std::vector<Weighted>& raw, uint64_t from, uint64_t to) {
  PeriodCounts counts;
  for (const Weighted& w : raw) {
    const HistoryRecord& r = w.Record;
    if (!r.IsMeasurement()) continue;
    if (r.Duration == 0) {
      if (r.Start >= from && r.Start <= to) counts.Add(r.Pulses, 1, w.K, 0);
      continue;
    }
    const uint64_t last = uint64_t{r.Start} + r.Duration - 1;
    if (last < from || r.Start > to) continue;
    const uint64_t overlap = std::min<uint64_t>(last, to) - std::max<uint64_t>(r.Start, from) + 1;
    counts.Add(r.Pulses, double(overlap) / r.Duration, w.K, double(overlap));
  }
  return counts;
}

// uR/h per K x pulses per second, and uR per K x pulse.
const double kRatePerPulse = RecordRate(1, 1, 1);
const double kDosePerPulse = RecordDose(1, 1);

void ExpectNear(const Interval& got, const Interval& want, const char* what) {
  EXPECT_NEAR(got.Low, want.Low, 1e-9 * (1 + want.High)) << what;
  EXPECT_NEAR(got.High, want.High, 1e-9 * (1 + want.High)) << what;
}

// The figures' counts and intervals are those of the raw records.
void ExpectCountsOf(const ArchiveFigures& f, const PeriodCounts& want) {
  EXPECT_NEAR(f.Counts.Seconds(), want.Seconds(), 1e-9 * want.Seconds());
  EXPECT_EQ(f.Counts.Seconds(), static_cast<double>(f.Covered));
  EXPECT_NEAR(f.Counts.Pulses(), want.Pulses(), 1e-9 * want.Pulses());
  EXPECT_NEAR(f.Counts.WeightedPulses(), want.WeightedPulses(), 1e-9 * want.WeightedPulses());
  EXPECT_NEAR(f.Counts.WeightedPulses(), f.WeightedPulses, 1e-9 * f.WeightedPulses);
  EXPECT_NEAR(f.Counts.Exposure(), want.Exposure(), 1e-9 * want.Exposure());
  Interval mean = want.MeanInterval();
  mean.Low *= kRatePerPulse;
  mean.High *= kRatePerPulse;
  ExpectNear(f.MeanInterval(), mean, "mean");
  Interval dose = want.WeightedInterval();
  dose.Low *= kDosePerPulse;
  dose.High *= kDosePerPulse;
  ExpectNear(f.DoseInterval(), dose, "dose");
  if (f.Covered > 0) {
    EXPECT_LT(f.MeanInterval().Low, f.MeanRate());
    EXPECT_GT(f.MeanInterval().High, f.MeanRate());
  }
  EXPECT_LT(f.DoseInterval().Low, f.Dose());
  EXPECT_GT(f.DoseInterval().High, f.Dose());
}

// The counts a period's figures carry are those of its raw records: records across its edges in
// part, two downloads of different K, a record in conflict left out, points counted; the same
// again from the day rows kept by the first read, and the kept rows really taken (changed ones
// change the interval; rows that are no counts are made again from the records).
TEST(ArchiveFigureCounts, ThePeriodsCountsAreThoseOfItsRawRecordsAlsoFromKeptDays) {
  test::ScratchFolder folder("counts");
  const std::string path = (folder.path() / "a.sqlite3").string();
  HistoryArchive archive;
  ASSERT_TRUE(archive.Open(path)) << archive.Error();
  const std::vector<HistoryRecord> stream = RecordStream(12000, kDayStart + 17);
  ASSERT_TRUE(archive.Merge(DownloadOf({stream.begin(), stream.begin() + 7000}, 127)).Ok);
  ASSERT_TRUE(archive.Merge(DownloadOf({stream.begin() + 6000, stream.end()}, 140)).Ok);
  std::vector<Weighted> raw;
  for (size_t i = 0; i < stream.size(); ++i)
    raw.push_back({stream[i], i < 7000 ? 127u : 140u});
  // A differing record of a start the archive holds: kept beside it, in conflict.
  size_t timed = 8000;
  while (stream[timed].Kind != kKindOnTime || stream[timed - 1].Kind != kKindOnTime)
    ++timed;
  HistoryRecord differing = stream[timed];
  differing.Pulses += 500;
  ArchiveBatch conflicting = DownloadOf({stream[timed - 1], differing}, 140);
  conflicting.DeviceTime = stream.back().Start + 600;
  const MergeResult merged = archive.Merge(conflicting);
  ASSERT_TRUE(merged.Ok);
  ASSERT_EQ(merged.Conflicts, 1u);
  const ArchiveDevice device = archive.Devices().at(0);

  const std::vector<std::pair<uint32_t, uint32_t>> periods = {
      {kDayStart, kDayStart + 86399},
      {kDayStart + 86400, kDayStart + 4 * 86400 - 1},
      {stream[100].Start + 7, stream[6500].Start + 13},
      {stream[timed].Start - 3600, stream[timed].Start + 3600},
      {stream[3].Start, stream.back().Start + 100000}};
  for (const char* read : {"made from the records", "from the kept days"}) {
    for (const auto& [from, to] : periods) {
      SCOPED_TRACE(std::string(read) + " " + std::to_string(from) + "-" + std::to_string(to));
      ArchiveFigures figures;
      ASSERT_TRUE(ArchiveStatistics(archive, {device.Id, from, to, {}}, figures));
      ExpectCountsOf(figures, ReferenceCounts(raw, from, to));
    }
  }
  const auto& [from, to] = periods[1];
  ArchiveFigures kept;
  ASSERT_TRUE(ArchiveStatistics(archive, {device.Id, from, to, {}}, kept));
  auto change = [&](const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_GT(sqlite3_changes(db), 0);
    sqlite3_close(db);
  };
  // Kept rows are what the figures take: a larger spread of weights in them widens the interval.
  change("UPDATE figure_days SET weighted_squares=weighted_squares*4");
  ArchiveFigures widened;
  ASSERT_TRUE(ArchiveStatistics(archive, {device.Id, from, to, {}}, widened));
  EXPECT_GT(widened.MeanInterval().High - widened.MeanRate(),
            1.5 * (kept.MeanInterval().High - kept.MeanRate()));
  EXPECT_EQ(widened.MeanRate(), kept.MeanRate());
  // Sums that are no counts, or that disagree with the day's pulses: made again.
  change("UPDATE figure_days SET weighted_squares=-1");
  ArchiveFigures again;
  ASSERT_TRUE(ArchiveStatistics(archive, {device.Id, from, to, {}}, again));
  ExpectCountsOf(again, ReferenceCounts(raw, from, to));
  change("UPDATE figure_days SET weighted_pulses=weighted_pulses+1, largest_weight=1e6");
  ASSERT_TRUE(ArchiveStatistics(archive, {device.Id, from, to, {}}, again));
  ExpectCountsOf(again, ReferenceCounts(raw, from, to));
}

// Rows kept by the rules before the counts, in a table without their columns: the table is made
// anew and the figures carry their counts, and the rows kept now hold them.
TEST(ArchiveFigureCounts, DayRowsWithoutCountsAreMadeAgain) {
  test::ScratchFolder folder("counts");
  const std::string path = (folder.path() / "a.sqlite3").string();
  HistoryArchive archive;
  ASSERT_TRUE(archive.Open(path)) << archive.Error();
  const std::vector<HistoryRecord> stream = RecordStream(4 * 1440, kDayStart + 30);
  ASSERT_TRUE(archive.Merge(DownloadOf(stream, 127)).Ok);
  std::vector<Weighted> raw;
  for (const HistoryRecord& r : stream)
    raw.push_back({r, 127});
  const ArchiveDevice device = archive.Devices().at(0);
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    for (const char* sql :
         {"DROP TABLE IF EXISTS figure_days",
          "CREATE TABLE figure_days(device INTEGER NOT NULL, start INTEGER NOT NULL,"
          " pulses_k INTEGER NOT NULL, covered INTEGER NOT NULL, records INTEGER NOT NULL,"
          " first_start INTEGER, last_end INTEGER, gaps INTEGER NOT NULL,"
          " longest_gap INTEGER NOT NULL, max_rate REAL, max_at INTEGER, min_rate REAL,"
          " min_at INTEGER, rated_seconds INTEGER NOT NULL, rates BLOB,"
          " PRIMARY KEY(device, start)) WITHOUT ROWID",
          "CREATE TABLE IF NOT EXISTS figure_days_rules(rules INTEGER NOT NULL)",
          "DELETE FROM figure_days_rules", "INSERT INTO figure_days_rules VALUES(2)"})
      ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    sqlite3_close(db);
  }
  const uint32_t from = kDayStart + 86400, to = kDayStart + 3 * 86400 - 1;
  for (int read = 0; read < 2; ++read) {
    ArchiveFigures figures;
    ASSERT_TRUE(ArchiveStatistics(archive, {device.Id, from, to, {}}, figures)) << archive.Error();
    ExpectCountsOf(figures, ReferenceCounts(raw, from, to));
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* select = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*), sum(counted_pulses) FROM figure_days", -1,
                               &select, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(select), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(select, 0), 2);
  EXPECT_GT(sqlite3_column_double(select, 1), 0);
  sqlite3_finalize(select);
  sqlite3_close(db);
}

// One K throughout: the interval of the mean is Garwood's on the pulses (published values for
// 0, 1, 10 and 100 counts) at that K over the seconds, and the dose's at that K, from records or
// from kept days alike; a record cut by the period has the interval of the whole record; records
// of different K weigh each with its own (wider than Garwood's at their mean K); an empty period
// has none.
TEST(ArchiveFigureCounts, IntervalsOfOneKAreGarwoodsAndDifferentKWeighEachRecord) {
  test::ScratchFolder folder("counts");
  HistoryArchive archive;
  ASSERT_TRUE(archive.Open((folder.path() / "a.sqlite3").string())) << archive.Error();
  const uint32_t d = kDayStart;
  // Day 1: a record of 1 pulse, one of none. Day 2: 10 pulses in ten minutes. Day 3: 100 pulses
  // in 100 minutes. Day 4: 100 pulses at K 1,27, then 100 at K 2,54, a minute each.
  std::vector<HistoryRecord> k127 = {Measurement(d + 600, 60, 1), Measurement(d + 7200, 60, 0)};
  for (uint32_t m = 0; m < 10; ++m)
    k127.push_back(Measurement(d + 86400 + 60 * m, 60, m % 2 ? 2 : 0));
  for (uint32_t m = 0; m < 100; ++m)
    k127.push_back(Measurement(d + 2 * 86400 + 60 * m, 60, m % 2 ? 2 : 0));
  k127.push_back(Measurement(d + 3 * 86400, 60, 100));
  ASSERT_TRUE(archive.Merge(DownloadOf(k127, 127)).Ok);
  ASSERT_TRUE(archive.Merge(DownloadOf({Measurement(d + 3 * 86400 + 60, 60, 100)}, 254)).Ok);
  const int64_t device = archive.Devices().at(0).Id;

  struct Case {
    uint32_t From, To;
    uint64_t Pulses, Seconds;
    double Low, High;  // published 95% limits on the count
  };
  const Case cases[] = {{d + 600, d + 659, 1, 60, 0.025318, 5.5716},
                        {d + 7200, d + 7259, 0, 60, 0, 3.6889},
                        {d + 86400, d + 2 * 86400 - 1, 10, 600, 4.7954, 18.3904},
                        {d + 2 * 86400, d + 3 * 86400 - 1, 100, 6000, 81.3639, 121.627}};
  for (int read = 0; read < 2; ++read) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(read) + ": " + std::to_string(c.Pulses) + " pulses");
      ArchiveFigures f;
      ASSERT_TRUE(ArchiveStatistics(archive, {device, c.From, c.To, {}}, f));
      EXPECT_EQ(f.CountedPulses(), c.Pulses);
      EXPECT_EQ(f.Covered, c.Seconds);
      const double rate = 127 * kRatePerPulse / static_cast<double>(c.Seconds);
      const Interval mean = f.MeanInterval(), dose = f.DoseInterval();
      EXPECT_NEAR(mean.Low, c.Low * rate, 2e-4 * c.Low * rate);
      EXPECT_NEAR(mean.High, c.High * rate, 2e-4 * c.High * rate);
      EXPECT_NEAR(dose.Low, c.Low * 127 * kDosePerPulse, 2e-4 * c.Low * 127 * kDosePerPulse);
      EXPECT_NEAR(dose.High, c.High * 127 * kDosePerPulse, 2e-4 * c.High * 127 * kDosePerPulse);
      // A narrower confidence gives a narrower interval.
      EXPECT_GT(f.MeanInterval(0.9).High, f.MeanRate());
      EXPECT_LT(f.MeanInterval(0.9).High, mean.High);
    }
  }
  // Half of the record of 1 pulse: half a pulse over half the seconds, the same interval.
  ArchiveFigures half, whole;
  ASSERT_TRUE(ArchiveStatistics(archive, {device, d + 600, d + 629, {}}, half));
  ASSERT_TRUE(ArchiveStatistics(archive, {device, d + 600, d + 659, {}}, whole));
  EXPECT_DOUBLE_EQ(half.Counts.Pulses(), 0.5);
  ExpectNear(half.MeanInterval(), whole.MeanInterval(), "half a record");
  EXPECT_NEAR(half.DoseInterval().High, whole.DoseInterval().High / 2, 1e-9);

  // Two K: 38,100 weighted pulses in 120 s; the interval is wider than Garwood's on 200 pulses
  // at their mean K, since the pulses at 2,54 weigh twice those at 1,27; the same from the day.
  for (const auto& [from, to] : {std::pair{d + 3 * 86400, d + 3 * 86400 + 119},
                                 std::pair{d + 3 * 86400, d + 4 * 86400 - 1}}) {
    ArchiveFigures two;
    ASSERT_TRUE(ArchiveStatistics(archive, {device, from, to, {}}, two));
    EXPECT_EQ(two.CountedPulses(), 200u);
    EXPECT_DOUBLE_EQ(two.Counts.WeightedPulses(), 38100);
    const Interval garwood = PoissonInterval(200);
    const double meanK = 190.5 * kRatePerPulse / 120;
    EXPECT_NEAR(two.MeanRate(), 200 * meanK, 1e-9);
    EXPECT_LT(two.MeanInterval().Low, garwood.Low * meanK * 0.998);
    EXPECT_GT(two.MeanInterval().High, garwood.High * meanK * 1.002);
    EXPECT_GT(two.MeanInterval().Low, garwood.Low * meanK * 0.95);
    EXPECT_LT(two.MeanInterval().High, garwood.High * meanK * 1.05);
  }

  // Nothing in the period: no counts, no interval.
  ArchiveFigures none;
  ASSERT_TRUE(ArchiveStatistics(archive, {device, d + 20000, d + 30000, {}}, none));
  EXPECT_TRUE(none.Counts.Empty());
  EXPECT_EQ(none.CountedPulses(), 0u);
  EXPECT_EQ(none.MeanInterval().High, 0);
  EXPECT_EQ(none.DoseInterval().High, 0);
  // The lines shown say no interval for it, and the mean's and dose's of a period with records.
  Language english;
  english.Set(Lang::English);
  for (const FigureLine& line : FigureLines(none, FigureUnit::Sievert, english))
    EXPECT_EQ(line.Value.find(" to "), std::string::npos) << line.Label << ": " << line.Value;
  ArchiveFigures some;
  ASSERT_TRUE(ArchiveStatistics(archive, {device, d, d + 20000, {}}, some));
  int withInterval = 0;
  for (const FigureLine& line : FigureLines(some, FigureUnit::Sievert, english))
    withInterval += line.Value.find(" to ") != std::string::npos;
  EXPECT_EQ(withInterval, 2);
}

std::string Date(uint32_t seconds) {
  const TimeRecord t = TimeRecordFromSeconds(seconds);
  char text[16];
  std::snprintf(text, sizeof text, "20%02u-%02u-%02u", t.Bytes[5] % 100u, t.Bytes[4] % 100u,
                t.Bytes[3] % 100u);
  return text;
}

// archive compare: a day of 20% more pulses against the day before, in JSON with a decimal
// point where the process writes a decimal comma, and in words; the same day against itself is
// no difference; two devices side by side get a calibration factor; a period without records
// and a bad confidence are refused.
TEST(ArchiveFigureCounts, TheCliComparesTwoPeriodsInPlainWords) {
  test::ScratchFolder folder("compare");
  const std::string path = (folder.path() / "a.sqlite3").string();
  {
    HistoryArchive archive;
    ASSERT_TRUE(archive.Open(path)) << archive.Error();
    // Two days of minutes: 50 pulses a minute, then 60.
    std::vector<HistoryRecord> records;
    for (uint32_t m = 0; m < 2 * 1440; ++m)
      records.push_back(Measurement(kDayStart + 60 * m, 60, m < 1440 ? 50 + m % 3 : 60 + m % 3));
    ASSERT_TRUE(archive.Merge(DownloadOf(records, 127)).Ok);
    // A second device beside it over the second day, reading 10% low.
    std::vector<HistoryRecord> low;
    for (uint32_t m = 1440; m < 2 * 1440; ++m)
      low.push_back(Measurement(kDayStart + 60 * m, 60, 54 + m % 3));
    ArchiveBatch other = DownloadOf(low, 127);
    other.Serial = "214-40000";
    other.Uid = "00000000000000000000FFFF";
    ASSERT_TRUE(archive.Merge(other).Ok);
  }
  archive_test::ArchiveForCli named(path);
  test::CommaDecimalLocale comma;
  const auto run = archive_test::RunCliCapturing;
  const std::string first = Date(kDayStart), second = Date(kDayStart + 86400);
  std::string out;
  ASSERT_EQ(run({"--json", "archive", "compare", "--device", "214-36587", "--from", second, "--to",
                 second, "--with-from", first, "--with-to", first},
                out),
            0)
      << out;
  // 61 pulses a minute on average over 51: a ratio of 1.196, 87,840 pulses over 73,440.
  EXPECT_NE(out.find("{\"confidence\":0.95,\"ratio\":1.19608,\"ratioLow\":1.18"), std::string::npos)
      << out;
  EXPECT_NE(out.find("\"different\":true,\"rateUnit\":\"uSv/h\""), std::string::npos) << out;
  EXPECT_NE(out.find("\"counts\":87840,\"mean\":"), std::string::npos) << out;
  EXPECT_NE(out.find("\"calibration\":null}"), std::string::npos) << out;
  EXPECT_EQ(out.find(','), out.find(",\"ratio\"")) << "a decimal comma in " << out;

  ASSERT_EQ(run({"archive", "compare", "--device", "214-36587", "--from", second, "--to", second,
                 "--with-from", first, "--with-to", first},
                out),
            0);
  EXPECT_NE(out.find("Ratio:           1.196 (1.184 to 1.208; 95%), p < 0.0001"), std::string::npos)
      << out;
  EXPECT_NE(out.find("p < 0.0001"), std::string::npos) << out;
  EXPECT_NE(out.find("Verdict:         higher by 20% (18% to 21%)"), std::string::npos) << out;
  ASSERT_EQ(run({"--lang", "ru", "archive", "compare", "--device", "214-36587", "--from", first,
                 "--to", first, "--with-from", second, "--with-to", second},
                out),
            0);
  EXPECT_NE(out.find("Вывод:           ниже на 16% (от 16% до 17%)"), std::string::npos) << out;
  EXPECT_NE(out.find("0,836 (0,828"), std::string::npos) << out;  // the Russian decimal comma

  // The same day twice: counting noise alone.
  ASSERT_EQ(run({"archive", "compare", "--device", "214-36587", "--from", first, "--to", first,
                 "--with-from", first, "--with-to", first, "--confidence", "0,9"},
                out),
            0);
  EXPECT_NE(out.find("Ratio:           1.000 (0.991 to 1.009; 90%), p = 1.00"), std::string::npos)
      << out;
  EXPECT_NE(out.find("no difference that counting noise does not explain"), std::string::npos)
      << out;

  // Two devices over the second day: the first reads 61/55 of the second's.
  ASSERT_EQ(run({"--json", "archive", "compare", "--device", "214-36587", "--with-device",
                 "214-40000", "--from", second, "--to", second},
                out),
            0);
  EXPECT_NE(out.find("\"calibration\":{\"factor\":0.90164,\"factorLow\":0.893"), std::string::npos)
      << out;
  EXPECT_NE(out.find("\"coefficient\":1.14508"), std::string::npos) << out;
  ASSERT_EQ(run({"archive", "compare", "--device", "214-36587", "--with-device", "214-40000",
                 "--from", second, "--to", second},
                out),
            0);
  EXPECT_NE(out.find("Calibration:     K 1.27 x 0.902 (0.893 to 0.910) = 1.15"), std::string::npos)
      << out;
  EXPECT_NE(out.find("Verdict:         higher by 10.9% (9.8% to 12.0%)"), std::string::npos) << out;
  EXPECT_NE(out.find("For ±5%:         00:56:29 of counting side by side"), std::string::npos)
      << out;

  // No records of the second device on the first day; a confidence out of range; no second
  // period or device.
  EXPECT_EQ(run({"archive", "compare", "--device", "214-36587", "--with-device", "214-40000",
                 "--from", first, "--to", first},
                out),
            1);
  EXPECT_NE(out.find("No records of S/N 214-40000"), std::string::npos) << out;
  EXPECT_EQ(run({"archive", "compare", "--with-from", first, "--confidence", "1"}, out), 2);
  EXPECT_EQ(run({"archive", "compare", "--from", first}, out), 2);
  EXPECT_NE(out.find("needs a second period"), std::string::npos) << out;
  // The options: a serial number in capitals, the confidence with either decimal mark, and
  // compare's options refused elsewhere.
  cli::CliOptions options;
  std::string error;
  ASSERT_TRUE(cli::ParseCommandLine(
      {"archive", "compare", "--with-device", "214-abcde", "--confidence", "0,99"}, options, error))
      << error;
  EXPECT_EQ(options.withDevice, "214-ABCDE");
  EXPECT_DOUBLE_EQ(options.confidence, 0.99);
  EXPECT_FALSE(cli::ParseCommandLine({"archive", "stats", "--with-from", first}, options, error));
  EXPECT_FALSE(
      cli::ParseCommandLine({"archive", "compare", "--with-device", "214"}, options, error));
  EXPECT_FALSE(cli::ParseCommandLine({"archive", "compare", "--with-to", first, "--run", "2"},
                                     options, error));
}

}  // namespace
}  // namespace dravion
