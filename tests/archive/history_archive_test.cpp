#include "archive/history_archive.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "archive/archive_files.h"
#include "archive/archive_session.h"
#include "archive/archive_stats.h"
#include "archive/archive_support.h"
#include "archive/history_csv_import.h"
#include "device/device_time.h"
#include "device/history_csv.h"
#include "device/history_records.h"
#include "services/language.h"
#include "support/scratch_folder.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace dravion {
namespace {

using archive_test::FileBytes;
using archive_test::RecordStream;
using archive_test::ReferenceTotals;
using archive_test::Weighted;
namespace fs = std::filesystem;

bool IsMeasurement(const HistoryRecord& r) {
  return r.Kind == kKindOnTime || r.Kind == kKindOnChange;
}

ArchiveBatch Download(const std::vector<HistoryRecord>& records, uint32_t k) {
  ArchiveBatch batch;
  batch.Serial = "214-36587";
  batch.Uid = "01:23:45:67:89:AB:CD:EF:01:23:45:67";
  batch.Coefficient = k;
  batch.Records = records;
  batch.Ring.RecordCount = static_cast<uint32_t>(records.size());
  return batch;
}

// The chart's source straight from raw records, for comparison.
class ReferencePeriods : public HistoryPeriodSource {
 public:
  explicit ReferencePeriods(const std::vector<Weighted>& records) : records_(records) {}
  void StartPeriods(uint32_t t) override { next_ = t; }
  PeriodTotals NextPeriod(uint32_t length) override {
    const PeriodTotals totals = ReferenceTotals(records_, next_, length);
    next_ += length;
    return totals;
  }

