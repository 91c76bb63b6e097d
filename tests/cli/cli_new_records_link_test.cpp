#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <thread>
#include <tuple>

#include "archive/archive_support.h"
#include "cli/cli_options.h"
#include "cli/interrupt.h"
#include "cli_harness.h"
#include "device/device_time.h"
#include "device/history_records.h"
#include "device/history_ring.h"
#include "signal_when.h"

namespace dravion::cli_test {
namespace {

namespace fs = std::filesystem;

// A record as the archive keeps it: start, duration, pulses, kind, status.
using Kept = std::tuple<uint32_t, uint32_t, uint32_t, uint32_t, uint32_t>;

Kept KeptOf(const HistoryRecord& r) {
  return {r.Start, r.Duration, r.Pulses, r.Kind, r.Status};
}

bool Measurement(const HistoryRecord& r) {
  return r.Kind == kKindOnTime || r.Kind == kKindOnChange;
}

// The emulator's ring as it stands, oldest first, read from its flash (not by our reader).
std::vector<HistoryRecord> EmulatorRing(const sim::Device& device) {
  const sim::HistoryDescription h = device.History();
  const std::vector<uint8_t> flash =
      device.ReadExternalFlash(kHistoryBase, kHistoryRingRecords * 16);
  std::vector<HistoryRecord> ring;
  for (uint32_t l = 0; l < h.count; ++l)
    ring.push_back(
        HistoryRecord::FromBytes(flash.data() + (h.first + l) % kHistoryRingRecords * 16));
  return ring;
}

std::string FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// dravion-cli against the emulator with an archive of its own; `held` is every measurement the
// device's ring has held at a download, which the archive must hold once each.
struct NewRecordsBench {
  explicit NewRecordsBench(sim::DeviceConfig config = {}) : bench(config) {
    const char* environment = std::getenv("DRAVION_ARCHIVE");
    saved = environment ? environment : "";
    archive = fs::path(bench.folder.path()) / "history-archive.sqlite3";
    ::setenv("DRAVION_ARCHIVE", archive.c_str(), 1);
  }
  ~NewRecordsBench() { ::setenv("DRAVION_ARCHIVE", saved.c_str(), 1); }

  // Another emulated device in its place (the same serial number and identifier).
  void Replace(sim::DeviceConfig config) {
    bench.device.reset();
    config.portFolder = bench.folder.path();
    config.restartMs = 400;
    bench.device = std::make_unique<sim::Device>(config);
    bench.device->Plug();
  }
  // The end of the ring's newest record.
  uint32_t NewestEnd() const {
    const std::vector<HistoryRecord> ring = EmulatorRing(*bench.device);
    return ring.back().Start + ring.back().Duration;
  }
  // The ring as the next download finds it.
  void Remember() {
    for (const HistoryRecord& r : EmulatorRing(*bench.device))
      if (Measurement(r)) held.insert(KeptOf(r));
  }
  CliResult New(std::vector<std::string> more = {}) {
    Remember();
    std::vector<std::string> args{"history", "download", "--new"};
    args.insert(args.end(), more.begin(), more.end());
    return bench.Run(args);
  }
  // Every record the archive holds, of every run.
  std::multiset<Kept> Archived() const {
    std::multiset<Kept> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(archive.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_stmt* select = nullptr;
      sqlite3_prepare_v2(db, "SELECT start, duration, pulses, kind, status FROM records", -1,
                         &select, nullptr);
      while (select && sqlite3_step(select) == SQLITE_ROW) {
        rows.insert({static_cast<uint32_t>(sqlite3_column_int64(select, 0)),
                     static_cast<uint32_t>(sqlite3_column_int64(select, 1)),
                     static_cast<uint32_t>(sqlite3_column_int64(select, 2)),
                     static_cast<uint32_t>(sqlite3_column_int64(select, 3)),
                     static_cast<uint32_t>(sqlite3_column_int64(select, 4))});
      }
      sqlite3_finalize(select);
    }
    sqlite3_close(db);
    return rows;
  }
  // The serial number the archive knows the device by.
  std::string Serial() const {
    std::string serial;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(archive.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_stmt* select = nullptr;
      sqlite3_prepare_v2(db, "SELECT serial FROM devices", -1, &select, nullptr);
      if (select && sqlite3_step(select) == SQLITE_ROW)
        serial = reinterpret_cast<const char*>(sqlite3_column_text(select, 0));
      sqlite3_finalize(select);
    }
    sqlite3_close(db);
    return serial;
  }
  // The archive holds what the ring held at the downloads, each record once.
  void ExpectArchiveHoldsTheRings() const {
    const std::multiset<Kept> rows = Archived();
    EXPECT_EQ(rows.size(), held.size());
    EXPECT_TRUE(std::equal(rows.begin(), rows.end(), held.begin(), held.end()))
        << rows.size() << " records in the archive, " << held.size() << " held by the ring";
  }
  // The measurements among the ring's newest `n` records.
  uint64_t NewestMeasurements(uint32_t n) const {
    const std::vector<HistoryRecord> ring = EmulatorRing(*bench.device);
    return static_cast<uint64_t>(std::count_if(ring.end() - n, ring.end(), Measurement));
  }

