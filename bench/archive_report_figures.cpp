// Figures of the archive's statistics, workbook and report over the ten-year archive (one record
// a minute, about 5.3 million): the figures of all ten years (the first time, when the per-day
// figures are made, and after), of a year and of a day, with and without a threshold that the
// day's rates lie on both sides of; a year's Excel workbook; a year's PDF report.
//
//   xvfb-run -a build/bench/archive_report_figures [FOLDER]   (or QT_QPA_PLATFORM=offscreen)
//
// The ten-year archive is built once in FOLDER (default: the system's temporary folder) as
// archive-10y.sqlite3, as archive_figures builds it; each run works on a copy.
#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive_period.h"
#include "archive/archive_stats.h"
#include "archive/archive_workbook.h"
#include "ten_year_archive.h"
#include "ui/archive_report_pdf.h"

namespace {

using namespace dravion;
using namespace dravion::bench;
namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
  const fs::path base = folder / "archive-10y.sqlite3";
  const fs::path work = folder / "archive-10y-report.sqlite3";
  if (!BuildTenYearArchive(base, TenYearStream())) return 1;
  for (const char* part : {"", "-wal", "-shm"})
    fs::remove(work.string() + part);
  fs::copy_file(base, work);

  HistoryArchive archive;
  if (!archive.Open(work.string())) {
    std::printf("cannot open: %s\n", archive.Error().c_str());
    return 1;
  }
  const ArchiveDevice device = archive.Devices().at(0);
  const uint32_t yearFrom = device.LastStart - 365 * 86400;
  const uint32_t dayFrom = device.LastStart - device.LastStart % 86400 - 86400;

  auto figures = [&](const char* what, uint32_t from, uint32_t to, std::optional<double> above,
                     int runs) {
    std::vector<double> times;
    ArchiveFigures f;
    for (int i = 0; i < runs; ++i) {
      const auto t = Steady::now();
      if (!ArchiveStatistics(archive, {device.Id, from, to, above}, f)) {
        std::printf("read failed: %s\n", archive.Error().c_str());
        std::exit(1);
      }
      times.push_back(Ms(t));
    }
    std::sort(times.begin(), times.end());
    std::printf("  %-44s median %7.1f ms  worst %7.1f ms  (%llu records, mean %.1f uR/h)\n", what,
                times[times.size() / 2], times.back(), static_cast<unsigned long long>(f.Records),
                f.MeanRate());
  };
  std::printf("Figures of a period (ms):\n");
  figures("ten years, the first time (days made)", device.FirstStart, device.LastEnd, {}, 1);
  figures("ten years", device.FirstStart, device.LastEnd, {}, 15);
  figures("ten years, above 30 uR/h (both sides)", device.FirstStart, device.LastEnd, 30.0, 15);
  figures("ten years cut inside days", device.FirstStart + 4000, device.LastEnd - 4000, 30.0, 15);
  figures("a year", yearFrom, device.LastStart, 30.0, 15);
  figures("a day", dayFrom, dayFrom + 86399, 30.0, 15);

  LocalDateTime made{2026, 12, 8, 12, 0, 0};
  const fs::path xlsx = folder / "archive-year.xlsx";
  WorkbookInfo info;
  info.Serial = device.Serial;
  info.Uid = device.Uid;
  info.Texts.Set(Lang::English);
  info.Made = made;
  auto t = Steady::now();
  const WorkbookResult written =
      WriteArchiveWorkbook(archive, {device.Id, yearFrom, device.LastStart}, info, xlsx.string());
  const double workbookMs = Ms(t);
  if (!written.Ok) {
    std::printf("workbook failed: %s\n", written.Error.c_str());
    return 1;
  }
  std::printf("A year's Excel workbook: %.2f s, %llu records, %llu days, %.1f MB\n",
              workbookMs / 1000, static_cast<unsigned long long>(written.Records),
              static_cast<unsigned long long>(written.Days),
              static_cast<double>(fs::file_size(xlsx)) / 1e6);
  fs::remove(xlsx);

  const fs::path pdf = folder / "archive-year.pdf";
  Language english;
  english.Set(Lang::English);
  ReportRequest request;
  request.Device = device.Id;
  request.Serial = device.Serial;
  request.From = yearFrom;
  request.To = device.LastStart;
  request.Coefficient = device.Coefficient;
  request.Threshold = 30.0;
  request.Made = made;
  t = Steady::now();
  ArchiveReport report;
  if (!MakeArchiveReport(archive, request, english, report)) return 1;
  const double reportMs = Ms(t);
  t = Steady::now();
  if (!ui::WriteReportPdf(report, QString::fromStdString(pdf.string()))) return 1;
  const double pdfMs = Ms(t);
  std::printf(
      "A year's PDF report: %.2f s (figures and table %.0f ms, the document %.0f ms), "
      "%zu rows, %.0f KB\n",
      (reportMs + pdfMs) / 1000, reportMs, pdfMs, report.Rows.size(),
      static_cast<double>(fs::file_size(pdf)) / 1e3);
  fs::remove(pdf);
  archive.Close();
  for (const char* part : {"", "-wal", "-shm"})
    fs::remove(work.string() + part);
  return 0;
}
