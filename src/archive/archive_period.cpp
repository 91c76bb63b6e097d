#include "archive/archive_period.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "archive/archive_pane.h"
#include "archive/archive_session.h"
#include "archive/archive_workbook.h"
#include "device/device_context.h"
#include "device/device_time.h"
#include "device/history_controller.h"
#include "protocol/device_format.h"
#include "protocol/identification.h"
#include "services/dialogs.h"
#include "services/language.h"
#include "services/wording.h"

namespace dravion {

namespace {

constexpr uint32_t kDay = 86400;

// The first second of the month after the one that holds `seconds`.
uint32_t NextMonth(uint32_t seconds) {
  TimeRecord t = TimeRecordFromSeconds(seconds);
  t.Bytes = {0,
             0,
             0,
             1,
             static_cast<uint8_t>(t.Bytes[4] % 12 + 1),
             static_cast<uint8_t>(t.Bytes[5] + (t.Bytes[4] == 12 ? 1 : 0)),
             0};
  return SecondsFromTimeRecord(t);
}

std::string MonthText(uint32_t seconds) {
  const TimeRecord t = TimeRecordFromSeconds(seconds);
  char text[16];
  std::snprintf(text, sizeof text, "%02u.20%02u", t.Bytes[4] % 100u, t.Bytes[5] % 100u);
  return text;
}

// A figure's interval after it in the text: " (0.139 to 0.145)" (an unbounded limit as "∞").
std::string IntervalText(const Interval& i, FigureUnit unit, const Language& l,
                         double (*in)(FigureUnit, double)) {
  auto number = [&](double value) {
    return std::isfinite(value) ? FigureNumber(in(unit, value), unit, l) : std::string("∞");
  };
  return " (" + number(i.Low) + l.Text(" – ", " to ") + number(i.High) + ")";
}

}  // namespace

std::string DeviceDateTimeText(uint32_t seconds) {
  const TimeRecord t = TimeRecordFromSeconds(seconds);
  return FormatDeviceDate(t) + " " + FormatDeviceClock(t);
}

std::vector<FigureLine> FigureLines(const ArchiveFigures& f, FigureUnit unit, const Language& l,
                                    double confidence) {
  const std::string rateUnit = FigureRateUnit(unit, l);
  auto rate = [&](double value) {
    return FigureNumber(RateIn(unit, value), unit, l) + " " + rateUnit;
  };
  std::vector<FigureLine> lines;
  lines.push_back({l.Text("Записей", "Records"), GroupedNumber(f.Records, l)});
  lines.push_back({l.Text("Покрыто", "Covered"), DurationText(f.Covered, l)});
  std::string gaps = GroupedNumber(f.Gaps, l);
  if (f.Gaps > 0)
    gaps += l.Text(", самый долгий ", ", the longest ") + DurationText(f.LongestGap, l);
  lines.push_back({l.Text("Пропусков", "Gaps"), gaps});
  lines.push_back(
      {l.Text("Среднее", "Mean"),
       f.Covered ? rate(f.MeanRate()) + IntervalText(f.MeanInterval(confidence), unit, l, RateIn)
                 : "-"});
  if (f.HasRates) {
    lines.push_back({l.Text("Наибольшее", "Highest"),
                     rate(f.MaxRate) + l.Text("  в ", "  at ") + DeviceDateTimeText(f.MaxAt)});
    lines.push_back({l.Text("Наименьшее", "Lowest"),
                     rate(f.MinRate) + l.Text("  в ", "  at ") + DeviceDateTimeText(f.MinAt)});
  }
  // A period without records has no dose to be unsure of.
  lines.push_back({l.Text("Доза", "Dose"),
                   FigureNumber(DoseIn(unit, f.Dose()), unit, l) + " " + FigureDoseUnit(unit, l) +
                       (f.Records > 0 ? IntervalText(f.DoseInterval(confidence), unit, l, DoseIn)
                                      : std::string())});
  if (f.HasThreshold)
    lines.push_back({l.Text("Выше ", "Above ") + rate(f.Threshold), DurationText(f.Above, l)});
  return lines;
}

namespace {

// The chart's records of several runs of a device (its clock was set back), bar by bar together.
class RunsPeriods : public HistoryPeriodSource {
 public:
  void Add(std::unique_ptr<HistoryPeriodSource> run) { runs_.push_back(std::move(run)); }
  void StartPeriods(uint32_t t) override {
    for (const auto& run : runs_)
      run->StartPeriods(t);
  }
  PeriodTotals NextPeriod(uint32_t length) override {
    PeriodTotals sum;
    for (const auto& run : runs_) {
      const PeriodTotals totals = run->NextPeriod(length);
      sum.WeightedPulses += totals.WeightedPulses;
      sum.Covered += totals.Covered;
      sum.WeightedMaxRate10 = std::max(sum.WeightedMaxRate10, totals.WeightedMaxRate10);
    }
    return sum;
  }
  void EndPeriods() override {
    for (const auto& run : runs_)
      run->EndPeriods();
  }

