#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/archive_stats.h"
#include "device/history_chart_model.h"
#include "services/clock.h"

namespace dravion {

class ArchivePane;
class HistoryArchive;
class HistoryController;
struct DeviceContext;
struct SaveFileRequest;

// One line of figures: what it is and its value with its unit ("Highest", "0,310 uSv/h  at
// 03.12.2026 14:05:00").
struct FigureLine {
  std::string Label;
  std::string Value;
};

// The figures as lines, in the unit and the language given; the mean (when there is time
// covered) and the dose with their intervals at `confidence` ("0.467 uSv/h (0.425 to 0.512)",
// "0,467 мкЗв/ч (0,425 – 0,512)"); the time above a threshold only when the figures have one.
std::vector<FigureLine> FigureLines(const ArchiveFigures& figures, FigureUnit unit,
                                    const Language& language,
                                    double confidence = kDefaultConfidence);
// "dd.mm.yyyy hh:mm:ss" of device seconds.
std::string DeviceDateTimeText(uint32_t seconds);
// Another run in a period: "Run 1: <first> - <last>, over this run's <first> - <last>".
std::string OtherRunText(const OtherRun& run, const Language& language);

// What a printed report of a period shows.
struct ArchiveReport {
  std::string Title;
  std::vector<FigureLine> Device;  // serial number, model, firmware, run
  std::string Period;              // "01.12.2026 00:00:00 - 31.12.2026 23:59:59"
  std::vector<FigureLine> Figures;
  HistoryChartData Chart;       // the period at a fitting level (hours, days, months, years)
  char DecimalSeparator = '.';  // of the chart's value axis
  // The table of days (or of months, for a period longer than two months): its column titles
  // and one row per day or month with records.
  std::vector<std::string> Columns;
  std::vector<std::vector<std::string>> Rows;
  std::string Made;  // "Made 08.12.2026 14:30:00"
  std::string Page;  // "Page" (followed by its number)
};

// What a report is made of: the device's records, its serial number (and model and firmware
// when known), the period, the coefficient the chart's title shows, the unit, the threshold
// (uR/h) and the time it is made.
struct ReportRequest {
  int64_t Device = 0;
  std::string Serial, Model, Firmware;
  uint32_t From = 0, To = 0;
  uint32_t Coefficient = 100;
  FigureUnit Unit = FigureUnit::Sievert;
  std::optional<double> Threshold;
  LocalDateTime Made;
};
// False when the archive cannot be read (its Error() says why).
bool MakeArchiveReport(HistoryArchive& archive, const ReportRequest& request,
                       const Language& language, ArchiveReport& report);
// The chart in the unit: its values scaled and the unit in its title.
void ChartInUnit(HistoryChartData& chart, FigureUnit unit, const Language& language);

// The range of the archive view: a period chosen on its chart (by dragging across bars, or typed
// as its first and last second), its figures, the figures of a bar for its tooltip, and the
// period's Excel workbook and report.
class ArchivePeriodView {
 public:
  virtual ~ArchivePeriodView() = default;
  // The period's first and last second (device seconds), for the From and To fields.
  virtual void ShowPeriod(uint32_t from, uint32_t to) = 0;
  virtual void ShowFigures(const std::vector<FigureLine>& lines) = 0;
  // The unit and the threshold (in the unit; none: no time above one) the figures now take.
  virtual void ShowUnit(FigureUnit unit, std::optional<double> threshold) = 0;
};

class ArchivePeriodController {
 public:
  ArchivePeriodController(DeviceContext& context, ArchivePane& pane, HistoryController& files,
                          ArchivePeriodView& view);

  // The unit of the figures, the chart and the files; the threshold in uR/h (none: no time
  // above one).
  FigureUnit Unit = FigureUnit::Sievert;
  std::optional<double> Threshold;
  uint32_t From = 0;
  uint32_t To = 0;
  ArchiveFigures Figures;

  // The chart shows another view: the period becomes the chart's whole period. For another
  // device the unit and threshold become the device's as its settings were last read.
  void OnChartDrawn();
  // The period typed (or given by the keyboard): first and last second, in either order.
  void SetPeriod(uint32_t from, uint32_t to);
  // Bars `first` to `last` of the chart shown (dragged across), in either order.
  void SetBars(int first, int last);
  void SetUnit(FigureUnit unit);
  // The threshold as typed in the unit; none without one.
  void SetThreshold(std::optional<double> valueInUnit);
  // The figures of bar `bar` of the chart shown, for its tooltip (empty outside the chart).
  std::string BarText(int bar);

  // "Save as Excel workbook…": the period's workbook, with the save dialog and the file boxes.
  void OnSaveWorkbookClicked();
  // The name the PDF report is saved as, asked with the save dialog; false when cancelled.
  bool AskReportName(std::string& name);
  // What the report of the period shows; false, with a box, when the archive cannot be read.
  bool MakeReport(ArchiveReport& report);
  // Reports the outcome of writing the report's file (an error box names it).
  void ReportWritten(const std::string& name, bool ok);

 private:
  std::string Text(const char* russian, const char* english) const;
  bool Compute(uint32_t from, uint32_t to, ArchiveFigures& figures);
  // The save dialog for a file of the period ("history" or "report" in the name it offers).
  bool AskName(const std::string& title, const std::string& filter, const std::string& suffix,
               const std::string& what, std::string& name);
  void Refresh();

  DeviceContext& context_;
  ArchivePane& pane_;
  HistoryController& files_;
  ArchivePeriodView& view_;
  std::string lastWorkbook_, lastReport_;
  int64_t device_ = 0;  // the device whose chart was drawn last (its row and serial number:
  std::string serial_;  // another archive file may hold another device under the same row)
};

}  // namespace dravion