  CliBench bench;
  fs::path archive;
  std::string saved;
  std::set<Kept> held;
};

std::string Grouped(uint64_t n) {
  std::string digits = std::to_string(n);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3)
    digits.insert(static_cast<size_t>(i), ",");
  return digits;
}

std::string Sentence(uint64_t added, uint32_t read, uint32_t ring) {
  return Grouped(added) + (added == 1 ? " new record, " : " new records, ") +
         "0 already in the archive; " + Grouped(read) + " of " + Grouped(ring) +
         " records of the ring read\n";
}

// The same ring grown by N records between downloads: each --new reads the N records and no
// more (its reads on the wire say so), merges them, and leaves the archive holding every
// measurement the ring has held, once. The first, with nothing archived, reads the whole ring
// and says why; --csv gets the new records only, as Save CSV writes lines.
TEST(CliNewRecordsLink, ReadsOnlyWhatTheRingGrewBy) {
  sim::DeviceConfig config;
  config.historySize = 1500;
  config.historyStart = 0x0310;
  NewRecordsBench b(config);
  CliResult r = b.New();
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_NE(r.err.find("The archive holds no record of this device: reading the whole ring"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.out, Sentence(b.NewestMeasurements(1500), 1500, 1500));
  b.ExpectArchiveHoldsTheRings();

  for (const uint32_t n : {0u, 1u, 255u, 256u, 257u, 1440u}) {
    SCOPED_TRACE("grown by " + std::to_string(n));
    b.bench.device->AddHistoryRecords(n);
    const uint32_t ring = b.bench.device->History().count;
    const int readsBefore = b.bench.device->Requests(2, 0x02);
    const int requestsBefore = b.bench.device->GetCounters().totalRequests;
    const fs::path csv = fs::path(b.bench.folder.path()) / ("new-" + std::to_string(n) + ".csv");
    r = b.New({"--csv", csv.string()});
    ASSERT_EQ(r.status, cli::kExitDone) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, Sentence(b.NewestMeasurements(n), n, ring));
    const int reads = b.bench.device->Requests(2, 0x02) - readsBefore;
    EXPECT_LE(reads, static_cast<int>(n / 2 + 4));
    EXPECT_LE(b.bench.device->GetCounters().totalRequests - requestsBefore - reads, 150);
    // The file: the new usable measurements, newest first, rows numbered from 1.
    const std::vector<HistoryRecord> all = EmulatorRing(*b.bench.device);
    const std::string file = FileBytes(csv);
    size_t at = 0;
    for (auto it = all.rbegin(); it != all.rbegin() + n; ++it) {
      if (!it->IsMeasurement()) continue;
      const std::string start = std::to_string(it->Start) + ";";
      ASSERT_EQ(file.compare(at, start.size(), start), 0) << file.substr(at, 80);
      at = file.find("\r\n", at) + 2;
    }
    EXPECT_EQ(at, file.size());
    b.ExpectArchiveHoldsTheRings();
  }
  EXPECT_EQ(b.bench.device->Parameter(0xC023), 0u);  // the device left its reading state
}

// The ring as the device holds it: `count` records of the stream from position `from`, laid out
// from slot `from % 65280` on.
std::vector<uint8_t> StreamRing(const std::vector<HistoryRecord>& stream, uint32_t from,
                                uint32_t count) {
  std::vector<uint8_t> bytes(count * 16);
  for (uint32_t i = 0; i < count; ++i) {
    const HistoryRecord& r = stream[from + i];
    test::PutRecord(bytes.data() + 16 * i, {r.Start, r.Pulses, r.Duration, r.Kind, r.Status});
  }
  return bytes;
}

// The archive's newest record was overwritten: the ring has run round since. All of it is new,
// the line says which times were lost between the archive and the ring, and the archive then
// holds both. The next day's records on the full ring (its oldest sectors erased as it goes on)
// are read alone.
TEST(CliNewRecordsWholeRingLink, AnOverwrittenEndReadsTheWholeRingAndSaysWhatWasLost) {
  const std::vector<HistoryRecord> stream = archive_test::RecordStream(85200, 760000000 + 17);
  sim::DeviceConfig early;
  early.historyRecords = StreamRing(stream, 0, 300);
  NewRecordsBench b(early);
  CliResult r = b.New();
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;
  const uint32_t archivedEnd = b.NewestEnd();

  sim::DeviceConfig later;
  later.historyRecords = StreamRing(stream, 20000, 65200);
  later.historyStart = 20000;
  b.Replace(later);
  r = b.New();
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;
  auto at = [](uint32_t seconds) {
    const TimeRecord t = TimeRecordFromSeconds(seconds);
    return FormatDeviceDate(t) + " " + FormatDeviceClock(t);
  };
  EXPECT_EQ(r.err,
            "The archive's newest record was overwritten in the device: reading the whole "
            "ring; the records from " +
                at(archivedEnd) + " to " + at(stream[20000].Start) +
                " were never downloaded and are lost\n");
  EXPECT_NE(r.out.find("65,200 of 65,200 records of the ring read"), std::string::npos) << r.out;
  b.ExpectArchiveHoldsTheRings();

  b.bench.device->AddHistoryRecords(1440);
  const sim::HistoryDescription grown = b.bench.device->History();
  ASSERT_LT(grown.count, 65200u);  // its oldest sectors made room
  const int readsBefore = b.bench.device->Requests(2, 0x02);
  r = b.New();
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, Sentence(b.NewestMeasurements(1440), 1440, grown.count));
  EXPECT_LE(b.bench.device->Requests(2, 0x02) - readsBefore, 1440 / 2 + 4);
  b.ExpectArchiveHoldsTheRings();
}