 private:
  const std::vector<Weighted>& records_;
  uint32_t next_ = 0;
};

// Every level's chart over the archive against the raw records, at views across their span.
void ExpectChartsMatch(HistoryArchive& archive, int64_t device, const std::vector<Weighted>& raw,
                       uint32_t from, uint32_t to) {
  Language language;
  language.Set(Lang::English);
  for (uint32_t t = from; t <= to; t += (to - from) / 7) {
    for (int level = kLevelMinute; level <= kLevelYear; ++level) {
      for (const bool maximum : {false, true}) {
        TimeRecord view = TimeRecordFromSeconds(t);
        TimeRecord same = view;
        const auto periods = archive.Periods(device);
        ReferencePeriods reference(raw);
        const HistoryChartData got =
            DrawHistoryChart(*periods, view, level, 127, maximum, language);
        const HistoryChartData want =
            DrawHistoryChart(reference, same, level, 127, maximum, language);
        ASSERT_EQ(got.Rate, want.Rate) << "level " << level << " at " << t;
        ASSERT_EQ(got.Coverage, want.Coverage) << "level " << level << " at " << t;
        ASSERT_EQ(got.Maximum, want.Maximum) << "level " << level << " at " << t;
      }
    }
  }
}

// An archive of `records` records whose pages in the middle of the file are overwritten.
::testing::AssertionResult MakeDamagedArchive(const std::string& path, uint32_t records) {
  {
    HistoryArchive archive;
    if (!archive.Open(path) || !archive.Merge(Download(RecordStream(records, 600000000), 127)).Ok)
      return ::testing::AssertionFailure() << archive.Error();
  }
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(static_cast<std::streamoff>(fs::file_size(path) / 2));
  file << std::string(3000, '\xA5');
  return ::testing::AssertionSuccess();
}

TEST(HistoryArchive, MergesKeepEveryRecordOnceChartAndExportFollowTheRawRecords) {
  test::ScratchFolder folder("archive");
  const std::string path = (folder.path() / "a.sqlite3").string();
  HistoryArchive archive;
  ASSERT_TRUE(archive.Open(path)) << archive.Error();
  EXPECT_TRUE(archive.MovedAside.empty());

  // Hour-crossing and day-crossing records: the stream starts 17 s into a minute.
  const uint32_t begin = 800000000 + 17;
  const std::vector<HistoryRecord> stream = RecordStream(15000, begin);
  const std::vector<HistoryRecord> first(stream.begin(), stream.begin() + 10000);
  const std::vector<HistoryRecord> second(stream.begin() + 5000, stream.end());
  auto measurements = [](auto from, auto to) {
    return static_cast<uint64_t>(std::count_if(from, to, IsMeasurement));
  };

  // The first download, alone: the archive's chart is the download's own, but for the pulses of
  // records cut by a bar's edge, which the download's chart shares in whole pulses (a bar lower
  // by up to a pulse per cut record) and the archive's in hundredths, as the figures do.
  MergeResult merged = archive.Merge(Download(first, 127));
  ASSERT_TRUE(merged.Ok) << merged.Error;
  EXPECT_EQ(merged.Added, measurements(first.begin(), first.end()));
  EXPECT_EQ(merged.AlreadyThere, 0u);
  EXPECT_EQ(merged.Conflicts, 0u);
  {
    std::vector<test::StoredRecord> stored;
    for (const HistoryRecord& r : first)
      stored.push_back({r.Start, r.Pulses, r.Duration, r.Kind, r.Status});
    HistoryRing ring;
    test::LoadRing(ring, stored, 0x0500);
    const int64_t device = archive.Devices().at(0).Id;
    Language language;
    for (const uint32_t t : {first[300].Start, first[4000].Start + 1234, first[9990].Start}) {
      for (int level = kLevelMinute; level <= kLevelYear; ++level) {
        TimeRecord a = TimeRecordFromSeconds(t), b = a;
        const auto periods = archive.Periods(device);
        const std::vector<ChartPoint> got =
            DrawHistoryChart(*periods, a, level, 127, true, language).Rate;
        const std::vector<ChartPoint> download =
            DrawHistoryChart(ring, b, level, 127, true, language).Rate;
        ASSERT_EQ(got.size(), download.size());
        for (size_t bar = 0; bar < got.size(); ++bar) {
          EXPECT_EQ(got[bar].Mark, download[bar].Mark) << level << " bar " << bar;
          EXPECT_EQ(got[bar].Colour, download[bar].Colour) << level << " bar " << bar;
          EXPECT_GE(got[bar].Value, download[bar].Value) << level << " bar " << bar;
          EXPECT_LE(got[bar].Value, download[bar].Value + (level == kLevelMinute ? 5
                                                           : level == kLevelHour ? 2
                                                                                 : 1))
              << level << " bar " << bar;
        }
        std::vector<Weighted> raw;
        for (const HistoryRecord& r : first) {
          if (IsMeasurement(r)) raw.push_back({r, 127});
        }
        ReferencePeriods reference(raw);
        TimeRecord c = TimeRecordFromSeconds(t);
        EXPECT_EQ(got, DrawHistoryChart(reference, c, level, 127, true, language).Rate) << level;
      }
    }
  }

  // The second overlaps the first by half, with another coefficient.
  merged = archive.Merge(Download(second, 131));
  ASSERT_TRUE(merged.Ok) << merged.Error;
  EXPECT_EQ(merged.Added, measurements(stream.begin() + 10000, stream.end()));
  EXPECT_EQ(merged.AlreadyThere, measurements(stream.begin() + 5000, stream.begin() + 10000));
  // Again: nothing new.
  merged = archive.Merge(Download(second, 131));
  EXPECT_EQ(merged.Added, 0u);
  EXPECT_EQ(merged.AlreadyThere, measurements(second.begin(), second.end()));

  // A record that differs from the stored one of its start is kept beside it and counted; two
  // identical points of one second are two records, stored twice, and found twice later.
  HistoryRecord differing = stream[12000];
  ASSERT_EQ(differing.Kind, kKindOnTime);
  differing.Pulses += 5;
  HistoryRecord point;
  point.Kind = kKindOnChange;
  point.Status = 0;
  point.Start = stream.back().Start + 500;
  point.Duration = 0;
  point.Pulses = 3;
  // (A download holds records the archive has; one that holds none, all before its newest
  // record, would be a clock set back.)
  ASSERT_EQ(stream[11999].Kind, kKindOnTime);
  merged = archive.Merge(Download({stream[11999], differing, point, point}, 131));
  EXPECT_EQ(merged.Added, 3u);
  EXPECT_EQ(merged.AlreadyThere, 1u);
  EXPECT_EQ(merged.Conflicts, 1u);
  EXPECT_FALSE(merged.ClockSetBack);
  merged = archive.Merge(Download({point, point}, 131));
  EXPECT_EQ(merged.Added, 0u);
  EXPECT_EQ(merged.AlreadyThere, 2u);

  const std::vector<ArchiveDevice> devices = archive.Devices();
  ASSERT_EQ(devices.size(), 1u);
  const ArchiveDevice& d = devices[0];
  EXPECT_EQ(d.Records, measurements(stream.begin(), stream.end()) + 3);
  EXPECT_EQ(d.Conflicts, 1u);
  EXPECT_EQ(d.Coefficient, 131u);
  EXPECT_EQ(d.Downloads, 5u);
  EXPECT_EQ(d.LastStart, point.Start);

  // The chart: every level, views across the span, against the raw records (the record in
  // conflict stays out; the older half weighs 1,27, the newer 1,31).
  std::vector<Weighted> raw;
  for (size_t i = 0; i < stream.size(); ++i) {
    if (IsMeasurement(stream[i])) raw.push_back({stream[i], i < 10000 ? 127u : 131u});
  }
  raw.push_back({point, 131});
  raw.push_back({point, 131});
  ExpectChartsMatch(archive, d.Id, raw, begin - 86400, point.Start + 3600);

  // The export: Save CSV's lines for the records newest first, each with its own coefficient,
  // rows counted from 1; the record in conflict is there too (a line of its own).
  const std::string csv = (folder.path() / "all.csv").string();
  const ExportResult exported = archive.ExportCsv({}, csv);
  ASSERT_TRUE(exported.Ok) << exported.Error;
  std::vector<std::pair<HistoryRecord, uint32_t>> expected;
  for (const Weighted& w : raw) {
    if (w.Record.Status == 0) expected.push_back({w.Record, w.K});
  }
  expected.push_back({differing, 131});
  std::stable_sort(expected.begin(), expected.end(),
                   [](const auto& a, const auto& b) { return a.first.Start > b.first.Start; });
  std::string want;
  uint32_t row = 0;
  for (const auto& [r, k] : expected)
    want += CsvLine(r, ++row, k);
  const std::string got = FileBytes(csv);
  EXPECT_EQ(exported.Lines, expected.size());
  ASSERT_EQ(got.size(), want.size());
  // Lines of one start may come in another order than this sort's: compare sorted lines too.
  if (got != want) {
    std::vector<std::string> a, b;
    for (size_t i = 0, j; i < got.size(); i = j + 2)
      a.push_back(got.substr(i, (j = got.find("\r\n", i)) - i));
    for (size_t i = 0, j; i < want.size(); i = j + 2)
      b.push_back(want.substr(i, (j = want.find("\r\n", i)) - i));
    EXPECT_EQ(a.front(), b.front());
    EXPECT_EQ(a.back(), b.back());
  }
  // A range: one day's records only.
  ArchiveRange day;
  day.Device = d.Id;
  day.From = stream[1000].Start;
  day.To = stream[1000].Start + 86399;
  ASSERT_TRUE(archive.ExportCsv(day, csv).Ok);
  const std::string dayText = FileBytes(csv);
  EXPECT_EQ(dayText.substr(0, dayText.find(';')),
            std::to_string(std::find_if(expected.begin(), expected.end(), [&](const auto& e) {
                             return e.first.Start <= day.To;
                           })->first.Start));

  // A file that cannot be written leaves the one there as it was.
  std::ofstream(csv, std::ios::trunc) << "keep";
  const ExportResult refused =
      archive.ExportCsv({}, csv, [](FileStep step) { return step != FileStep::Write; });
  EXPECT_FALSE(refused.Ok);
  EXPECT_EQ(refused.Failed, FileStep::Write);
  EXPECT_EQ(FileBytes(csv), "keep");

  // The messages.
  Language language;
  language.Set(Lang::English);
  MergeResult shown;
  shown.Added = 1204;
  shown.AlreadyThere = 64076;
  EXPECT_EQ(MergeMessage(shown, language), "1,204 new records, 64,076 already in the archive");
  language.Set(Lang::Russian);
  EXPECT_EQ(MergeMessage(shown, language),
            "1\xC2\xA0"
            "204 новые записи, 64\xC2\xA0"
            "076 уже были в архиве");
}

// A record is already there only when start, duration, pulses and status all match; a record
// that is not the chart's (a status, or itself in conflict) never pushes a usable one aside.
TEST(HistoryArchive, OnlyAnEqualRecordIsAlreadyThereAndOnlyChartRecordsConflict) {
  test::ScratchFolder folder("archive");
  HistoryArchive archive;
  ASSERT_TRUE(archive.Open((folder.path() / "a.sqlite3").string())) << archive.Error();
  auto record = [](uint32_t start, uint16_t duration, uint32_t pulses, uint8_t status) {
    HistoryRecord r;
    r.Kind = kKindOnTime;
    r.Start = start;
    r.Duration = duration;
    r.Pulses = pulses;
    r.Status = status;
    return r;
  };
  const uint32_t t = 800000000;
  ASSERT_TRUE(
      archive
          .Merge(Download(
              {record(t, 60, 20, 0), record(t + 600, 60, 5, 2), record(t + 1200, 60, 40, 0)}, 127))
          .Ok);
  // The same start and pulses over another duration is another record, kept beside the first.
  MergeResult merged =
      archive.Merge(Download({record(t, 30, 20, 0), record(t + 1200, 60, 40, 0)}, 127));
  EXPECT_EQ(merged.AlreadyThere, 1u);
  EXPECT_EQ(merged.Added, 1u);
  EXPECT_EQ(merged.Conflicts, 1u);
  // A usable record where only an unusable one was stored is the chart's; an unusable one where
  // a usable one is stored is no conflict either.
  merged = archive.Merge(Download(
      {record(t, 60, 20, 0), record(t + 600, 60, 9, 0), record(t + 1200, 60, 41, 1)}, 127));
  EXPECT_EQ(merged.Added, 2u);
  EXPECT_EQ(merged.Conflicts, 0u);
  const int64_t device = archive.Devices().at(0).Id;
  const auto periods = archive.Periods(device);
  periods->StartPeriods(t + 600);
  const PeriodTotals usable = periods->NextPeriod(60);
  EXPECT_EQ(usable.WeightedPulses, 9u * 127);
  EXPECT_EQ(usable.Covered, 60u);
  periods->StartPeriods(t);
  EXPECT_EQ(periods->NextPeriod(60).WeightedPulses, 20u * 127);
}

// The device's clock set back (battery out): it records again over times the archive holds. Its
// records after that are a new run of the device, never "already there" nor hidden as
// conflicts; later downloads put each part of the ring into its own run, and a copy of the
// archive keeps the runs.
TEST(HistoryArchive, RecordsAfterTheClockWasSetBackAreKeptAsANewRun) {
  test::ScratchFolder folder("archive");
  const std::string path = (folder.path() / "a.sqlite3").string();
  HistoryArchive archive;
  ASSERT_TRUE(archive.Open(path)) << archive.Error();
  auto measurements = [](const std::vector<HistoryRecord>& records) {
    return static_cast<uint64_t>(std::count_if(records.begin(), records.end(), IsMeasurement));
  };
  auto download = [](std::vector<HistoryRecord> ring, const std::vector<HistoryRecord>& newer,
                     uint32_t deviceTime) {
    ring.insert(ring.end(), newer.begin(), newer.end());
    ArchiveBatch batch = Download(ring, 127);
    batch.DeviceTime = deviceTime;
    return batch;
  };
  const uint32_t t0 = 800000000;
  const std::vector<HistoryRecord> before = RecordStream(3000, t0);
  const uint32_t end = before.back().Start + before.back().Duration;
  ASSERT_TRUE(archive.Merge(download(before, {}, end + 5)).Ok);

  // Just after the set back: nothing new yet, but the device's time lies behind the archive.
  MergeResult merged = archive.Merge(download(before, {}, t0 + 100));
  ASSERT_TRUE(merged.Ok) << merged.Error;
  EXPECT_TRUE(merged.ClockSetBack);
  EXPECT_EQ(merged.NewRunRecords, 0u);
  EXPECT_EQ(merged.AlreadyThere, measurements(before));
  Language language;
  language.Set(Lang::English);
  EXPECT_NE(ClockSetBackMessage(merged, language).find("set its clock"), std::string::npos);

  // Then the device records from t0 again: the first half with the counts of the records there
  // (another time's), the rest with others.
  std::vector<HistoryRecord> after(before.begin(), before.begin() + 1000);
  for (size_t i = 500; i < after.size(); ++i)
    after[i].Pulses += 1;
  const uint32_t afterEnd = after.back().Start + after.back().Duration;
  merged = archive.Merge(download(before, after, afterEnd + 5));
  ASSERT_TRUE(merged.Ok) << merged.Error;
  EXPECT_TRUE(merged.ClockSetBack);
  EXPECT_EQ(merged.AlreadyThere, measurements(before));
  EXPECT_EQ(merged.Added, measurements(after));
  EXPECT_EQ(merged.NewRunRecords, measurements(after));
  EXPECT_EQ(merged.Conflicts, 0u);
  const uint32_t firstAfter = std::find_if(after.begin(), after.end(), IsMeasurement)->Start;
  EXPECT_EQ(merged.NewRunStart, firstAfter);
  EXPECT_EQ(ClockSetBackMessage(merged, language),
            "The device's clock was set back (battery out?): " +
                GroupedNumber(measurements(after), language) + " records from " +
                FormatDeviceDate(TimeRecordFromSeconds(firstAfter)) + " " +
                FormatDeviceClock(TimeRecordFromSeconds(firstAfter)) +
                " on were kept as a new run of the device; set its clock");

  // The next download: the old records, those after the set back, and newer ones; each goes to
  // its run, the newer ones continue the second.
  const std::vector<HistoryRecord> later = RecordStream(400, afterEnd + 60);
  std::vector<HistoryRecord> both = after;
  both.insert(both.end(), later.begin(), later.end());
  merged = archive.Merge(download(before, both, later.back().Start + 3600));
  ASSERT_TRUE(merged.Ok) << merged.Error;
  EXPECT_FALSE(merged.ClockSetBack);
  EXPECT_EQ(merged.Added, measurements(later));
  EXPECT_EQ(merged.AlreadyThere, measurements(before) + measurements(after));

  std::vector<ArchiveDevice> devices = archive.Devices();
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].Serial, devices[1].Serial);
  EXPECT_EQ(devices[0].Uid, devices[1].Uid);
  EXPECT_EQ(devices[0].Run, 1);
  EXPECT_EQ(devices[1].Run, 2);
  EXPECT_EQ(devices[1].Runs, 2);
  EXPECT_EQ(devices[0].Records, measurements(before));
  EXPECT_EQ(devices[1].Records, measurements(after) + measurements(later));
  EXPECT_EQ(archive.FindDevice(devices[0].Serial, devices[0].Uid)->Id, devices[1].Id);
  // Each run's chart is its own records'.
  std::vector<Weighted> raw;
  for (const HistoryRecord& r : both) {
    if (IsMeasurement(r)) raw.push_back({r, 127});
  }
  ExpectChartsMatch(archive, devices[1].Id, raw, t0, later.back().Start);
  // The export of the device without a run named: the newest run.
  const std::string csv = (folder.path() / "out.csv").string();
  const ExportResult exported = archive.ExportCsv({}, csv);
  ASSERT_TRUE(exported.Ok) << exported.Error;
  ArchiveCounts counts;
  ASSERT_TRUE(archive.Count(devices[1].Id, counts));
  EXPECT_EQ(exported.Lines, counts.Records);

  // Another archive made of this file keeps the runs, also when it is merged twice.
  HistoryArchive other;
  ASSERT_TRUE(other.Open((folder.path() / "b.sqlite3").string()));
  uint64_t total = 0, carried = 0;
  for (int time = 0; time < 2; ++time) {
    ASSERT_TRUE(other.MergeArchiveFile(path, total, carried)) << other.Error();
    EXPECT_EQ(carried, total);
    const std::vector<ArchiveDevice> copied = other.Devices();
    ASSERT_EQ(copied.size(), 2u);
    EXPECT_EQ(copied[0].Records, devices[0].Records);
    EXPECT_EQ(copied[1].Records, devices[1].Records);
    EXPECT_EQ(copied[1].Conflicts, 0u);
  }
}

