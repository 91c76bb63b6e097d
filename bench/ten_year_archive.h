#pragma once

// The ten-year archive of the benchmarks: ten years and a month of the device's stream of
// records at one a minute; the archive holds the first ten years. Built once in a folder and
// reused by each run (on a copy where the run writes).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "archive/archive_support.h"
#include "archive/history_archive.h"
#include "device/device_time.h"

namespace dravion::bench {

// Milliseconds since `from`.
inline double Ms(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - from).count();
}

inline ArchiveBatch Batch(const std::vector<HistoryRecord>& records, size_t from, size_t to) {
  ArchiveBatch batch;
  batch.Serial = "214-36587";
  batch.Uid = "0123456789ABCDEF01234567";
  batch.Coefficient = 127;
  batch.Records.assign(records.begin() + static_cast<long>(from),
                       records.begin() + static_cast<long>(to));
  batch.Ring.RecordCount = static_cast<uint32_t>(to - from);
  return batch;
}

// Ten years and a month of records: the archive holds the first ten years, the rest is what the
// device still holds or recorded since.
inline constexpr uint32_t kTenYears = 5'256'000;
inline constexpr uint32_t kRing = 65'280;

// The stream from 1 December 2016 00:00:17 on.
inline std::vector<HistoryRecord> TenYearStream() {
  TimeRecord begin;
  begin.Bytes = {17, 0, 0, 1, 12, 16, 0};
  return archive_test::RecordStream(kTenYears + 2 * kRing, SecondsFromTimeRecord(begin));
}

// Builds the archive at `base` from the stream's first ten years unless it is there.
inline bool BuildTenYearArchive(const std::filesystem::path& base,
                                const std::vector<HistoryRecord>& stream) {
  namespace fs = std::filesystem;
  using Steady = std::chrono::steady_clock;
  if (!fs::exists(base)) {
    std::printf("Building the ten-year archive in %s ...\n", base.string().c_str());
    const auto started = Steady::now();
    HistoryArchive archive;
    if (!archive.Open(base.string())) {
      std::printf("cannot open: %s\n", archive.Error().c_str());
      return false;
    }
    for (size_t from = 0; from < kTenYears; from += 500'000) {
      const MergeResult r =
          archive.Merge(Batch(stream, from, std::min<size_t>(from + 500'000, kTenYears)));
      if (!r.Ok) {
        std::printf("merge failed: %s\n", r.Error.c_str());
        return false;
      }
    }
    archive.Close();
    std::printf("  built in %.1f s\n", Ms(started) / 1000);
  }
  return true;
}

}  // namespace dravion::bench
