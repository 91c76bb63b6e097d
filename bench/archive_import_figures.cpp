// archive import of a long history CSV: the time and the peak memory the import adds (the
// process's high-water mark before and after), for a file of N lines (default 2,000,000, about
// 140 MB; 8,000,000 lines make a file of about 550 MB).
//
//   build/bench/archive_import_figures [LINES] [FOLDER]
//
// The CSV is written once in FOLDER (default: the system's temporary folder) and reused; each run
// imports it into a new archive there.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "archive/archive_files.h"
#include "archive/archive_session.h"
#include "archive/history_archive.h"
#include "device/history_csv.h"
#include "services/language.h"

namespace {

using namespace dravion;
namespace fs = std::filesystem;

long StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string name = std::string(field) + ":";
  while (std::getline(status, line)) {
    if (line.rfind(name, 0) == 0) return std::stol(line.substr(name.size()));
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t lines = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 2'000'000;
  const fs::path folder = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path();
  const fs::path csv = folder / ("import-" + std::to_string(lines) + ".csv");
  const fs::path archivePath = folder / "import-figures.sqlite3";
  if (!fs::exists(csv)) {
    // A record a minute, newest first, as Save CSV writes them, streamed to the file.
    std::ofstream out(csv, std::ios::binary);
    const uint32_t newest = 800'000'017 + static_cast<uint32_t>(lines) * 60;
    for (uint64_t row = 1; row <= lines; ++row) {
      HistoryRecord r;
      r.Kind = kKindOnTime;
      r.Status = 0;
      r.Start = newest - static_cast<uint32_t>(row) * 60;
      r.Duration = 60;
      r.Pulses = 18 + static_cast<uint32_t>(row * 7 % 23);
      out << CsvLine(r, static_cast<uint32_t>(row), 127);
    }
  }
  for (const char* suffix : {"", "-wal", "-shm"})
    fs::remove(archivePath.string() + suffix);

  const long peakBefore = StatusKiB("VmHWM");
  const auto started = std::chrono::steady_clock::now();
  HistoryArchive archive;
  if (!archive.Open(archivePath.string())) {
    std::printf("cannot open the archive: %s\n", archive.Error().c_str());
    return 1;
  }
  FileReader file;
  std::string error;
  if (!OpenFileToRead(csv.string(), file, error)) {
    std::printf("cannot read %s: %s\n", csv.string().c_str(), error.c_str());
    return 1;
  }
  const CsvImportPlan plan = PlanCsvImport(file);
  if (!plan.Ok) {
    std::printf("not imported: %s %zu %s\n", plan.ReadError.c_str(), plan.Line,
                plan.Reason.c_str());
    return 1;
  }
  ArchiveBatch batch;
  batch.Serial = "214-36587";
  batch.File = csv.string();
  Language language;
  std::string notice;
  const CsvImportResult imported = ImportCsvParts(archive, file, plan, batch, language, notice);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (!imported.Ok) {
    std::printf("import failed: %s\n", imported.Error.c_str());
    return 1;
  }
  const long peakAfter = StatusKiB("VmHWM");
  std::printf("CSV: %llu lines, %.1f MB\n", static_cast<unsigned long long>(lines),
              static_cast<double>(fs::file_size(csv)) / 1e6);
  std::printf("import: %zu parts, %llu records added, %.1f s\n", imported.PartsMerged,
              static_cast<unsigned long long>(imported.Merged.Added), seconds);
  std::printf("peak RSS: %.1f MB before, %.1f MB after: the import added %.1f MB\n",
              peakBefore / 1024.0, peakAfter / 1024.0, (peakAfter - peakBefore) / 1024.0);
  archive.Close();
  for (const char* suffix : {"", "-wal", "-shm"})
    fs::remove(archivePath.string() + suffix);
  return 0;
}