// Pages overwritten in the middle of the file: the export fails, names the archive, keeps the
// file that was there and notes the damage.
TEST(HistoryArchive, AnExportThatMeetsADamagedPageFailsAndKeepsTheEarlierFile) {
  test::ScratchFolder folder("archive");
  const std::string path = (folder.path() / "a.sqlite3").string();
  ASSERT_TRUE(MakeDamagedArchive(path, 20000));
  HistoryArchive archive;
  ASSERT_TRUE(archive.Open(path)) << archive.Error();
  const std::string csv = (folder.path() / "out.csv").string();
  std::ofstream(csv, std::ios::binary) << "earlier";
  const ExportResult exported = archive.ExportCsv({}, csv);
  EXPECT_FALSE(exported.Ok);
  EXPECT_NE(exported.Error.find(path), std::string::npos) << exported.Error;
  EXPECT_TRUE(archive.Damaged());
  EXPECT_EQ(FileBytes(csv), "earlier");

  // The chart's periods and the counts meet the same page and say so.
  const ArchiveDevice device = archive.Devices().at(0);
  ArchiveCounts counts;
  EXPECT_FALSE(archive.Count(device.Id, counts));
  EXPECT_TRUE(archive.ReadFailed());
  {
    const auto periods = archive.Periods(device.Id);
    periods->StartPeriods(device.FirstStart);
    for (uint32_t t = device.FirstStart; t <= device.LastEnd; t += 600)
      periods->NextPeriod(600);
  }
  EXPECT_TRUE(archive.ReadFailed());
  EXPECT_NE(archive.Error().find(path), std::string::npos) << archive.Error();

  // Starting again carries over every record that still reads, and says how many of how many;
  // the file moved aside gives the same records to an import.
  ASSERT_TRUE(archive.StartAgain()) << archive.Error();
  EXPECT_EQ(archive.CarryTotal, device.Records);
  EXPECT_GT(archive.CarriedOver, device.Records / 2);
  EXPECT_LT(archive.CarriedOver, device.Records);
  ASSERT_TRUE(archive.Count(archive.Devices().at(0).Id, counts));
  EXPECT_EQ(counts.Records + counts.Unusable, archive.CarriedOver);
  Language language;
  language.Set(Lang::English);
  EXPECT_NE(MovedAsideMessage(archive, language)
                .find(GroupedNumber(archive.CarriedOver, language) + " of " +
                      GroupedNumber(device.Records, language) + " records carried over"),
            std::string::npos)
      << MovedAsideMessage(archive, language);
  HistoryArchive other;
  ASSERT_TRUE(other.Open((folder.path() / "b.sqlite3").string()));
  uint64_t total = 0, carried = 0;
  ASSERT_TRUE(other.MergeArchiveFile(archive.MovedAside, total, carried)) << other.Error();
  EXPECT_EQ(total, device.Records);
  EXPECT_EQ(carried, archive.CarriedOver);
  // A file that is no archive is refused.
  EXPECT_FALSE(other.MergeArchiveFile(csv, total, carried));
}