 private:
  std::vector<std::unique_ptr<HistoryPeriodSource>> runs_;
};

}  // namespace

std::string OtherRunText(const OtherRun& run, const Language& l) {
  std::string text = l.Text("Серия ", "Run ") + std::to_string(run.Run) + ": " +
                     DeviceDateTimeText(run.First) + " - " + DeviceDateTimeText(run.Last);
  if (run.Overlaps)
    text += l.Text(", поверх этой серии ", ", over this run's ") +
            DeviceDateTimeText(run.OverlapFirst) + " - " + DeviceDateTimeText(run.OverlapLast);
  return text;
}

bool MakeArchiveReport(HistoryArchive& archive, const ReportRequest& request, const Language& l,
                       ArchiveReport& report) {
  const FigureUnit unit = request.Unit;
  report = ArchiveReport{};
  report.Title = l.Text("Отчёт о мощности дозы", "Dose rate report");
  report.Device.push_back({l.Text("Серийный номер", "Serial number"), request.Serial});
  if (!request.Model.empty()) report.Device.push_back({l.Text("Модель", "Model"), request.Model});
  if (!request.Firmware.empty())
    report.Device.push_back({l.Text("Программа", "Firmware"), request.Firmware});
  report.Period = DeviceDateTimeText(request.From) + " - " + DeviceDateTimeText(request.To);
  // The period's figures and those of its days or months: one read of the archive.
  FigureRead read(archive);
  FigureRange range;
  range.Device = request.Device;
  range.From = request.From;
  range.To = request.To;
  range.Threshold = request.Threshold;
  ArchiveFigures figures;
  if (!read.Figures(range, figures)) return false;
  report.Figures = FigureLines(figures, unit, l);
  for (const OtherRun& other : figures.OtherRuns)
    report.Device.push_back({l.Text("Также", "Also"), OtherRunText(other, l)});

  // Days, or months for a long period.
  const uint32_t length = request.To - request.From;
  const bool byMonth = length > 62 * kDay;
  report.Columns = {byMonth ? l.Text("Месяц", "Month") : l.Text("День", "Day"),
                    l.Text("Среднее, ", "Mean, ") + FigureRateUnit(unit, l),
                    l.Text("Наибольшее, ", "Highest, ") + FigureRateUnit(unit, l),
                    l.Text("Доза, ", "Dose, ") + FigureDoseUnit(unit, l),
                    l.Text("Покрыто", "Covered")};
  for (uint64_t start = request.From; start <= request.To;) {
    uint64_t next = byMonth ? NextMonth(static_cast<uint32_t>(start)) : (start / kDay + 1) * kDay;
    if (next <= start) next = uint64_t{request.To} + 1;  // past the calendar's last month
    FigureRange part = range;
    part.From = static_cast<uint32_t>(start);
    part.To = static_cast<uint32_t>(std::min<uint64_t>(next - 1, request.To));
    ArchiveFigures f;
    if (!read.Figures(part, f)) return false;
    if (f.Records > 0) {
      const TimeRecord t = TimeRecordFromSeconds(part.From);
      report.Rows.push_back({byMonth ? MonthText(part.From) : FormatDeviceDate(t),
                             f.Covered ? FigureNumber(RateIn(unit, f.MeanRate()), unit, l) : "-",
                             f.HasRates ? FigureNumber(RateIn(unit, f.MaxRate), unit, l) : "-",
                             FigureNumber(DoseIn(unit, f.Dose()), unit, l),
                             DurationText(f.Covered, l)});
    }
    start = next;
  }

  // The chart of the period chosen, whatever the window shows, with the records of every run
  // the figures take.
  RunsPeriods periods;
  periods.Add(archive.Periods(request.Device));
  if (!figures.OtherRuns.empty()) {
    const std::optional<ArchiveDevice> named = archive.Device(request.Device);
    if (named) {
      for (const ArchiveDevice& d : archive.DevicesOfSerial(named->Serial)) {
        const bool taken = d.Uid == named->Uid &&
                           std::any_of(figures.OtherRuns.begin(), figures.OtherRuns.end(),
                                       [&](const OtherRun& other) { return other.Run == d.Run; });
        if (taken) periods.Add(archive.Periods(d.Id));
      }
    }
    if (archive.ReadFailed()) return false;
  }
  report.Chart = DrawPeriodChart(periods, request.From, request.To, request.Coefficient, true, l);
  if (archive.ReadFailed()) return false;
  ChartInUnit(report.Chart, unit, l);
  report.DecimalSeparator = DecimalSeparator(l);
  report.Made = l.Text("Составлено ", "Made ") + FormatDateTime(request.Made);
  report.Page = l.Text("Страница", "Page");
  return true;
}

void ChartInUnit(HistoryChartData& chart, FigureUnit unit, const Language& language) {
  if (unit != FigureUnit::Sievert || chart.Title.empty()) return;
  // The unit line ("uR/h  K = 1,27") names the unit before the coefficient.
  std::string& line = chart.Title.back();
  const size_t gap = line.find("  ");
  if (gap != std::string::npos) line = FigureRateUnit(unit, language) + line.substr(gap);
  chart.ValueScale = RateIn(unit, 1.0);
}

ArchivePeriodController::ArchivePeriodController(DeviceContext& context, ArchivePane& pane,
                                                 HistoryController& files, ArchivePeriodView& view)
    : context_(context), pane_(pane), files_(files), view_(view) {}

std::string ArchivePeriodController::Text(const char* russian, const char* english) const {
  return context_.language.Text(russian, english);
}

bool ArchivePeriodController::Compute(uint32_t from, uint32_t to, ArchiveFigures& figures) {
  HistoryArchive* archive = pane_.Shown() ? pane_.Archive() : nullptr;
  if (archive == nullptr) return false;
  FigureRange range;
  range.Device = pane_.DeviceId();
  range.From = from;
  range.To = to;
  range.Threshold = Threshold;
  return ArchiveStatistics(*archive, range, figures);
}

void ArchivePeriodController::Refresh() {
  view_.ShowPeriod(From, To);
  if (!Compute(From, To, Figures)) {
    view_.ShowFigures({});
    return;
  }
  view_.ShowFigures(FigureLines(Figures, Unit, context_.language));
}

void ArchivePeriodController::OnChartDrawn() {
  if (!pane_.Shown()) return;
  if (pane_.DeviceId() != device_ || pane_.Serial() != serial_) {
    device_ = pane_.DeviceId();
    serial_ = pane_.Serial();
    // The device's unit and threshold as its settings were last read; for a device whose
    // settings never were, the defaults: nothing of the device shown before carries over.
    const std::optional<DeviceAlarm> alarm =
        RememberedDeviceAlarm(*pane_.Archive(), pane_.Serial());
    const FigureUnit unit = alarm ? alarm->Unit : FigureUnit::Sievert;
    Threshold.reset();
    if (alarm) Threshold = alarm->Threshold;
    view_.ShowUnit(unit,
                   Threshold ? std::optional<double>(RateIn(unit, *Threshold)) : std::nullopt);
    if (unit != Unit) {
      SetUnit(unit);  // draws the chart again, in the device's unit
      return;
    }
  }
  const auto periods = HistoryChartPeriods(pane_.ViewTime, pane_.Level);
  From = periods.front().first;
  To = static_cast<uint32_t>(
      std::min<uint64_t>(uint64_t{periods.back().first} + periods.back().second - 1, 0xFFFFFFFFu));
  Refresh();
}

void ArchivePeriodController::SetPeriod(uint32_t from, uint32_t to) {
  From = std::min(from, to);
  To = std::max(from, to);
  Refresh();
}

void ArchivePeriodController::SetBars(int first, int last) {
  if (!pane_.Shown()) return;
  const auto periods = HistoryChartPeriods(pane_.ViewTime, pane_.Level);
  const int count = static_cast<int>(periods.size());
  const int a = std::clamp(std::min(first, last), 0, count - 1);
  const int b = std::clamp(std::max(first, last), 0, count - 1);
  SetPeriod(periods[a].first,
            static_cast<uint32_t>(std::min<uint64_t>(
                uint64_t{periods[b].first} + periods[b].second - 1, 0xFFFFFFFFu)));
}

void ArchivePeriodController::SetUnit(FigureUnit unit) {
  Unit = unit;
  pane_.Unit = unit;
  if (pane_.Shown()) pane_.DrawChart();
  Refresh();
}

void ArchivePeriodController::SetThreshold(std::optional<double> valueInUnit) {
  Threshold.reset();
  if (valueInUnit) Threshold = RateFrom(Unit, *valueInUnit);
  Refresh();
}

std::string ArchivePeriodController::BarText(int bar) {
  if (!pane_.Shown()) return {};
  const auto periods = HistoryChartPeriods(pane_.ViewTime, pane_.Level);
  if (bar < 0 || bar >= static_cast<int>(periods.size())) return {};
  const uint32_t from = periods[bar].first;
  const uint32_t to = static_cast<uint32_t>(
      std::min<uint64_t>(uint64_t{from} + periods[bar].second - 1, 0xFFFFFFFFu));
  ArchiveFigures figures;
  if (!Compute(from, to, figures)) return {};
  std::string text = DeviceDateTimeText(from) + " - " + DeviceDateTimeText(to);
  for (const FigureLine& line : FigureLines(figures, Unit, context_.language))
    text += "\n" + line.Label + ": " + line.Value;
  return text;
}

bool ArchivePeriodController::AskName(const std::string& title, const std::string& filter,
                                      const std::string& suffix, const std::string& what,
                                      std::string& name) {
  SaveFileRequest request;
  request.Title = title;
  request.Filter = filter;
  request.DefaultSuffix = suffix;
  request.SuggestedName = SuggestedFileName(pane_.Serial(), what, context_.clock.Now(), suffix);
  return pane_.AskSaveFileName(request, name) && !name.empty();
}

void ArchivePeriodController::OnSaveWorkbookClicked() {
  HistoryArchive* archive = pane_.Shown() ? pane_.Archive() : nullptr;
  if (archive == nullptr) return;
  std::string name = lastWorkbook_;
  if (!AskName(Text("Сохранение в книгу Excel", "Saving as an Excel workbook"),
               Text("Книги Excel (*.xlsx)|*.xlsx", "Excel workbooks (*.xlsx)|*.xlsx"), "xlsx",
               "history", name))
    return;
  const std::optional<ArchiveDevice> device = archive->Device(pane_.DeviceId());
  WorkbookInfo info;
  info.Serial = pane_.Serial();
  if (device) {
    info.Uid = device->Uid;
    info.Run = device->Run;
    info.Runs = device->Runs;
  }
  if (context_.device.Valid && ArchiveSerialOf(context_.device) == info.Serial) {
    info.Model = context_.device.Name;
    info.Firmware = FormatVersion(context_.device.Soft.MainVersion);
  }
  info.Unit = Unit;
  info.Texts = context_.language;
  info.Made = context_.clock.Now();
  ArchiveRange range;
  range.Device = pane_.DeviceId();
  range.From = From;
  range.To = To;
  std::string readError;
  if (files_.SaveFile(name, [&](const FileStepHook& hook) {
        const WorkbookResult written = WriteArchiveWorkbook(*archive, range, info, name, hook);
        if (archive->ReadFailed()) readError = archive->Error();
        return FileWriteResult{written.Ok, written.Failed};
      }))
    lastWorkbook_ = name;
  if (!readError.empty()) context_.dialogs.ShowMessage(BoxKind::Error, readError);
}

bool ArchivePeriodController::AskReportName(std::string& name) {
  if (!pane_.Shown()) return false;
  name = lastReport_;
  if (!AskName(Text("Сохранение отчёта в PDF", "Saving the report as PDF"),
               Text("Документы PDF (*.pdf)|*.pdf", "PDF documents (*.pdf)|*.pdf"), "pdf", "report",
               name))
    return false;
  if (FileExists(name) &&
      !context_.dialogs.Ask(QuestionKind::Warning, Text("Файл\r\n", "File\r\n") + name +
                                                       Text("\r\nуже существует\r\nПерезаписать?",
                                                            "\r\nalready exists\r\nRewrite?")))
    return false;
  return true;
}

bool ArchivePeriodController::MakeReport(ArchiveReport& report) {
  HistoryArchive* archive = pane_.Shown() ? pane_.Archive() : nullptr;
  if (archive == nullptr) return false;
  ReportRequest request;
  request.Device = pane_.DeviceId();
  request.Serial = pane_.Serial();
  if (context_.device.Valid && ArchiveSerialOf(context_.device) == pane_.Serial()) {
    request.Model = context_.device.Name;
    request.Firmware = FormatVersion(context_.device.Soft.MainVersion);
  }
  request.From = From;
  request.To = To;
  request.Coefficient = pane_.Coefficient();
  request.Unit = Unit;
  request.Threshold = Threshold;
  request.Made = context_.clock.Now();
  if (MakeArchiveReport(*archive, request, context_.language, report)) return true;
  context_.dialogs.ShowMessage(BoxKind::Error, ArchiveErrorMessage(*archive, context_.language));
  return false;
}

void ArchivePeriodController::ReportWritten(const std::string& name, bool ok) {
  if (ok) {
    lastReport_ = name;
    return;
  }
  context_.dialogs.ShowMessage(BoxKind::Error,
                               Text("Ошибка записи файла\r\n", "File write Error\r\n") + name);
}

}  // namespace dravion