// No position of the ring holds the archive's newest record: a history deleted and begun again,
// and a record changed in place since it was archived (the comparison refuses it, whatever its
// place and time say). Both read the whole ring and say why; the archive keeps the union, the
// changed record beside the one it had. Records made after a clock set back are out of time
// order, yet the ring continues the archive where its newest record is: only they are read.
TEST(CliNewRecordsLink, ADeletedRingAChangedRecordAndAClockSetBack) {
  sim::DeviceConfig config;
  config.historySize = 600;
  NewRecordsBench b(config);
  ASSERT_EQ(b.New().status, cli::kExitDone);
  const std::string notHere =
      "The archive's newest record is not in the device (its history was deleted and begun "
      "again, or another device): reading the whole ring\n";

  // Deleted and begun again an hour later.
  const uint32_t end = b.NewestEnd();
  CliResult r = b.bench.Run({"--yes", "history", "delete"});
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;
  b.bench.device->AddHistoryRecords(300, end + 3600);
  r = b.New();
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_EQ(r.err, notHere);
  b.ExpectArchiveHoldsTheRings();
  b.bench.device->AddHistoryRecords(20);
  r = b.New();
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_EQ(r.out, Sentence(b.NewestMeasurements(20), 20, 320));

  // The newest record changed in place (its pulses, its status, its kind), then ten more
  // records: the comparison refuses each change.
  for (const size_t changedByte : {size_t{8}, size_t{1}, size_t{0}}) {
    SCOPED_TRACE("byte " + std::to_string(changedByte) + " changed");
    const sim::HistoryDescription h = b.bench.device->History();
    std::vector<uint8_t> bytes = b.bench.device->ReadExternalFlash(kHistoryBase + h.last * 16, 16);
    ASSERT_TRUE(HistoryRecord::FromBytes(bytes.data()).IsMeasurement());
    std::array<uint8_t, 16> changed;
    std::copy(bytes.begin(), bytes.end(), changed.begin());
    if (changedByte == 0)
      changed[0] = changed[0] == kKindOnTime ? kKindOnChange : kKindOnTime;
    else
      ++changed[changedByte];
    b.bench.device->SetHistoryRecord(h.last, changed);
    b.bench.device->AddHistoryRecords(10);
    r = b.New();
    ASSERT_EQ(r.status, cli::kExitDone) << r.err;
    EXPECT_EQ(r.err, notHere);
    if (changedByte == 8) {
      EXPECT_NE(r.out.find("1 differs from the archive's record of the same start"),
                std::string::npos)
          << r.out;
    }
    b.ExpectArchiveHoldsTheRings();
  }

  // A day's clock set back after 100 records, then 200 records over earlier times.
  b.bench.device->AddHistoryRecords(100);
  b.bench.device->AddHistoryRecords(200, b.NewestEnd() - 86400);
  uint32_t ring = b.bench.device->History().count;
  r = b.New();
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_NE(r.err.find("The device's clock was set back (battery out?)"), std::string::npos)
      << r.err;
  EXPECT_EQ(r.out, Sentence(b.NewestMeasurements(300), 300, ring));
  b.ExpectArchiveHoldsTheRings();
  b.bench.device->AddHistoryRecords(50);
  ring = b.bench.device->History().count;
  r = b.New();
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, Sentence(b.NewestMeasurements(50), 50, ring));
  b.ExpectArchiveHoldsTheRings();
}