// A record far from the others does not make the merge read every stored record in between.
TEST(HistoryArchive, AMergeReadsOnlyTheStoredRecordsWhereTheBatchHasRecords) {
  test::ScratchFolder folder("archive");
  HistoryArchive archive;
  ASSERT_TRUE(archive.Open((folder.path() / "a.sqlite3").string()));
  const std::vector<HistoryRecord> stream = RecordStream(30000, 600000000);
  ASSERT_TRUE(archive.Merge(Download(stream, 127)).Ok);
  std::vector<HistoryRecord> batch(stream.end() - 10, stream.end());
  HistoryRecord stray = stream.front();
  stray.Kind = kKindOnTime;
  stray.Start = 1000;  // the year 2000
  batch.insert(batch.begin(), stray);
  const MergeResult merged = archive.Merge(Download(batch, 127));
  ASSERT_TRUE(merged.Ok) << merged.Error;
  EXPECT_EQ(merged.Added, 1u);
  EXPECT_LE(merged.Compared, 10u);
}

TEST(HistoryArchive, ImportTakesSaveCsvFilesWholeOrNotAtAll) {
  // A file as Save CSV writes it, newest first.
  const std::vector<HistoryRecord> stream = RecordStream(600, 700000000);
  std::string text;
  uint32_t row = 0;
  for (auto r = stream.rbegin(); r != stream.rend(); ++r) {
    if (r->Kind == kKindOnTime || r->Kind == kKindOnChange) {
      if (r->Status == 0) text += CsvLine(*r, ++row, 127);
    }
  }
  HistoryCsvFile file = ParseHistoryCsv(text);
  ASSERT_TRUE(file.Ok) << file.Line << ": " << file.Reason;
  ASSERT_EQ(file.Records.size(), row);
  EXPECT_EQ(file.Records.front().Start, stream.front().Start);  // oldest first
  EXPECT_EQ(file.Coefficients.front(), 127);

  // Lines that are not a record line: refused at their line, nothing taken.
  const size_t third = text.find("\r\n", text.find("\r\n") + 2) + 2;  // line 3 starts here
  const size_t thirdEnd = text.find("\r\n", third);
  const std::string line3 = text.substr(third, thirdEnd - third);
  auto withLine3 = [&](const std::string& replacement) {
    return text.substr(0, third) + replacement + text.substr(thirdEnd);
  };
  struct Case {
    std::string line;
    const char* reason;
  };
  std::string wrongDate = line3;
  wrongDate[wrongDate.find('.') - 1] ^= 1;
  const std::vector<Case> cases = {
      {line3.substr(0, line3.rfind(';')), "fields"},
      {wrongDate, "date"},
      {"x" + line3, "start"},
      {line3 + ";", "fields"},
      {"", "empty"},
      {line3.substr(0, line3.find("=E")) + "=E3*G3*H3/(D3*F3*I4)", "formula"},
  };
  for (const Case& c : cases) {
    const HistoryCsvFile bad = ParseHistoryCsv(withLine3(c.line));
    EXPECT_FALSE(bad.Ok) << c.line;
    EXPECT_EQ(bad.Line, 3u) << c.line;
    EXPECT_NE(bad.Reason.find(c.reason), std::string::npos) << bad.Reason;
    EXPECT_TRUE(bad.Records.empty());
  }
  EXPECT_FALSE(ParseHistoryCsv("").Ok);
  // A byte-order mark (a file saved again by another program) and an empty last line are named.
  const HistoryCsvFile marked = ParseHistoryCsv("\xEF\xBB\xBF" + text);
  EXPECT_EQ(marked.Line, 1u);
  EXPECT_NE(marked.Reason.find("byte-order mark"), std::string::npos) << marked.Reason;
  const HistoryCsvFile trailing = ParseHistoryCsv(text + "\r\n");
  EXPECT_FALSE(trailing.Ok);
  EXPECT_EQ(trailing.Line, row + 1);
  EXPECT_NE(trailing.Reason.find("empty line at the end"), std::string::npos) << trailing.Reason;
  // LF line ends and a last line without one are taken.
  std::string unix = text;
  for (size_t at; (at = unix.find("\r\n")) != std::string::npos;)
    unix.erase(at, 1);
  unix.pop_back();
  EXPECT_EQ(ParseHistoryCsv(unix).Records.size(), row);

  // Imported records and the same records downloaded later are one record.
  test::ScratchFolder folder("archive");
  HistoryArchive archive;
  ASSERT_TRUE(archive.Open((folder.path() / "a.sqlite3").string()));
  ArchiveBatch import;
  import.Serial = "214-36587";
  import.File = "old.csv";
  import.Coefficient = 127;
  import.Records = file.Records;
  import.Coefficients = file.Coefficients;
  MergeResult merged = archive.Merge(import);
  ASSERT_TRUE(merged.Ok) << merged.Error;
  EXPECT_EQ(merged.Added, row);
  ArchiveBatch download = Download(stream, 127);
  merged = archive.Merge(download);
  EXPECT_EQ(merged.AlreadyThere, row);
  EXPECT_EQ(merged.Conflicts, 0u);
  ASSERT_EQ(archive.Devices().size(), 1u);  // the imported device took the identifier
  EXPECT_EQ(archive.Devices()[0].Uid, download.Uid);
}

