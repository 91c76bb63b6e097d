#include "archive/archive_workbook.h"

#include <sqlite3.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <random>
#include <vector>

#include "archive/archive_files.h"
#include "archive/archive_period.h"

#ifndef _WIN32
#include <locale.h>
#endif

namespace dravion {

namespace {

// Debian's libxlsxwriter writes numbers with printf's %.16G, which follows LC_NUMERIC: under a
// Russian locale (the window sets the process's locale from the user's) a workbook would hold
// "1,5", which Excel cannot read. While a workbook is written, this thread alone uses the C
// locale's numbers. (The Windows build of the library converts numbers itself, whatever the
// locale.)
class ThreadNumbersInCLocale {
 public:
#ifndef _WIN32
  ThreadNumbersInCLocale()
      : c_(newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr))),
        previous_(c_ ? uselocale(c_) : static_cast<locale_t>(nullptr)) {}
  ~ThreadNumbersInCLocale() {
    if (!c_) return;
    uselocale(previous_);
    freelocale(c_);
  }

 private:
  locale_t c_;
  locale_t previous_;
#endif
};

constexpr uint64_t kDay = 86400;
// Device seconds count from 1 January 2000, Excel's day 36526.
constexpr double kExcelDay2000 = 36526;
// Rows of a sheet below its header line.
constexpr uint32_t kSheetRows = 1048575;

std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(reinterpret_cast<const char8_t*>(utf8.c_str()));
}

// A name of our own next to the target, so that the rename stays inside one file system.
std::string AsideName(const std::string& path) {
  std::random_device seed;
  return path + ".part-" + std::to_string(seed() % 1000000000u);
}

// Copies the workbook written aside into the file that replaces `path`.
FileWriteResult PutInPlace(const std::string& aside, const std::string& path,
                           const FileStepHook& hook, std::string& error) {
  ReplacingFile file(path, hook);
  FileWriteResult result;
  FileReader reader;
  if (!OpenFileToRead(aside, reader, error)) return result;
  if (!file.Open()) return result;
  std::vector<char> buffer(1 << 20);
  for (;;) {
    size_t got = 0;
    if (!reader.Read(buffer.data(), buffer.size(), got, error)) return result;
    if (got == 0) break;
    file.Write(std::string_view(buffer.data(), got));
  }
  return file.Commit();
}

// The days of [from, to], each cut to the period: the first second and the last.
std::vector<std::pair<uint32_t, uint32_t>> DaysOf(uint32_t from, uint32_t to) {
  std::vector<std::pair<uint32_t, uint32_t>> days;
  for (uint64_t start = from; start <= to;) {
    const uint64_t next = (start / kDay + 1) * kDay;
    days.emplace_back(static_cast<uint32_t>(start),
                      static_cast<uint32_t>(std::min<uint64_t>(next - 1, to)));
    start = next;
  }
  return days;
}

// "dd.mm.yyyy hh:mm:ss" of device seconds, as the front sheet's texts give times.
std::string WorkbookTime(uint32_t seconds) {
  return DeviceDateTimeText(seconds);
}

// Cell writes, each checked: the first the library refuses is kept, with the cell it was.
class Cells {
 public:
  bool Ok() const { return error_ == LXW_NO_ERROR; }
  std::string Error() const { return std::string(lxw_strerror(error_)) + " (" + where_ + ")"; }
  void Number(lxw_worksheet* sheet, uint32_t row, int column, double value, lxw_format* format) {
    Check(worksheet_write_number(sheet, row, static_cast<lxw_col_t>(column), value, format), sheet,
          row, column);
  }
  // A limit of an interval: left empty when unbounded (a cell holds no infinity).
  void Limit(lxw_worksheet* sheet, uint32_t row, int column, double value, lxw_format* format) {
    if (std::isfinite(value)) Number(sheet, row, column, value, format);
  }
  void Text(lxw_worksheet* sheet, uint32_t row, int column, const std::string& text,
            lxw_format* format) {
    Check(worksheet_write_string(sheet, row, static_cast<lxw_col_t>(column), text.c_str(), format),
          sheet, row, column);
  }

