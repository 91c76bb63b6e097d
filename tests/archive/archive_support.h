#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "archive/history_archive.h"
#include "cli/cli.h"
#include "device/history_chart_model.h"
#include "device/history_ring.h"

namespace dravion::archive_test {

// A file's whole content, byte for byte.
inline std::string FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Header-only: the test build compiles only *_test.cpp files from this folder.

// A record with the coefficient (K x 100) it was downloaded with.
struct Weighted {
  HistoryRecord Record;
  uint32_t K = 127;
};

// What the chart should show for a period, straight from the raw records: each usable record's
// pulses split in proportion to the seconds it covers there (a record of no duration counts
// where it starts), weighted by its coefficient, and rounded to the nearest unit of pulses x K
// only after that (a hundredth of a pulse: the bars and the figures agree).
inline PeriodTotals ReferenceTotals(const std::vector<Weighted>& records, uint32_t from,
                                    uint32_t length) {
  PeriodTotals totals;
  const uint64_t to = uint64_t{from} + length - 1;
  for (const Weighted& w : records) {
    const HistoryRecord& r = w.Record;
    if (r.Status != 0) continue;
    if (r.Duration == 0) {
      if (r.Start >= from && r.Start <= to) totals.WeightedPulses += uint64_t{r.Pulses} * w.K;
      continue;
    }
    const uint64_t last = uint64_t{r.Start} + r.Duration - 1;
    if (last < from || r.Start > to) continue;
    const uint64_t overlap = std::min(last, to) - std::max<uint64_t>(r.Start, from) + 1;
    totals.WeightedPulses += (overlap * r.Pulses * w.K + r.Duration / 2) / r.Duration;
    totals.Covered += overlap;
    if (r.Duration >= 10)
      totals.WeightedMaxRate10 =
          std::max<uint64_t>(totals.WeightedMaxRate10, uint64_t{r.Pulses} * 10 / r.Duration * w.K);
  }
  return totals;
}

// A usable measurement record (of no duration: a point written on a change).
inline HistoryRecord Measurement(uint32_t start, uint16_t duration, uint32_t pulses) {
  HistoryRecord r;
  r.Start = start;
  r.Duration = duration;
  r.Pulses = pulses;
  r.Kind = duration == 0 ? kKindOnChange : kKindOnTime;
  r.Status = 0;
  return r;
}

// A download of device 214-36587 with coefficient `k` (K x 100), the device's time a minute
// after its last record.
inline ArchiveBatch DownloadOf(const std::vector<HistoryRecord>& records, uint32_t k) {
  ArchiveBatch batch;
  batch.Serial = "214-36587";
  batch.Uid = "0123456789ABCDEF01234567";
  batch.Coefficient = k;
  batch.Records = records;
  batch.DeviceTime = records.back().Start + records.back().Duration + 60;
  batch.Ring.RecordCount = static_cast<uint32_t>(records.size());
  return batch;
}

// The device's stream of records: one a minute mostly, some on change (30 s, or 25 minutes
// across hours), points of no duration sharing their second with the next record, records with
// a status, a gap now and then, and a sector header wherever a sector begins (`first` is the
// physical slot of record 0).
inline std::vector<HistoryRecord> RecordStream(uint32_t count, uint32_t begin, uint32_t first = 0) {
  std::vector<HistoryRecord> stream;
  stream.reserve(count);
  uint32_t t = begin;
  for (uint32_t q = 0; q < count; ++q) {
    HistoryRecord r;
    r.Start = t;
    r.Status = 0;
    if ((first + q) % kHistoryRingRecords % kHistorySectorRecords == 0) {
      r.Kind = 0x01;  // sector header
      r.Duration = 0;
      r.Pulses = 0;
    } else if (q % 211 == 5) {
      r.Kind = kKindOnChange;
      r.Duration = 0;
      r.Pulses = q % 3;
    } else if (q % 389 == 7) {
      r.Kind = kKindOnChange;
      r.Duration = 1500;
      r.Pulses = 600 + q % 97;
    } else if (q % 97 == 11) {
      r.Kind = kKindOnChange;
      r.Duration = 30;
      r.Pulses = 9 + q % 13;
    } else {
      r.Kind = kKindOnTime;
      r.Duration = 60;
      r.Pulses = 18 + (q * 7) % 23 + (q % 1000 < 40 ? 150 : 0);
    }
    if (q % 131 == 17) r.Status = 2;
    stream.push_back(r);
    t += r.Duration + (q % 50 == 49 ? 45 : 0);
  }
  return stream;
}

// Names the archive dravion-cli uses (DRAVION_ARCHIVE) while it lives.
class ArchiveForCli {
 public:
  explicit ArchiveForCli(const std::string& path) {
    const char* before = std::getenv("DRAVION_ARCHIVE");
    previous_ = before ? before : "";
    Set(path);
  }
  ~ArchiveForCli() { Set(previous_); }

 private:
  static void Set(const std::string& value) {
#ifdef _WIN32
    _putenv_s("DRAVION_ARCHIVE", value.c_str());
#else
    ::setenv("DRAVION_ARCHIVE", value.c_str(), 1);
#endif
  }
  std::string previous_;
};

// dravion-cli in-process: its status, and what it wrote to stdout and stderr (in that order).
inline int RunCliCapturing(const std::vector<std::string>& args, std::string& out) {
  std::ostringstream o, e;
  std::istringstream in;
  cli::CliIo io{o, e, in, false, false};
  const int status = cli::RunCli(args, io);
  out = o.str() + e.str();
  return status;
}

}  // namespace dravion::archive_test