// The usable measurements of a stream (what a CSV file holds).
std::vector<HistoryRecord> CsvRecords(const std::vector<HistoryRecord>& stream) {
  std::vector<HistoryRecord> records;
  for (const HistoryRecord& r : stream) {
    if (IsMeasurement(r) && r.Status == 0) records.push_back(r);
  }
  return records;
}

// Writes records (oldest first) as Save CSV does: newest first, rows numbered from 1.
void WriteCsv(const fs::path& path, const std::vector<HistoryRecord>& records, uint32_t k) {
  std::ofstream out(path, std::ios::binary);
  uint32_t row = 0;
  for (auto r = records.rbegin(); r != records.rend(); ++r)
    out << CsvLine(*r, ++row, k);
}

CsvImportResult ImportCsv(HistoryArchive& archive, const fs::path& path, size_t partRecords,
                          size_t pieceBytes) {
  FileReader file;
  std::string error;
  EXPECT_TRUE(OpenFileToRead(path.string(), file, error)) << error;
  const CsvImportPlan plan = PlanCsvImport(file, partRecords, pieceBytes);
  EXPECT_TRUE(plan.Ok) << plan.ReadError << plan.Line << ": " << plan.Reason;
  ArchiveBatch batch;
  batch.Serial = "214-36587";
  batch.File = path.string();
  Language language;
  std::string notice;
  return ImportCsvParts(archive, file, plan, batch, language, notice, pieceBytes);
}

TEST(HistoryArchive, ALongCsvIsImportedPartByPartEveryRecordOnce) {
  test::ScratchFolder folder("archive");
  const std::vector<HistoryRecord> records = CsvRecords(RecordStream(330000, 700000000 + 17));
  WriteCsv(folder.path() / "long.csv", records, 127);
  HistoryArchive archive;
  ASSERT_TRUE(archive.Open((folder.path() / "a.sqlite3").string())) << archive.Error();
  for (const bool again : {false, true}) {
    const CsvImportResult imported =
        ImportCsv(archive, folder.path() / "long.csv", kImportPartRecords, kImportPieceBytes);
    ASSERT_TRUE(imported.Ok) << imported.Error;
    EXPECT_GE(imported.PartsMerged, records.size() / kImportPartRecords);
    EXPECT_EQ(imported.Merged.Added, again ? 0u : records.size());
    EXPECT_EQ(imported.Merged.AlreadyThere, again ? records.size() : 0u);
    EXPECT_EQ(imported.Merged.Conflicts, 0u);
    EXPECT_FALSE(imported.Merged.ClockSetBack);
    const std::vector<ArchiveDevice> devices = archive.Devices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].Downloads, again ? 2u : 1u);  // a file is one import, whatever its parts
    ArchiveCounts counts;
    ASSERT_TRUE(archive.Count(devices[0].Id, counts));
    EXPECT_EQ(counts.Records, records.size());
    EXPECT_EQ(counts.Conflicts, 0u);
  }
}

TEST(HistoryArchive, PartsAndPiecesOfACsvFileMergeAsTheWholeFileDoes) {
  test::ScratchFolder folder("archive");
  // Hour- and day-crossing records; one record twice (taken once, as in a file merged whole),
  // where a part would begin.
  std::vector<HistoryRecord> records = CsvRecords(RecordStream(9000, 800000000 + 17));
  std::vector<Weighted> raw;
  for (const HistoryRecord& r : records)
    raw.push_back({r, 127});
  const size_t parts = 700;
  records.insert(records.end() - parts, *(records.end() - parts));
  WriteCsv(folder.path() / "h.csv", records, 127);
  // The device's clock set back after these: further records at times already passed, as many
  // as two parts, then at the end of a part, and then inside one.
  std::vector<HistoryRecord> after = CsvRecords(RecordStream(2 * parts + 100, 800000000 - 86400));
  std::vector<HistoryRecord> setBack = records;
  setBack.insert(setBack.end(), after.begin(), after.begin() + 2 * parts);
  WriteCsv(folder.path() / "set-back-at-part.csv", setBack, 127);
  setBack.insert(setBack.end(), after.begin() + 2 * parts, after.end());
  WriteCsv(folder.path() / "set-back-in-part.csv", setBack, 127);
  const std::map<std::string, uint64_t> newRun = {{"set-back-at-part.csv", 2 * parts},
                                                  {"set-back-in-part.csv", after.size()}};

  std::vector<std::pair<CsvImportResult, std::vector<ArchiveDevice>>> outcomes;
  for (const char* name : {"set-back-at-part.csv", "set-back-in-part.csv"}) {
    for (const bool whole : {true, false}) {
      HistoryArchive archive;
      const std::string path =
          (folder.path() / (std::string(name) + (whole ? ".whole" : ".parts"))).string();
      ASSERT_TRUE(archive.Open(path)) << archive.Error();
      // Lines split across pieces of 1,000 bytes; parts begin inside an hour and a day.
      const CsvImportResult imported =
          ImportCsv(archive, folder.path() / name, whole ? 1000000 : parts, whole ? 1 << 20 : 1000);
      ASSERT_TRUE(imported.Ok) << imported.Error;
      EXPECT_EQ(imported.PartsMerged > 1, !whole);
      const std::vector<ArchiveDevice> devices = archive.Devices();
      ASSERT_EQ(devices.size(), 2u) << name;
      EXPECT_EQ(devices[1].FirstStart, after.front().Start);
      ExpectChartsMatch(archive, devices[0].Id, raw, records.front().Start, records.back().Start);
      if (!whole) {
        const std::pair<CsvImportResult, std::vector<ArchiveDevice>>& w = outcomes.back();
        EXPECT_EQ(imported.Merged.Added, w.first.Merged.Added) << name;
        EXPECT_EQ(imported.Merged.Conflicts, w.first.Merged.Conflicts) << name;
        EXPECT_EQ(imported.Merged.NewRunRecords, w.first.Merged.NewRunRecords) << name;
        for (size_t d = 0; d < devices.size(); ++d)
          EXPECT_EQ(devices[d].Records, w.second[d].Records) << name << " run " << d + 1;
      }
      EXPECT_EQ(imported.Merged.Conflicts, 0u);
      EXPECT_EQ(imported.Merged.AlreadyThere, 1u);
      EXPECT_TRUE(imported.Merged.ClockSetBack) << name;
      EXPECT_EQ(imported.Merged.NewRunStart, after.front().Start);
      EXPECT_EQ(imported.Merged.NewRunRecords, newRun.at(name)) << name;
      outcomes.emplace_back(imported, devices);
    }
  }
}