// One record equal by chance is not where the ring continues: a history begun again whose record
// at the archived one's place equals it, with other records before it, is read whole.
TEST(CliNewRecordsWholeRingLink, OneEqualRecordAloneIsNotTakenForTheArchivesEnd) {
  const std::vector<HistoryRecord> stream = archive_test::RecordStream(2000, 760000000 + 17);
  const std::vector<HistoryRecord> other = archive_test::RecordStream(300, 750000000 + 29);
  sim::DeviceConfig early;
  early.historyRecords = StreamRing(stream, 0, 300);
  NewRecordsBench b(early);
  ASSERT_EQ(b.New().status, cli::kExitDone);

  std::vector<HistoryRecord> begunAgain(other.begin(), other.begin() + 299);
  begunAgain.push_back(stream[299]);
  begunAgain.insert(begunAgain.end(), stream.begin() + 300, stream.begin() + 1000);
  sim::DeviceConfig later;
  later.historyRecords = StreamRing(begunAgain, 0, 1000);
  b.Replace(later);
  const CliResult r = b.New();
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_EQ(r.err,
            "The archive's newest record is not in the device (its history was deleted and begun "
            "again, or another device): reading the whole ring\n");
  EXPECT_NE(r.out.find("1,000 of 1,000 records of the ring read"), std::string::npos) << r.out;
  b.ExpectArchiveHoldsTheRings();
}

