#include "archive/archive_period_counts.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "archive/archive_stats.h"
#include "archive/archive_support.h"
#include "archive/history_archive.h"
#include "cli/cli.h"
#include "cli/cli_options.h"
#include "device/device_time.h"
#include "support/comma_locale.h"
#include "support/scratch_folder.h"

namespace dravion {
namespace {

using archive_test::DownloadOf;
using archive_test::Measurement;
using archive_test::RecordStream;

constexpr uint32_t kDayStart = 799977600;  // a day's first second (device seconds)

// The counts of a period are those of the period's figures: records across its edges in part,
// two downloads of different K, a record in conflict left out, points counted; an empty period
// and a period of one record.
TEST(ArchivePeriodCounts, ThePeriodsCountsAreThoseOfItsFigures) {
  test::ScratchFolder folder("counts");
  HistoryArchive archive;
  ASSERT_TRUE(archive.Open((folder.path() / "a.sqlite3").string())) << archive.Error();
  const std::vector<HistoryRecord> stream = RecordStream(12000, kDayStart + 17);
  ASSERT_TRUE(archive.Merge(DownloadOf({stream.begin(), stream.begin() + 7000}, 127)).Ok);
  ASSERT_TRUE(archive.Merge(DownloadOf({stream.begin() + 6000, stream.end()}, 140)).Ok);
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

  for (const auto& [from, to] : std::vector<std::pair<uint32_t, uint32_t>>{
           {kDayStart, kDayStart + 86399},
           {stream[100].Start + 7, stream[6500].Start + 13},
           {stream[timed].Start - 3600, stream[timed].Start + 3600},
           {stream[3].Start, stream.back().Start + 100000}}) {
    SCOPED_TRACE(std::to_string(from) + "-" + std::to_string(to));
    ArchiveFigures figures;
    ASSERT_TRUE(ArchiveStatistics(archive, {device.Id, from, to, {}}, figures));
    PeriodCounts counts;
    ASSERT_TRUE(ReadPeriodCounts(archive, device, from, to, counts));
    EXPECT_EQ(counts.Seconds(), static_cast<double>(figures.Covered));
    EXPECT_NEAR(counts.WeightedPulses(), figures.WeightedPulses, 1e-6 * figures.WeightedPulses);
    EXPECT_NEAR(CountsMeanRate(counts), figures.MeanRate(), 1e-9 * figures.MeanRate());
    const Interval rate = CountsRateInterval(counts);
    EXPECT_LT(rate.Low, figures.MeanRate());
    EXPECT_GT(rate.High, figures.MeanRate());
  }

  // Before the first record: nothing.
  PeriodCounts none;
  ASSERT_TRUE(ReadPeriodCounts(archive, device, kDayStart - 86400, kDayStart - 1, none));
  EXPECT_TRUE(none.Empty());
  EXPECT_EQ(CountsRateInterval(none).High, 0);
  // One record of a minute: Garwood's interval on its pulses, at its K, over its seconds.
  const HistoryRecord& one = stream[20];
  ASSERT_EQ(one.Kind, kKindOnTime);
  PeriodCounts single;
  ASSERT_TRUE(ReadPeriodCounts(archive, device, one.Start, one.Start + one.Duration - 1, single));
  EXPECT_EQ(single.Pulses(), one.Pulses);
  const Interval garwood = PoissonInterval(one.Pulses);
  const double perPulse = RecordRate(1, one.Duration, 127);
  EXPECT_NEAR(CountsRateInterval(single).Low, garwood.Low * perPulse, 1e-9);
  EXPECT_NEAR(CountsRateInterval(single).High, garwood.High * perPulse, 1e-9);
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
TEST(ArchivePeriodCounts, TheCliComparesTwoPeriodsInPlainWords) {
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