// Two saved files put together, their common days twice: every record is taken once, the
// repeats count as already there, and nothing looks like a clock set back; whole or in parts.
TEST(HistoryArchive, ACsvHoldingRecordsTwiceTakesEachOnce) {
  test::ScratchFolder folder("archive");
  const std::vector<HistoryRecord> records = CsvRecords(RecordStream(3000, 800000000 + 17));
  std::vector<HistoryRecord> joined(records.begin(), records.begin() + 2000);
  joined.insert(joined.end(), records.begin() + 1000, records.end());
  WriteCsv(folder.path() / "joined.csv", joined, 127);
  const uint64_t repeats = joined.size() - records.size();
  for (const bool whole : {true, false}) {
    SCOPED_TRACE(whole ? "whole" : "in parts");
    HistoryArchive archive;
    ASSERT_TRUE(archive.Open((folder.path() / (whole ? "w.sqlite3" : "p.sqlite3")).string()));
    const CsvImportResult imported =
        ImportCsv(archive, folder.path() / "joined.csv", whole ? 1000000 : 300, 1000);
    ASSERT_TRUE(imported.Ok) << imported.Error;
    EXPECT_EQ(imported.Merged.Added, records.size());
    EXPECT_EQ(imported.Merged.AlreadyThere, repeats);
    EXPECT_EQ(imported.Merged.Conflicts, 0u);
    EXPECT_FALSE(imported.Merged.ClockSetBack);
    EXPECT_EQ(imported.Merged.NewRunRecords, 0u);
    const std::vector<ArchiveDevice> devices = archive.Devices();
    ASSERT_EQ(devices.size(), 1u);
    ArchiveCounts counts;
    ASSERT_TRUE(archive.Count(devices[0].Id, counts));
    EXPECT_EQ(counts.Records, records.size());
  }
}

// The figures of whole days kept in the archive: a merge that adds only a record of no pulses
// and no time still changes its day's figures; rows kept by a program with other rules for them
// (or before the rules were written down) are made again.
TEST(HistoryArchive, KeptDayFiguresFollowEveryMergeAndTheRulesTheyWereMadeBy) {
  test::ScratchFolder folder("archive");
  const std::string path = (folder.path() / "a.sqlite3").string();
  constexpr uint32_t kDay0 = 799977600;  // a day's first second
  HistoryArchive archive;
  ASSERT_TRUE(archive.Open(path)) << archive.Error();
  const std::vector<HistoryRecord> records = RecordStream(3 * 1440, kDay0 + 30);
  ASSERT_TRUE(archive.Merge(Download(records, 127)).Ok);
  const int64_t device = archive.Devices().at(0).Id;
  FigureRange range;
  range.Device = device;
  range.From = kDay0 + 86400;
  range.To = kDay0 + 2 * 86400 - 1;
  ArchiveFigures before;
  ASSERT_TRUE(ArchiveStatistics(archive, range, before)) << archive.Error();

  HistoryRecord point = archive_test::Measurement(kDay0 + 86400 + 4000 + 7, 0, 0);
  std::vector<HistoryRecord> more = records;
  more.insert(std::upper_bound(
                  more.begin(), more.end(), point,
                  [](const HistoryRecord& a, const HistoryRecord& b) { return a.Start < b.Start; }),
              point);
  const MergeResult merged = archive.Merge(Download(more, 127));
  ASSERT_TRUE(merged.Ok) << merged.Error;
  ASSERT_EQ(merged.Added, 1u);
  ArchiveFigures after;
  ASSERT_TRUE(ArchiveStatistics(archive, range, after));
  EXPECT_EQ(after.Records, before.Records + 1);
  EXPECT_EQ(after.Covered, before.Covered);

  for (const char* rules :
       {"UPDATE figure_days_rules SET rules=1", "DROP TABLE figure_days_rules"}) {
    SCOPED_TRACE(rules);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(
        sqlite3_exec(db, "UPDATE figure_days SET records=records+100", nullptr, nullptr, nullptr),
        SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, rules, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    ArchiveFigures again;
    ASSERT_TRUE(ArchiveStatistics(archive, range, again));
    EXPECT_EQ(again.Records, after.Records);
  }
}

TEST(HistoryCsv, AReaderFedInPiecesReadsAsTheWholeTextIsRead) {
  const std::vector<HistoryRecord> records = CsvRecords(RecordStream(400, 700000000));
  std::string text;
  uint32_t row = 0;
  for (auto r = records.rbegin(); r != records.rend(); ++r)
    text += CsvLine(*r, ++row, 127);
  text.erase(text.size() - 2);  // the last line without its line end
  const HistoryCsvFile whole = ParseHistoryCsv(text);
  ASSERT_TRUE(whole.Ok);
  for (const size_t piece : {size_t{1}, size_t{7}, size_t{64}}) {
    HistoryCsvReader reader;
    std::vector<HistoryRecord> got;
    std::vector<uint64_t> starts;
    reader.OnRecord = [&](const HistoryRecord& r, uint16_t k, uint64_t lineStart) {
      EXPECT_EQ(k, 127);
      got.insert(got.begin(), r);
      starts.push_back(lineStart);
    };
    for (size_t at = 0; at < text.size(); at += piece)
      ASSERT_TRUE(reader.Feed(std::string_view(text).substr(at, piece))) << reader.Reason;
    ASSERT_TRUE(reader.Finish()) << reader.Reason;
    ASSERT_EQ(got.size(), whole.Records.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].Start, whole.Records[i].Start);
      EXPECT_EQ(got[i].Pulses, whole.Records[i].Pulses);
    }
    EXPECT_EQ(starts[1], text.find('\n') + 1);
    // A bad line split across pieces is refused at its number.
    std::string bad = text;
    bad[starts[5] + 3] = 'x';
    HistoryCsvReader refusing;
    bool fed = true;
    for (size_t at = 0; fed && at < bad.size(); at += piece)
      fed = refusing.Feed(std::string_view(bad).substr(at, piece));
    EXPECT_FALSE(fed && refusing.Finish());
    EXPECT_EQ(refusing.Line, 6u);
  }
  // A line without end is refused once it is longer than any record line, not held on.
  HistoryCsvReader endless;
  const std::string noLineEnd(1000, '1');
  bool fed = true;
  for (int i = 0; fed && i < 100; ++i)
    fed = endless.Feed(noLineEnd);
  EXPECT_FALSE(fed);
  EXPECT_EQ(endless.Line, 1u);
}