// An archive begun from a saved CSV file (records without kind, no ring description) is continued
// by a search by time: --new reads only what the ring grew by, and the archive then holds every
// usable record of the first ring and every measurement of the new ones, each once.
TEST(CliNewRecordsLink, AnArchiveImportedFromASavedCsvIsContinuedFromItsNewestRecord) {
  sim::DeviceConfig config;
  config.historySize = 1500;
  NewRecordsBench b(config);
  const fs::path csv = fs::path(b.bench.folder.path()) / "saved.csv";
  ASSERT_EQ(b.New({"--csv", csv.string()}).status, cli::kExitDone);
  const std::string serial = b.Serial();
  ASSERT_FALSE(serial.empty());
  const std::vector<HistoryRecord> first = EmulatorRing(*b.bench.device);
  for (const char* suffix : {"", "-wal", "-shm"})
    fs::remove(b.archive.string() + suffix);
  CliResult r =
      b.bench.Run({"archive", "import", "--device", serial, "--new-device", csv.string()});
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;

  // The file held the usable records: the ring continues after the newest of them.
  const auto newestUsable = std::find_if(first.rbegin(), first.rend(),
                                         [](const HistoryRecord& x) { return x.IsMeasurement(); });
  const auto from = static_cast<uint32_t>(first.rend() - newestUsable);
  b.bench.device->AddHistoryRecords(50);
  const std::vector<HistoryRecord> now = EmulatorRing(*b.bench.device);
  const auto ring = static_cast<uint32_t>(now.size());
  const auto added =
      static_cast<uint64_t>(std::count_if(now.begin() + from, now.end(), Measurement));
  const int readsBefore = b.bench.device->Requests(2, 0x02);
  r = b.New();
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, Sentence(added, ring - from, ring));
  EXPECT_LE(b.bench.device->Requests(2, 0x02) - readsBefore, 50 / 2 + 40);

  std::multiset<std::tuple<uint32_t, uint32_t, uint32_t, uint32_t>> expected, archived;
  for (const HistoryRecord& x : first)
    if (x.IsMeasurement()) expected.insert({x.Start, x.Duration, x.Pulses, x.Status});
  for (auto it = now.begin() + from; it != now.end(); ++it)
    if (Measurement(*it)) expected.insert({it->Start, it->Duration, it->Pulses, it->Status});
  for (const Kept& k : b.Archived())
    archived.insert({std::get<0>(k), std::get<1>(k), std::get<2>(k), std::get<4>(k)});
  EXPECT_TRUE(archived == expected)
      << archived.size() << " kept, " << expected.size() << " expected";
}

// Ctrl+C and an unplug in the middle of a read of new records: the archive keeps what it had, and
// the next --new reads the same records again and completes it.
TEST(CliNewRecordsLink, ACancelOrAnUnplugLeavesTheArchiveAndTheNextReadCompletesIt) {
  sim::DeviceConfig config;
  config.historySize = 600;
  NewRecordsBench b(config);
  ASSERT_EQ(b.New().status, cli::kExitDone);
  b.bench.device->AddHistoryRecords(1440);
  const uint32_t ring = b.bench.device->History().count;
  const std::multiset<Kept> before = b.Archived();

  CliResult r;
  {
    cli::InterruptWatch watch;
    const int reads = b.bench.device->Requests(2, 0x02);
    SignalWhen ctrlC([&] { return b.bench.device->Requests(2, 0x02) > reads + 200; }, SIGINT);
    r = b.New();
    ASSERT_TRUE(ctrlC.Sent());
  }
  EXPECT_EQ(r.status, 130) << r.err;
  EXPECT_NE(r.err.find("Reading of History canceled"), std::string::npos) << r.err;
  EXPECT_TRUE(b.Archived() == before);
  EXPECT_EQ(b.bench.device->Parameter(0xC023), 0u);

  sim::Faults faults;
  faults.unplugAfterRequests = b.bench.device->GetCounters().totalRequests + 300;
  faults.replugAfterMs = 200;
  b.bench.device->SetFaults(faults);
  r = b.New();
  EXPECT_EQ(r.status, cli::kExitFailed) << r.err;
  EXPECT_NE(r.err.find("The device was disconnected"), std::string::npos) << r.err;
  EXPECT_TRUE(b.Archived() == before);
  ASSERT_TRUE(b.bench.device->WaitPlugged(true, 20000));

  r = b.New();
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_EQ(r.out, Sentence(b.NewestMeasurements(1440), 1440, ring));
  b.ExpectArchiveHoldsTheRings();
}

}  // namespace
}  // namespace dravion::cli_test
