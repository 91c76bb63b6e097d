#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "archive/archive_pane.h"
#include "archive/archive_session.h"
#include "archive/archive_support.h"
#include "archive/history_archive.h"
#include "cli/cli.h"
#include "device/device_link_harness.h"
#include "device/device_time.h"
#include "device/history_controller.h"
#include "device/history_fakes.h"
#include "device/history_records.h"
#include "support/scratch_folder.h"

namespace dravion {
namespace {

using archive_test::FileBytes;
using archive_test::RecordStream;
using archive_test::ReferenceTotals;
using archive_test::Weighted;
namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t from = 0, end; from < text.size(); from = end + 2) {
    end = text.find("\r\n", from);
    lines.push_back(text.substr(from, end - from));
  }
  return lines;
}

// A CSV line without its row number (the rate formula's), which depends on the file.
std::string WithoutRow(const std::string& line) {
  return line.substr(0, line.rfind(';'));
}

// The device's ring at one moment: `count` slots of the record stream ending at stream position
// `end`, the stream written into the ring's slots one after the other from slot `slot0` on.
std::vector<uint8_t> RingBytes(const std::vector<HistoryRecord>& stream, uint32_t end,
                               uint32_t count) {
  std::vector<uint8_t> bytes(count * 16);
  for (uint32_t i = 0; i < count; ++i) {
    const HistoryRecord& r = stream[end - count + i];
    test::PutRecord(bytes.data() + 16 * i, {r.Start, r.Pulses, r.Duration, r.Kind, r.Status});
  }
  return bytes;
}

// One download through the history page's controller, merged by the page's archive.
struct Download {
  Download(const std::vector<uint8_t>& ring, uint32_t firstSlot, const std::string& archivePath)
      : link(
            [&](sim::DeviceConfig& c) {
              c.historyRecords = ring;
              c.historyStart = firstSlot;
            },
            1) {
    pane.Path = archivePath;
    controller.DownloadCompleted = [this] { message = pane.MergeDownload(); };
    connected = link.Connect();
  }
  device_test::DeviceLinkHarness link;
  device_test::RecordingHistoryView view;
  HistoryController controller{link.context, view};
  ArchivePane pane{link.context, view, controller};
  bool connected = false;
  std::string message;
};

