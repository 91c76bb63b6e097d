#include "archive/archive_workbook.h"

#include <sqlite3.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <vector>

#include "archive/archive_files.h"

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

// The figures of each day, from the records in the order of their starts.
class DaySheet {
 public:
  struct Day {
    uint64_t Start;
    ArchiveFigures Figures;
  };
  // A record: its share goes to each day it covers (at most two: a record is shorter than a day).
  void Add(const HistoryRecord& r, uint32_t k, std::vector<Day>& finished) {
    const uint64_t first = r.Start / kDay * kDay;
    // Days before the record's are complete: no later record reaches back into them.
    while (!open_.empty() && open_.front().Start < first) {
      finished.push_back(open_.front());
      open_.erase(open_.begin());
    }
    const uint64_t last = r.Duration == 0 ? r.Start : uint64_t{r.Start} + r.Duration - 1;
    for (uint64_t day = first; day <= last; day += kDay) {
      auto it =
          std::find_if(open_.begin(), open_.end(), [&](const Day& d) { return d.Start == day; });
      if (it == open_.end()) it = open_.insert(open_.end(), Day{day, {}});
      FigureAccumulator(it->Figures, day, day + kDay - 1).Add(r.Start, r.Duration, r.Pulses, k);
    }
  }
  void Finish(std::vector<Day>& finished) {
    finished.insert(finished.end(), open_.begin(), open_.end());
    open_.clear();
  }