// The files in the archive's folder other than the archive itself and its -wal and -shm.
std::vector<std::string> FilesBeside(const std::string& path) {
  std::vector<std::string> names;
  const fs::path archive(path);
  for (const auto& entry : fs::directory_iterator(archive.parent_path())) {
    const std::string name = entry.path().filename().string();
    const std::string own = archive.filename().string();
    if (name != own && name != own + "-wal" && name != own + "-shm") names.push_back(name);
  }
  return names;
}

// Only the program's own archive is ever moved aside, only when it is damaged, and only while
// no other program has it open; a file of a newer version or of another program is refused
// and left as it is.
TEST(HistoryArchive, OnlyOurOwnDamagedArchiveIsMovedAsideAndOnlyWhenNobodyHasItOpen) {
  test::ScratchFolder folder("archive");
  const std::string path = (folder.path() / "sub" / "a.sqlite3").string();
  ASSERT_TRUE(fs::create_directories(folder.path() / "sub"));
  HistoryArchive archive;
  // Not a database at all (DRAVION_ARCHIVE naming a CSV file), and another program's database.
  const std::string text =
      "800000000;09.05.2025;12:00:00;60;20;2;127;36;86;=E1*G1*H1/(D1*F1*I1)\r\n";
  std::ofstream(path, std::ios::binary) << text;
  EXPECT_FALSE(archive.Open(path));
  EXPECT_NE(archive.Error().find("not a history archive"), std::string::npos) << archive.Error();
  EXPECT_TRUE(archive.MovedAside.empty());
  EXPECT_EQ(FileBytes(path), text);
  EXPECT_TRUE(FilesBeside(path).empty());
  fs::remove(path);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "CREATE TABLE notes(t TEXT); INSERT INTO notes VALUES('mine')", nullptr, nullptr,
               nullptr);
  sqlite3_close(db);
  const std::string other = FileBytes(path);
  EXPECT_FALSE(archive.Open(path));
  EXPECT_NE(archive.Error().find("not a history archive"), std::string::npos) << archive.Error();
  EXPECT_EQ(FileBytes(path), other);
  EXPECT_TRUE(FilesBeside(path).empty());
  fs::remove(path);

  // A usable archive is opened as it is; a new one carries the program's mark.
  ASSERT_TRUE(archive.Open(path)) << archive.Error();
  {
    sqlite3* mark = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &mark), SQLITE_OK);
    sqlite3_stmt* id = nullptr;
    sqlite3_prepare_v2(mark, "PRAGMA application_id", -1, &id, nullptr);
    ASSERT_EQ(sqlite3_step(id), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(id, 0), kArchiveApplicationId);
    sqlite3_finalize(id);
    sqlite3_close(mark);
  }
  ASSERT_TRUE(archive.Merge(Download(RecordStream(3000, 600000000), 127)).Ok);
  archive.Close();
  ASSERT_TRUE(archive.Open(path));
  EXPECT_TRUE(archive.MovedAside.empty());
  EXPECT_GT(archive.Devices().at(0).Records, 2000u);
  archive.Close();

  // Pages damaged on the disk: found by an operation that reads them (here the check of every
  // page). While another program has the file open it stays where it is; then it goes aside
  // and a new archive starts.
  {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(fs::file_size(path) / 2));
    file << std::string(3000, '\xA5');
  }
  HistoryArchive holder;
  ASSERT_TRUE(holder.Open(path)) << holder.Error();
  ASSERT_TRUE(archive.Open(path)) << archive.Error();
  EXPECT_TRUE(archive.MovedAside.empty());
  EXPECT_FALSE(archive.Check());
  EXPECT_TRUE(archive.Damaged());
  const uintmax_t damagedSize = fs::file_size(path);
  EXPECT_FALSE(archive.StartAgain());
  EXPECT_NE(archive.Error().find("close"), std::string::npos) << archive.Error();
  EXPECT_TRUE(FilesBeside(path).empty());
  EXPECT_EQ(fs::file_size(path), damagedSize);
  holder.Close();
  ASSERT_TRUE(archive.Open(path)) << archive.Error();
  EXPECT_FALSE(archive.Check());
  ASSERT_TRUE(archive.StartAgain()) << archive.Error();
  EXPECT_NE(archive.MovedAside.find(".damaged-"), std::string::npos);
  EXPECT_EQ(fs::file_size(archive.MovedAside), damagedSize);
  EXPECT_TRUE(archive.Check());
  archive.Close();

  // A later version's archive: refused, never touched.
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "PRAGMA user_version=7", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  const std::string newer = FileBytes(path);
  const size_t besides = FilesBeside(path).size();
  EXPECT_FALSE(archive.Open(path));
  EXPECT_NE(archive.Error().find("written by a newer version; update the program"),
            std::string::npos)
      << archive.Error();
  EXPECT_TRUE(archive.MovedAside.empty());
  EXPECT_EQ(FileBytes(path), newer);
  EXPECT_EQ(FilesBeside(path).size(), besides);

  // A folder that cannot be made: an error, nothing else.
  std::ofstream((folder.path() / "plain").string()) << "file";
  EXPECT_FALSE(archive.Open((folder.path() / "plain" / "a.sqlite3").string()));
  EXPECT_FALSE(archive.Error().empty());
}

// A damaged archive whose write-ahead log cannot go aside with it stays where it is, log and
// all.
TEST(HistoryArchive, ADamagedArchiveWhoseLogCannotGoAsideStaysWhereItIs) {
  test::ScratchFolder folder("archive");
  const std::string path = (folder.path() / "a.sqlite3").string();
  ASSERT_TRUE(MakeDamagedArchive(path, 3000));
  const std::string bytes = FileBytes(path);
  HistoryArchive archive;
  ASSERT_TRUE(archive.Open(path)) << archive.Error();
  EXPECT_FALSE(archive.Check());
  ASSERT_TRUE(archive.Damaged());
  bool logTried = false;
  archive.RenameAside = [&](const std::string& from, const std::string& to) {
    if (from == path + "-wal") {
      logTried = true;
      return false;
    }
    return RenameFile(from, to);
  };
  EXPECT_FALSE(archive.StartAgain());
  EXPECT_TRUE(logTried);
  EXPECT_NE(archive.Error().find("write-ahead log"), std::string::npos) << archive.Error();
  EXPECT_TRUE(archive.MovedAside.empty());
  EXPECT_EQ(FileBytes(path), bytes);
  EXPECT_TRUE(FilesBeside(path).empty());
  archive.RenameAside = {};
  ASSERT_TRUE(archive.Open(path)) << archive.Error();
  EXPECT_FALSE(archive.Check());
  ASSERT_TRUE(archive.StartAgain()) << archive.Error();
  EXPECT_EQ(FileBytes(archive.MovedAside), bytes);
}

