#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <algorithm>
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

#include "cli/cli_options.h"
#include "cli/interrupt.h"
#include "cli_harness.h"
#include "device/history_ring.h"

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

}  // namespace
}  // namespace dravion::cli_test