 private:
  std::vector<Day> open_;
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
  const ThreadNumbersInCLocale numbers;
  const Language& l = info.Texts;
  const FigureUnit unit = info.Unit;
  // The figures of the period first: the front sheet is the first one.
  FigureRange period;
  period.Device = range.Device;
  period.From = range.From;
  period.To = range.To;
  ArchiveFigures figures;
  if (!ArchiveStatistics(archive, period, figures)) {
    result.Error = archive.Error();
    return result;
  }

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
      worksheet_write_string(records, 0, static_cast<lxw_col_t>(c), titles[c].c_str(), header);
    row = 0;
  };
  newRecordSheet();
  lxw_worksheet* days = workbook_add_worksheet(book, daysName.c_str());
  worksheet_set_column(days, 0, 0, 12, nullptr);
  worksheet_set_column(days, 1, 4, 16, nullptr);
  worksheet_freeze_panes(days, 1, 0);
  {
    const std::string titles[] = {l.Text("День", "Day"), l.Text("Среднее, ", "Mean, ") + rateUnit,
                                  l.Text("Наибольшее, ", "Highest, ") + rateUnit,
                                  l.Text("Доза, ", "Dose, ") + doseUnit,
                                  l.Text("Покрыто, ч", "Covered, h")};
    for (int c = 0; c < 5; ++c)
      worksheet_write_string(days, 0, static_cast<lxw_col_t>(c), titles[c].c_str(), header);
  }

  DaySheet daySheet;
  std::vector<DaySheet::Day> finished;
  uint32_t dayRow = 0;
  auto writeDays = [&]() {
    for (const DaySheet::Day& d : finished) {
      const ArchiveFigures& f = d.Figures;
      ++dayRow;
      worksheet_write_number(days, dayRow, 0, ExcelDate(static_cast<uint32_t>(d.Start)), date);
      if (f.Covered > 0)
        worksheet_write_number(days, dayRow, 1, RateIn(unit, f.MeanRate()), figure);
      if (f.HasRates) worksheet_write_number(days, dayRow, 2, RateIn(unit, f.MaxRate), figure);
      worksheet_write_number(days, dayRow, 3, DoseIn(unit, f.Dose()), figure);
      worksheet_write_number(days, dayRow, 4, static_cast<double>(f.Covered) / 3600.0, hours);
    }
    finished.clear();
  };

  const int rc = archive.ForEachRecord(
      range,
      [&](const HistoryRecord& r, uint32_t k) {
        if (row == kSheetRows) newRecordSheet();
        ++row;
        ++result.Records;
        worksheet_write_number(records, row, 0, ExcelDate(r.Start), dateTime);
        worksheet_write_number(records, row, 1, r.Duration, nullptr);
        worksheet_write_number(records, row, 2, r.Pulses, nullptr);
        worksheet_write_number(records, row, 3, k / 100.0, coefficient);
        if (r.Duration > 0)
          worksheet_write_number(records, row, 4, RateIn(unit, RecordRate(r.Pulses, r.Duration, k)),
                                 figure);
        worksheet_write_number(records, row, 5, DoseIn(unit, RecordDose(r.Pulses, k)), figure);
        daySheet.Add(r, k, finished);
        writeDays();
      },
      true);
  if (rc != SQLITE_DONE) {
    result.Error = archive.Error();
    return result;
  }
  daySheet.Finish(finished);
  writeDays();
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
    worksheet_insert_chart_opt(days, 1, 6, chart, &place);
  }

  // The front sheet: the device, the period and its figures.
  worksheet_set_column(front, 0, 0, 34, nullptr);
  worksheet_set_column(front, 1, 1, 26, nullptr);
  worksheet_set_column(front, 2, 2, 20, nullptr);
  uint32_t line = 0;
  const std::string title = l.Text("Архив истории Dravion", "Dravion history archive");
  worksheet_write_string(front, line, 0, title.c_str(), bold);
  line += 2;
  auto text = [&](const std::string& name, const std::string& value) {
    worksheet_write_string(front, line, 0, name.c_str(), nullptr);
    worksheet_write_string(front, line++, 1, value.c_str(), nullptr);
  };
  auto number = [&](const std::string& name, double value, lxw_format* format) {
    worksheet_write_string(front, line, 0, name.c_str(), nullptr);
    worksheet_write_number(front, line++, 1, value, format);
  };
  text(l.Text("Серийный номер", "Serial number"), info.Serial);
  if (!info.Uid.empty()) text(l.Text("Идентификатор", "Identifier"), info.Uid);
  if (!info.Model.empty()) text(l.Text("Модель", "Model"), info.Model);
  if (!info.Firmware.empty()) text(l.Text("Программа", "Firmware"), info.Firmware);
  if (info.Runs > 1)
    text(l.Text("Серия записей", "Run"),
         std::to_string(info.Run) + l.Text(" из ", " of ") + std::to_string(info.Runs));
  number(l.Text("С", "From"), ExcelDate(range.From), dateTime);
  number(l.Text("По", "To"), ExcelDate(range.To), dateTime);
  ++line;
  number(l.Text("Записей", "Records"), static_cast<double>(figures.Records), nullptr);
  number(l.Text("Покрыто, ч", "Covered, h"), figures.Covered / 3600.0, hours);
  number(l.Text("Пропусков", "Gaps"), static_cast<double>(figures.Gaps), nullptr);
  number(l.Text("Самый долгий пропуск, ч", "Longest gap, h"), figures.LongestGap / 3600.0, hours);
  if (figures.Covered > 0)
    number(l.Text("Среднее, ", "Mean, ") + rateUnit, RateIn(unit, figures.MeanRate()), figure);
  if (figures.HasRates) {
    number(l.Text("Наибольшее, ", "Highest, ") + rateUnit, RateIn(unit, figures.MaxRate), figure);
    worksheet_write_number(front, line - 1, 2, ExcelDate(figures.MaxAt), dateTime);
    number(l.Text("Наименьшее, ", "Lowest, ") + rateUnit, RateIn(unit, figures.MinRate), figure);
    worksheet_write_number(front, line - 1, 2, ExcelDate(figures.MinAt), dateTime);
  }
  number(l.Text("Доза, ", "Dose, ") + doseUnit, DoseIn(unit, figures.Dose()), figure);
  ++line;
  number(l.Text("Составлено", "Made"), ExcelDate(info.Made), dateTime);

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