 private:
  void Check(lxw_error rc, lxw_worksheet* sheet, uint32_t row, int column) {
    if (rc == LXW_NO_ERROR || error_ != LXW_NO_ERROR) return;
    error_ = rc;
    char cell[16];
    lxw_rowcol_to_cell(cell, row, static_cast<lxw_col_t>(column));
    where_ = std::string(sheet->name ? sheet->name : "") + "!" + cell;
  }
  lxw_error error_ = LXW_NO_ERROR;
  std::string where_;
};

}  // namespace

double ExcelDate(uint32_t deviceSeconds) {
  return kExcelDay2000 + static_cast<double>(deviceSeconds) / kDay;
}

double ExcelDate(const LocalDateTime& t) {
  const int64_t days = DaysFromCivil(t.year, t.month, t.day) - DaysFromCivil(1899, 12, 30);
  return static_cast<double>(days) + (t.hour * 3600 + t.minute * 60 + t.second) / double(kDay);
}

WorkbookResult WriteArchiveWorkbook(HistoryArchive& archive, const ArchiveRange& range,
                                    const WorkbookInfo& info, const std::string& path,
                                    const FileStepHook& hook) {
  WorkbookResult result;
  [[maybe_unused]] const ThreadNumbersInCLocale numbers;
  const Language& l = info.Texts;
  const FigureUnit unit = info.Unit;
  // The figures of the period, of each of its days and the records behind them: one read of
  // the archive, so that the sheets agree with each other and with the statistics.
  FigureRead read(archive);
  FigureRange period;
  period.Device = range.Device;
  period.From = range.From;
  period.To = range.To;
  period.AllRuns = info.AllRuns;
  ArchiveFigures figures;
  std::vector<std::pair<uint32_t, ArchiveFigures>> dayFigures;
  if (read.Ok() && read.Figures(period, figures)) {
    for (const auto& [from, to] : DaysOf(range.From, range.To)) {
      FigureRange day = period;
      day.From = from;
      day.To = to;
      ArchiveFigures f;
      if (!read.Figures(day, f)) break;
      if (f.Records > 0) dayFigures.emplace_back(from / kDay * kDay, f);
    }
  }
  if (archive.ReadFailed() || !read.Ok()) {
    result.Error = archive.Error();
    return result;
  }
  const bool severalRuns = !figures.OtherRuns.empty();

  const std::string aside = AsideName(path);
  struct Remover {
    const std::string& name;
    ~Remover() {
      std::error_code ignored;
      std::filesystem::remove(PathOf(name), ignored);
    }
  } remover{aside};
  lxw_workbook_options options = {};
  options.constant_memory = LXW_TRUE;
  lxw_workbook* book = workbook_new_opt(aside.c_str(), &options);
  if (book == nullptr) {
    result.Failed = FileStep::Create;
    return result;
  }
  struct Book {
    lxw_workbook* book;
    ~Book() {
      if (book) workbook_close(book);
    }
  } owner{book};

  lxw_format* bold = workbook_add_format(book);
  format_set_bold(bold);
  lxw_format* header = workbook_add_format(book);
  format_set_bold(header);
  format_set_bottom(header, LXW_BORDER_THIN);
  format_set_text_wrap(header);
  lxw_format* dateTime = workbook_add_format(book);
  format_set_num_format(dateTime, "dd.mm.yyyy hh:mm:ss");
  format_set_align(dateTime, LXW_ALIGN_LEFT);
  lxw_format* date = workbook_add_format(book);
  format_set_num_format(date, "dd.mm.yyyy");
  format_set_align(date, LXW_ALIGN_LEFT);
  const char* figureFormat = unit == FigureUnit::Sievert ? "0.000" : "0.0";
  lxw_format* figure = workbook_add_format(book);
  format_set_num_format(figure, figureFormat);
  lxw_format* coefficient = workbook_add_format(book);
  format_set_num_format(coefficient, "0.00");
  lxw_format* hours = workbook_add_format(book);
  format_set_num_format(hours, "0.00");

  const std::string rateUnit = FigureRateUnit(unit, l);
  const std::string doseUnit = FigureDoseUnit(unit, l);
  const std::string frontName = l.Text("Прибор", "Device");
  const std::string recordsName = l.Text("Записи", "Records");
  const std::string daysName = l.Text("Дни", "Days");
  // The 95% limits of the mean and the dose, each as a figure's name ("Mean, ") and its unit.
  auto lowName = [&](const std::string& figure, const std::string& figureUnit) {
    return figure + l.Text("нижняя граница 95%, ", "lower 95% limit, ") + figureUnit;
  };
  auto highName = [&](const std::string& figure, const std::string& figureUnit) {
    return figure + l.Text("верхняя граница 95%, ", "upper 95% limit, ") + figureUnit;
  };
  Cells cells;
  lxw_worksheet* front = workbook_add_worksheet(book, frontName.c_str());
  lxw_worksheet* records = nullptr;
  int recordSheets = 0;
  uint32_t row = 0;
  auto newRecordSheet = [&]() {
    ++recordSheets;
    const std::string name =
        recordSheets == 1 ? recordsName : recordsName + " " + std::to_string(recordSheets);
    records = workbook_add_worksheet(book, name.c_str());
    worksheet_set_column(records, 0, 0, 20, nullptr);
    worksheet_set_column(records, 1, 3, 11, nullptr);
    worksheet_set_column(records, 4, 5, 14, nullptr);
    worksheet_freeze_panes(records, 1, 0);
    const std::string titles[] = {l.Text("Начало", "Start"),
                                  l.Text("Длительность, с", "Duration, s"),
                                  l.Text("Импульсы", "Pulses"),
                                  "K",
                                  l.Text("Мощность дозы, ", "Dose rate, ") + rateUnit,
                                  l.Text("Доза, ", "Dose, ") + doseUnit};
    for (int c = 0; c < 6; ++c)
      cells.Text(records, 0, c, titles[c], header);
    // Records of runs over the same times (the clock was set back) say which they are.
    if (severalRuns) cells.Text(records, 0, 6, l.Text("Серия", "Run"), header);
    row = 0;
  };
  newRecordSheet();
  lxw_worksheet* days = workbook_add_worksheet(book, daysName.c_str());
  worksheet_set_column(days, 0, 0, 12, nullptr);
  worksheet_set_column(days, 1, 6, 16, nullptr);
  worksheet_freeze_panes(days, 1, 0);
  {
    // The mean's limits follow the columns earlier workbooks had, which keep their places.
    const std::string titles[] = {l.Text("День", "Day"),
                                  l.Text("Среднее, ", "Mean, ") + rateUnit,
                                  l.Text("Наибольшее, ", "Highest, ") + rateUnit,
                                  l.Text("Доза, ", "Dose, ") + doseUnit,
                                  l.Text("Покрыто, ч", "Covered, h"),
                                  lowName(l.Text("Среднее, ", "Mean, "), rateUnit),
                                  highName(l.Text("Среднее, ", "Mean, "), rateUnit)};
    for (int c = 0; c < 7; ++c)
      cells.Text(days, 0, c, titles[c], header);
  }

  // The records the figures count (the period's part of a record that began before it counts
  // there); each record's own rate and dose.
  const bool readRecords = read.Records(period, [&](const FigureRecord& r) {
    if (row == kSheetRows) newRecordSheet();
    ++row;
    ++result.Records;
    cells.Number(records, row, 0, ExcelDate(r.Start), dateTime);
    cells.Number(records, row, 1, r.Duration, nullptr);
    cells.Number(records, row, 2, r.Pulses, nullptr);
    cells.Number(records, row, 3, r.K / 100.0, coefficient);
    if (r.Duration > 0)
      cells.Number(records, row, 4, RateIn(unit, RecordRate(r.Pulses, r.Duration, r.K)), figure);
    cells.Number(records, row, 5, DoseIn(unit, RecordDose(r.Pulses, r.K)), figure);
    if (severalRuns) cells.Number(records, row, 6, r.Run, nullptr);
  });
  if (!readRecords) {
    result.Error = archive.Error();
    return result;
  }
  // Each day of the period with records: its figures inside the period.
  uint32_t dayRow = 0;
  for (const auto& [start, f] : dayFigures) {
    ++dayRow;
    cells.Number(days, dayRow, 0, ExcelDate(start), date);
    if (f.Covered > 0) cells.Number(days, dayRow, 1, RateIn(unit, f.MeanRate()), figure);
    if (f.HasRates) cells.Number(days, dayRow, 2, RateIn(unit, f.MaxRate), figure);
    cells.Number(days, dayRow, 3, DoseIn(unit, f.Dose()), figure);
    cells.Number(days, dayRow, 4, static_cast<double>(f.Covered) / 3600.0, hours);
    if (f.Covered > 0) {
      const Interval mean = f.MeanInterval();
      cells.Limit(days, dayRow, 5, RateIn(unit, mean.Low), figure);
      cells.Limit(days, dayRow, 6, RateIn(unit, mean.High), figure);
    }
  }
  result.Days = dayRow;

  if (dayRow > 0) {
    lxw_chart* chart = workbook_add_chart(book, LXW_CHART_LINE);
    const std::string sheet = "='" + daysName + "'!";
    const std::string last = std::to_string(dayRow + 1);
    const std::string categories = sheet + "$A$2:$A$" + last;
    const std::string means = sheet + "$B$2:$B$" + last;
    const std::string highest = sheet + "$C$2:$C$" + last;
    lxw_chart_series* mean = chart_add_series(chart, categories.c_str(), means.c_str());
    const std::string meanName = l.Text("Среднее", "Mean");
    chart_series_set_name(mean, meanName.c_str());
    lxw_chart_series* high = chart_add_series(chart, categories.c_str(), highest.c_str());
    const std::string highName = l.Text("Наибольшее", "Highest");
    chart_series_set_name(high, highName.c_str());
    const std::string title = l.Text("Мощность дозы по дням", "Dose rate by day");
    chart_title_set_name(chart, title.c_str());
    chart_axis_set_name(chart->y_axis, rateUnit.c_str());
    chart_axis_set_num_format(chart->x_axis, "dd.mm.yyyy");
    chart_legend_set_position(chart, LXW_CHART_LEGEND_BOTTOM);
    lxw_chart_options place = {};
    place.x_scale = 2;
    place.y_scale = 1.5;
    if (const lxw_error placed = worksheet_insert_chart_opt(days, 1, 8, chart, &place);
        placed != LXW_NO_ERROR) {
      result.Failed = FileStep::Write;
      result.Error = lxw_strerror(placed);
      return result;
    }
  }

  // The front sheet: the device, the period and its figures.
  worksheet_set_column(front, 0, 0, 40, nullptr);
  worksheet_set_column(front, 1, 1, 26, nullptr);
  worksheet_set_column(front, 2, 2, 20, nullptr);
  uint32_t line = 0;
  const std::string title = l.Text("Архив истории Dravion", "Dravion history archive");
  cells.Text(front, line, 0, title, bold);
  line += 2;
  auto text = [&](const std::string& name, const std::string& value) {
    cells.Text(front, line, 0, name, nullptr);
    cells.Text(front, line++, 1, value, nullptr);
  };
  auto number = [&](const std::string& name, double value, lxw_format* format) {
    cells.Text(front, line, 0, name, nullptr);
    cells.Number(front, line++, 1, value, format);
  };
  auto limit = [&](const std::string& name, double value) {
    cells.Text(front, line, 0, name, nullptr);
    cells.Limit(front, line++, 1, value, figure);
  };
  text(l.Text("Серийный номер", "Serial number"), info.Serial);
  if (!info.Uid.empty()) text(l.Text("Идентификатор", "Identifier"), info.Uid);
  if (!info.Model.empty()) text(l.Text("Модель", "Model"), info.Model);
  if (!info.Firmware.empty()) text(l.Text("Программа", "Firmware"), info.Firmware);
  if (info.Runs > 1)
    text(l.Text("Серия записей", "Run"),
         std::to_string(info.Run) + l.Text(" из ", " of ") + std::to_string(info.Runs));
  // Other runs of the device in the period (its clock was set back): their records count too.
  for (const OtherRun& other : figures.OtherRuns) {
    std::string where = l.Text("серия ", "run ") + std::to_string(other.Run) + ": " +
                        WorkbookTime(other.First) + " - " + WorkbookTime(other.Last);
    if (other.Overlaps)
      where += l.Text(", поверх этой серии ", ", over this run's ") +
               WorkbookTime(other.OverlapFirst) + " - " + WorkbookTime(other.OverlapLast);
    text(l.Text("Также", "Also"), where);
  }
  number(l.Text("С", "From"), ExcelDate(range.From), dateTime);
  number(l.Text("По", "To"), ExcelDate(range.To), dateTime);
  ++line;
  number(l.Text("Записей", "Records"), static_cast<double>(figures.Records), nullptr);
  number(l.Text("Покрыто, ч", "Covered, h"), figures.Covered / 3600.0, hours);
  number(l.Text("Пропусков", "Gaps"), static_cast<double>(figures.Gaps), nullptr);
  number(l.Text("Самый долгий пропуск, ч", "Longest gap, h"), figures.LongestGap / 3600.0, hours);
  if (figures.Covered > 0) {
    const std::string name = l.Text("Среднее, ", "Mean, ");
    const Interval mean = figures.MeanInterval();
    number(name + rateUnit, RateIn(unit, figures.MeanRate()), figure);
    limit(lowName(name, rateUnit), RateIn(unit, mean.Low));
    limit(highName(name, rateUnit), RateIn(unit, mean.High));
  }
  if (figures.HasRates) {
    number(l.Text("Наибольшее, ", "Highest, ") + rateUnit, RateIn(unit, figures.MaxRate), figure);
    cells.Number(front, line - 1, 2, ExcelDate(figures.MaxAt), dateTime);
    number(l.Text("Наименьшее, ", "Lowest, ") + rateUnit, RateIn(unit, figures.MinRate), figure);
    cells.Number(front, line - 1, 2, ExcelDate(figures.MinAt), dateTime);
  }
  {
    const std::string name = l.Text("Доза, ", "Dose, ");
    const Interval dose = figures.DoseInterval();
    number(name + doseUnit, DoseIn(unit, figures.Dose()), figure);
    limit(lowName(name, doseUnit), DoseIn(unit, dose.Low));
    limit(highName(name, doseUnit), DoseIn(unit, dose.High));
  }
  ++line;
  number(l.Text("Составлено", "Made"), ExcelDate(info.Made), dateTime);

  if (!cells.Ok()) {
    result.Failed = FileStep::Write;
    result.Error = cells.Error();
    return result;
  }
  owner.book = nullptr;
  const lxw_error closed = workbook_close(book);
  if (closed != LXW_NO_ERROR) {
    result.Failed = FileStep::Write;
    result.Error = lxw_strerror(closed);
    return result;
  }
  std::string error;
  const FileWriteResult written = PutInPlace(aside, path, hook, error);
  result.Ok = written.Ok;
  result.Failed = written.Failed;
  if (!written.Ok) result.Error = error;
  return result;
}

}  // namespace dravion
