// The history archive's figures over ten years of records at one a minute (about 5.3 million):
// merging a full ring (65,280 records) into it, the chart's redraw per level, the export of
// everything as CSV, the file's size per million records, and the memory of a process that has
// it open with its charts drawn.
//
//   build/bench/archive_figures [FOLDER]
//
// The ten-year archive is built once in FOLDER (default: the system's temporary folder) as
// archive-10y.sqlite3 and reused; each run works on a copy.
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/archive_support.h"
#include "archive/history_archive.h"
#include "device/device_time.h"
#include "services/language.h"
#include "ten_year_archive.h"

namespace {

using namespace dravion;
using namespace dravion::bench;
namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

long RssKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
  const fs::path base = folder / "archive-10y.sqlite3";
  const fs::path work = folder / "archive-10y-work.sqlite3";
  const std::vector<HistoryRecord> stream = TenYearStream();
  const long rssStart = RssKiB();

  if (!BuildTenYearArchive(base, stream)) return 1;
  for (const char* part : {"", "-wal", "-shm"})
    fs::remove(work.string() + part);
  fs::copy_file(base, work);

  HistoryArchive archive;
  auto started = Steady::now();
  if (!archive.Open(work.string())) {
    std::printf("cannot open: %s\n", archive.Error().c_str());
    return 1;
  }
  const double openMs = Ms(started);
  const ArchiveDevice device = archive.Devices().at(0);
  std::printf("Archive: %llu records, %s to %s\n", static_cast<unsigned long long>(device.Records),
              FormatDeviceDate(TimeRecordFromSeconds(device.FirstStart)).c_str(),
              FormatDeviceDate(TimeRecordFromSeconds(device.LastStart)).c_str());
  const double bytes = static_cast<double>(fs::file_size(work));
  std::printf("Size on disk: %.1f MB, %.1f MB per million records (%.1f bytes a record)\n",
              bytes / 1e6, bytes / 1e6 / (static_cast<double>(device.Records) / 1e6),
              bytes / static_cast<double>(device.Records));
  std::printf("Open: %.0f ms\n", openMs);

  // Merges of a full ring: the usual one (the device downloaded a few weeks ago: 20,000 records
  // new, the rest there already), the same ring again, and one that is all new.
  auto merge = [&](const char* what, size_t from, size_t to) {
    const auto t = Steady::now();
    const MergeResult r = archive.Merge(Batch(stream, from, to));
    std::printf("Merge of a full ring, %s: %.0f ms (%llu new, %llu already there)\n", what, Ms(t),
                static_cast<unsigned long long>(r.Added),
                static_cast<unsigned long long>(r.AlreadyThere));
  };
  merge("20,000 records new", kTenYears + 20'000 - kRing, kTenYears + 20'000);
  merge("the same again", kTenYears + 20'000 - kRing, kTenYears + 20'000);
  merge("all new", kTenYears + 20'000, kTenYears + 20'000 + kRing);

  // The chart: each level at 40 views spread over the ten years (the first after opening).
  Language language;
  language.Set(Lang::English);
  const ArchiveDevice now = archive.Devices().at(0);
  const char* names[] = {"minute", "hour", "day", "month", "year"};
  std::printf("Chart redraw over the archive (40 views across ten years, ms):\n");
  for (int level = kLevelMinute; level <= kLevelYear; ++level) {
    std::vector<double> times;
    for (int i = 0; i < 40; ++i) {
      TimeRecord view = TimeRecordFromSeconds(
          now.FirstStart +
          static_cast<uint32_t>(uint64_t{now.LastStart - now.FirstStart} * i / 39));
      const auto t = Steady::now();
      const auto periods = archive.Periods(now.Id);
      const HistoryChartData chart = DrawHistoryChart(*periods, view, level, 127, true, language);
      times.push_back(Ms(t));
      if (chart.Rate.empty()) return 1;
    }
    std::sort(times.begin(), times.end());
    std::printf("  %-6s median %.2f  90%% %.2f  worst %.2f\n", names[level], times[20], times[36],
                times.back());
  }
  const long rssCharts = RssKiB();
  sqlite3_int64 current = sqlite3_memory_used(), highest = sqlite3_memory_highwater(0);

  // The export of everything.
  const fs::path csv = folder / "archive-10y.csv";
  started = Steady::now();
  const ExportResult exported = archive.ExportCsv({}, csv.string());
  const double exportMs = Ms(started);
  std::printf("Export of everything as CSV: %.1f s, %llu lines, %.0f MB\n", exportMs / 1000,
              static_cast<unsigned long long>(exported.Lines),
              static_cast<double>(fs::file_size(csv)) / 1e6);
  fs::remove(csv);
  std::printf(
      "Memory: process %ld KiB at start, %ld KiB with the archive open and charted "
      "(%ld KiB more; of it SQLite %lld KiB now, %lld KiB at most), %ld KiB after the "
      "export\n",
      rssStart, rssCharts, rssCharts - rssStart, static_cast<long long>(current / 1024),
      static_cast<long long>(highest / 1024), RssKiB());
  archive.Close();
  for (const char* part : {"", "-wal", "-shm"})
    fs::remove(work.string() + part);
  return 0;
}