// A file system that fails the archive's reads on request: the system's own, with the main
// database files' reads replaced. Registered as the default while it lives.
class FailingReads {
 public:
  FailingReads() {
    real_ = sqlite3_vfs_find(nullptr);
    vfs_ = *real_;
    vfs_.zName = "dravion-failing-reads";
    vfs_.xOpen = &Open;
    sqlite3_vfs_register(&vfs_, 1);
  }
  ~FailingReads() {
    sqlite3_vfs_unregister(&vfs_);
    sqlite3_vfs_register(real_, 1);
  }
  // The result of every read from now on (SQLITE_OK: the real read).
  static inline std::atomic<int> result{SQLITE_OK};

 private:
  static int Read(sqlite3_file* file, void* to, int n, sqlite3_int64 at) {
    const int fail = result.load();
    return fail != SQLITE_OK ? fail : realMethods_->xRead(file, to, n, at);
  }
  static int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* out) {
    const int rc = real_->xOpen(real_, name, file, flags, out);
    if (rc == SQLITE_OK && file->pMethods != nullptr && (flags & SQLITE_OPEN_MAIN_DB) != 0) {
      realMethods_ = file->pMethods;
      methods_ = *file->pMethods;
      methods_.xRead = &Read;
      file->pMethods = &methods_;
    }
    return rc;
  }
  static inline sqlite3_vfs* real_ = nullptr;
  static inline const sqlite3_io_methods* realMethods_ = nullptr;
  static inline sqlite3_io_methods methods_{};
  sqlite3_vfs vfs_{};
};

// A disk that fails to read is not a damaged archive: the check fails and says why, and the file
// is neither taken for damaged nor moved aside; once reads work again, all is there.
TEST(HistoryArchive, ACheckThatCannotReadIsNoDamage) {
  test::ScratchFolder folder("archive");
  const std::string path = (folder.path() / "a.sqlite3").string();
  {
    HistoryArchive archive;
    ASSERT_TRUE(archive.Open(path)) << archive.Error();
    ASSERT_TRUE(archive.Merge(Download(RecordStream(3000, 600000000), 127)).Ok);
  }
  const std::string bytes = FileBytes(path);
  FailingReads disk;
  HistoryArchive archive;
  ASSERT_TRUE(archive.Open(path)) << archive.Error();
  FailingReads::result = SQLITE_IOERR_READ;
  EXPECT_FALSE(archive.Check());
  FailingReads::result = SQLITE_OK;
  EXPECT_FALSE(archive.Damaged());
  EXPECT_FALSE(archive.Error().empty());
  EXPECT_TRUE(archive.MovedAside.empty());
  EXPECT_TRUE(archive.Check()) << archive.Error();
  ASSERT_EQ(archive.Devices().size(), 1u);
  EXPECT_GT(archive.Devices()[0].Records, 2900u);
  archive.Close();
  EXPECT_EQ(FileBytes(path), bytes);
}

TEST(HistoryArchive, DefaultPathIsTheUsersDataFolderUnlessTheEnvironmentNamesAFile) {
#ifdef _WIN32
  _putenv_s("DRAVION_ARCHIVE", "C:\\x\\a.sqlite3");
  EXPECT_EQ(DefaultArchivePath(), "C:\\x\\a.sqlite3");
  _putenv_s("DRAVION_ARCHIVE", "");
  const std::string path = DefaultArchivePath();
  EXPECT_NE(path.find("\\Dravion Manager\\history-archive.sqlite3"), std::string::npos) << path;
#else
  const char* saved = std::getenv("DRAVION_ARCHIVE");
  const std::string keep = saved ? saved : "";
  ::setenv("DRAVION_ARCHIVE", "/x/a.sqlite3", 1);
  EXPECT_EQ(DefaultArchivePath(), "/x/a.sqlite3");
  ::unsetenv("DRAVION_ARCHIVE");
  ::setenv("XDG_DATA_HOME", "/data", 1);
  EXPECT_EQ(DefaultArchivePath(), "/data/dravion-manager/history-archive.sqlite3");
  ::setenv("XDG_DATA_HOME", "relative", 1);  // ignored, as the base directories say
  ::setenv("HOME", "/home/u", 1);
  EXPECT_EQ(DefaultArchivePath(), "/home/u/.local/share/dravion-manager/history-archive.sqlite3");
  ::unsetenv("XDG_DATA_HOME");
  if (saved) ::setenv("DRAVION_ARCHIVE", keep.c_str(), 1);
#endif
}

#ifndef _WIN32
TEST(HistoryArchive, AProcessKilledInTheMiddleOfAMergeLeavesTheArchiveAsItWas) {
  test::ScratchFolder folder("archive");
  const std::string path = (folder.path() / "a.sqlite3").string();
  const std::vector<HistoryRecord> stream = RecordStream(60000, 500000000);
  uint64_t before = 0;
  {
    HistoryArchive archive;
    ASSERT_TRUE(archive.Open(path));
    ASSERT_TRUE(archive.Merge(Download({stream.begin(), stream.begin() + 20000}, 127)).Ok);
    before = archive.Devices().at(0).Records;
  }
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Merging the rest; half-way through, tell the parent and wait to be killed.
    HistoryArchive archive;
    if (!archive.Open(path)) ::_exit(2);
    archive.MergeProgress = [&](uint64_t written) {
      if (written == 20000) {
        const char byte = 1;
        (void)!::write(ready[1], &byte, 1);
        for (;;)
          ::pause();
      }
    };
    archive.Merge(Download(stream, 127));
    ::_exit(3);
  }
  ::close(ready[1]);
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(::kill(child, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));

  HistoryArchive archive;
  ASSERT_TRUE(archive.Open(path)) << archive.Error();
  EXPECT_TRUE(archive.MovedAside.empty());
  EXPECT_EQ(archive.Devices().at(0).Records, before);
  uint64_t exported = 0;
  archive.ForEachRecord({archive.Devices().at(0).Id, 0, 0xFFFFFFFF},
                        [&](const HistoryRecord&, uint32_t) { ++exported; });
  EXPECT_LE(exported, before);
  // And the merge goes through now.
  const MergeResult merged = archive.Merge(Download(stream, 127));
  ASSERT_TRUE(merged.Ok) << merged.Error;
  EXPECT_EQ(merged.AlreadyThere, before);
}
#endif

}  // namespace
}  // namespace dravion
