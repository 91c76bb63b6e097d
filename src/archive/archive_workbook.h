#pragma once

#include <cstdint>
#include <string>

#include "archive/archive_stats.h"
#include "archive/history_archive.h"
#include "services/clock.h"
#include "services/file_replace.h"
#include "services/language.h"

namespace dravion {

// What the front sheet says of the device and the workbook.
struct WorkbookInfo {
  std::string Serial;
  std::string Uid;
  int Run = 1;
  int Runs = 1;
  std::string Model;     // empty when not known (the device is not connected)
  std::string Firmware;  // likewise
  FigureUnit Unit = FigureUnit::Sievert;
  Language Texts;  // the language of the sheets' texts
  LocalDateTime Made;
  // The records of every run of the device in the period (its clock was set back), or of the
  // range's run alone.
  bool AllRuns = true;
};

struct WorkbookResult {
  bool Ok = false;
  std::string Error;  // empty on a file error: then Failed says which step
  FileStep Failed = FileStep::Create;
  uint64_t Records = 0;
  uint64_t Days = 0;
};

// An Excel workbook of a range of the archive: a front sheet with the device, the period and its
// figures; the records that start in the period, oldest first (start as an Excel date and time,
// duration, pulses, K, rate and dose as numbers in the unit, a frozen header; past a sheet's
// 1,048,575 rows the records go on in a further sheet); a sheet of days (mean, highest, dose,
// hours covered, the mean's 95% limits) with a chart of the daily mean and highest. The front
// sheet's mean and dose have their 95% limits in rows of their own. Written aside and put in place
// of `path` only when complete.
WorkbookResult WriteArchiveWorkbook(HistoryArchive& archive, const ArchiveRange& range,
                                    const WorkbookInfo& info, const std::string& path,
                                    const FileStepHook& hook = {});

// Excel's serial date (days since 30 December 1899, the day's time as its fraction) of device
// seconds, and of a local time.
double ExcelDate(uint32_t deviceSeconds);
double ExcelDate(const LocalDateTime& t);

}  // namespace dravion