// Two downloads of a ring that has run round, the second after the device went on recording, a
// "Delete history", and a third of what the device recorded after it. The archive then holds
// every record once; its chart is the sum of the raw records; its CSV export is what the three
// downloads' files hold together, newest first, no line twice.
TEST(ArchiveDownload, DownloadsAcrossAWrappedRingAndADeleteAreKeptOnceChartedAndExported) {
  test::ScratchFolder folder("archive-link");
  const std::string archivePath = (folder.path() / "history-archive.sqlite3").string();
  // The stream as the device writes it: slot q % 65280 for stream position q, a sector header
  // at the start of every sector.
  constexpr uint32_t kRing = 65200;
  const uint32_t firstSlot = 0x0500;
  const std::vector<HistoryRecord> stream = RecordStream(85200, 760000000 + 17, firstSlot);
  // After the delete the device starts again at slot 0, with a stream of its own that goes on
  // from the last record's time.
  const uint32_t afterDelete = stream.back().Start + 7200;
  const std::vector<HistoryRecord> fresh = RecordStream(3000, afterDelete, 0);

  std::vector<std::string> csvFiles;
  std::vector<MergeResult> results;
  auto download = [&](const std::vector<uint8_t>& ring, uint32_t slot, bool deleteAfter) {
    Download d(ring, slot, archivePath);
    EXPECT_TRUE(d.connected);
    d.controller.OnReadClicked();
    EXPECT_TRUE(d.link.dialogs.boxes.empty()) << d.link.dialogs.boxes.front().text;
    EXPECT_TRUE(d.controller.Ring.Loaded);
    csvFiles.push_back(d.controller.Csv.CsvText);
    EXPECT_FALSE(d.message.empty());
    if (deleteAfter) {
      d.link.dialogs.answers.push_back(true);
      d.controller.OnDeleteClicked();
      EXPECT_EQ(d.link.device->History().count, 0u);
    }
    return d.message;
  };
  // 1: the ring, run round (its oldest record in slot 0x500, across the physical end).
  const std::string first = download(RingBytes(stream, kRing, kRing), firstSlot, false);
  // 2: 20,000 records later; the oldest 20,000 were overwritten. Then the delete.
  const std::string second =
      download(RingBytes(stream, kRing + 20000, kRing), (firstSlot + 20000) % 65280, true);
  // 3: what came after the delete.
  const std::string third = download(RingBytes(fresh, 3000, 3000), 0, false);

  auto measurement = [](const HistoryRecord& r) {
    return r.Kind == kKindOnTime || r.Kind == kKindOnChange;
  };
  auto count = [&](auto from, auto to) {
    return static_cast<uint64_t>(std::count_if(from, to, measurement));
  };
  // Each merge said what it found new.
  const uint64_t all = count(stream.begin(), stream.end()) + count(fresh.begin(), fresh.end());
  const uint64_t overlap = count(stream.begin() + 20000, stream.begin() + kRing);
  EXPECT_EQ(
      first,
      std::to_string(count(stream.begin(), stream.begin() + kRing) / 1000) + "," +
          std::to_string(count(stream.begin(), stream.begin() + kRing) % 1000 + 1000).substr(1) +
          " new records, 0 already in the archive");
  EXPECT_NE(second.find(" already in the archive"), std::string::npos);

  HistoryArchive archive;
  ASSERT_TRUE(archive.Open(archivePath));
  const std::vector<ArchiveDevice> devices = archive.Devices();
  ASSERT_EQ(devices.size(), 1u);
  const ArchiveDevice& device = devices[0];
  EXPECT_EQ(device.Records, all);
  EXPECT_EQ(device.Conflicts, 0u);
  EXPECT_EQ(device.Downloads, 3u);
  (void)overlap;

  // The chart over the archive, at every level over its span, against the raw records.
  std::vector<Weighted> raw;
  for (const auto* part : {&stream, &fresh}) {
    for (const HistoryRecord& r : *part)
      if (measurement(r)) raw.push_back({r, 127});
  }
  Language language;
  language.Set(Lang::English);
  for (uint32_t t = stream.front().Start; t < fresh.back().Start; t += 86400 * 3 + 3671) {
    for (int level = kLevelMinute; level <= kLevelYear; ++level) {
      TimeRecord view = TimeRecordFromSeconds(t);
      const auto periods = archive.Periods(device.Id);
      const HistoryChartData chart = DrawHistoryChart(*periods, view, level, 127, true, language);
      const auto bars = HistoryChartPeriods(view, level);
      ASSERT_EQ(chart.Rate.size(), bars.size());
      for (size_t b = 0; b < bars.size(); ++b) {
        const PeriodTotals want = ReferenceTotals(raw, bars[b].first, bars[b].second);
        const uint64_t rate = want.Covered ? want.WeightedPulses * 36 / want.Covered / 172 : 1;
        ASSERT_EQ(chart.Rate[b].Value, rate) << "level " << level << " bar " << b << " at " << t;
      }
    }
  }

  // The export: the three files' lines together, newest first, each line once.
  const fs::path csv = folder.path() / "export.csv";
  const ExportResult exported = archive.ExportCsv({}, csv.string());
  ASSERT_TRUE(exported.Ok) << exported.Error;
  const std::vector<std::string> lines = Lines(FileBytes(csv));
  std::set<std::string> union_;
  for (const std::string& file : csvFiles) {
    for (const std::string& line : Lines(file))
      union_.insert(WithoutRow(line));
  }
  std::set<std::string> got;
  uint64_t previous = 0xFFFFFFFF;
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_TRUE(got.insert(WithoutRow(lines[i])).second) << "twice: " << lines[i];
    const uint64_t start = std::stoull(lines[i].substr(0, lines[i].find(';')));
    ASSERT_LE(start, previous) << "not newest first at line " << i + 1;
    previous = start;
    const std::string n = std::to_string(i + 1);
    const std::string last = lines[i].substr(lines[i].rfind(';') + 1);
    ASSERT_TRUE(last == "0" ||
                last == "=E" + n + "*G" + n + "*H" + n + "/(D" + n + "*F" + n + "*I" + n + ")")
        << lines[i];
  }
  EXPECT_TRUE(got == union_) << got.size() << " lines exported, the files hold " << union_.size();

  // The window's Save CSV of the archive, everything: the same bytes.
  {
    Download d(RingBytes(fresh, 3000, 3000), 0, archivePath);
    ASSERT_TRUE(d.connected);
    ASSERT_TRUE(d.pane.Show());
    EXPECT_EQ(d.view.chart.Title.size(), 3u);
    EXPECT_NE(d.view.chart.Title[0].find(device.Serial), std::string::npos);
    d.link.dialogs.answers.push_back(false);  // not only the period shown
    d.view.saveName = (folder.path() / "window.csv").string();
    d.pane.OnSaveCsvClicked();
    EXPECT_TRUE(FileBytes(d.view.saveName) == FileBytes(csv));
  }

  // dravion-cli on the same archive: its export is the same file; a damaged file is refused at
  // its line with nothing stored; the intact file adds nothing new.
  const char* environment = std::getenv("DRAVION_ARCHIVE");
  const std::string saved = environment ? environment : "";
  ::setenv("DRAVION_ARCHIVE", archivePath.c_str(), 1);
  struct Run {
    int status;
    std::string out, err;
  };
  auto run = [](const std::vector<std::string>& args) {
    std::ostringstream out, err;
    std::istringstream in;
    cli::CliIo io{out, err, in, false, false};
    const int status = cli::RunCli(args, io);
    return Run{status, out.str(), err.str()};
  };
  const fs::path cliCsv = folder.path() / "cli.csv";
  Run r = run({"archive", "export", "--device", device.Serial, "--csv", cliCsv.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(FileBytes(cliCsv) == FileBytes(csv));
  // The list counts as records what the chart and the export use; the unusable records kept
  // (a status other than 0) under their own name.
  uint64_t unusable = 0;
  for (const auto* part : {&stream, &fresh}) {
    for (const HistoryRecord& r : *part)
      unusable += measurement(r) && r.Status != 0;
  }
  ASSERT_GT(unusable, 0u);
  EXPECT_EQ(exported.Lines + unusable, all);
  r = run({"--json", "archive", "list"});
  EXPECT_NE(r.out.find("\"records\":" + std::to_string(exported.Lines) + ","), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"unusable\":" + std::to_string(unusable)), std::string::npos) << r.out;
  r = run({"archive", "list"});
  EXPECT_NE(r.out.find(GroupedNumber(exported.Lines, language) + " records"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(GroupedNumber(unusable, language) + " unusable records kept"),
            std::string::npos)
      << r.out;

  std::vector<std::string> fileLines = Lines(csvFiles[0]);
  std::string damaged;
  for (size_t i = 0; i < fileLines.size(); ++i) {
    std::string line = fileLines[i];
    if (i == 999) line.replace(line.find(';') + 1, 2, "31");  // another day than the start's
    damaged += line + "\r\n";
  }
  const fs::path bad = folder.path() / "bad.csv";
  std::ofstream(bad, std::ios::binary) << damaged;
  r = run({"archive", "import", "--device", "999-99999", bad.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("bad.csv:1000: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Nothing was imported"), std::string::npos) << r.err;
  const fs::path good = folder.path() / "good.csv";
  std::ofstream(good, std::ios::binary) << csvFiles[0];
  r = run({"archive", "import", "--device", device.Serial, good.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find(',')), "0 new records") << r.out;
  ::setenv("DRAVION_ARCHIVE", saved.c_str(), 1);
  archive.Close();
  ASSERT_TRUE(archive.Open(archivePath));
  ASSERT_EQ(archive.Devices().size(), 1u);
  EXPECT_EQ(archive.Devices()[0].Records, all);

  // A serial number the archive does not know is refused unless asked for; one that two devices
  // share needs the identifier; a serial number of another form is no serial number.
  ::setenv("DRAVION_ARCHIVE", archivePath.c_str(), 1);
  r = run({"archive", "import", "--device", "999-99999", good.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("--new-device"), std::string::npos) << r.err;
  r = run({"archive", "import", "--device", "21436587", good.string()});
  EXPECT_EQ(r.status, 2);
  ArchiveBatch twin;
  twin.Serial = device.Serial;
  twin.Uid = "00:11:22:33:44:55:66:77:88:99:AA:BB";
  twin.Records = {fresh[5]};
  ASSERT_TRUE(archive.Merge(twin).Ok);
  archive.Close();
  r = run({"archive", "import", "--device", device.Serial, good.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("--uid"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("00:11:22"), std::string::npos) << r.err;
  r = run({"archive", "import", "--device", device.Serial, "--uid", device.Uid, good.string()});
  EXPECT_EQ(r.status, 0) << r.err;
  r = run({"archive", "import", "--device", "999-99999", "--new-device", good.string()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find(' ')), GroupedNumber(fileLines.size(), language)) << r.out;
  // An archive file is imported whole: here the archive itself, every record already there.
  r = run({"archive", "import", archivePath});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(" records carried over"), std::string::npos) << r.out;
  ::setenv("DRAVION_ARCHIVE", saved.c_str(), 1);
}

// Another program holds the archive's write lock when a download completes: the merge waits for
// it on a worker thread while the window's events (here the heartbeat) go on, shows how far it
// is, and keeps every record once the lock is let go. Merged on the window's thread, nothing
// would run until SQLite's busy time-out failed the merge.
TEST(ArchiveDownload, AMergeWaitsForAnotherWriterWhileTheWindowGoesOn) {
  test::ScratchFolder folder("archive-busy");
  const std::string archivePath = (folder.path() / "history-archive.sqlite3").string();
  const std::vector<HistoryRecord> stream = RecordStream(2000, 760000000 + 17);
  Download d(RingBytes(stream, 2000, 2000), 0, archivePath);
  ASSERT_TRUE(d.connected);
  ASSERT_NE(d.pane.Archive(), nullptr);

  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(archivePath.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  int beats = 0;
  bool released = false;
  d.controller.DownloadCompleted = [&] {
    d.link.pump.heartbeat = [&] {
      if (++beats == 3) {
        released = sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr) == SQLITE_OK;
      }
    };
    d.message = d.pane.MergeDownload();
    d.link.pump.heartbeat = nullptr;
  };
  d.controller.OnReadClicked();
  sqlite3_close(other);

  EXPECT_TRUE(released);
  // The first try went through: the lock was let go while it waited, not after it failed.
  EXPECT_FALSE(d.link.log.Has("# The history archive is in use by another program; trying again"));
  EXPECT_TRUE(d.link.dialogs.boxes.empty()) << d.link.dialogs.boxes.front().text;
  // Every measurement is kept, usable or not.
  const uint64_t kept =
      static_cast<uint64_t>(std::count_if(stream.begin(), stream.end(), [](const HistoryRecord& r) {
        return r.Kind == kKindOnTime || r.Kind == kKindOnChange;
      }));
  EXPECT_EQ(d.message.substr(0, d.message.find(' ')), GroupedNumber(kept, d.link.language));
  EXPECT_TRUE(
      std::any_of(d.view.summaries.begin(), d.view.summaries.end(),
                  [](const std::string& s) { return s.starts_with("Keeping in the archive: "); }));
  HistoryArchive archive;
  ASSERT_TRUE(archive.Open(archivePath));
  ASSERT_EQ(archive.Devices().size(), 1u);
  EXPECT_EQ(archive.Devices()[0].Records, kept);
}

}  // namespace
}  // namespace dravion
