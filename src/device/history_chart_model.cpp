#include "device/history_chart_model.h"

#include <algorithm>
#include <cstdio>

#include "device/device_time.h"
#include "device/history_query.h"
#include "device/history_ring.h"
#include "services/language.h"
#include "services/wording.h"

namespace dravion {

namespace {

std::string TwoDigits(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02u", value % 100u);
  return text;
}

std::string TitleLine(int level, const TimeRecord& view, const Language& language) {
  const std::string date = FormatDeviceDate(view);
  const auto& b = view.Bytes;
  switch (level) {
    case kLevelMinute:
      return language.Text("История за минуту", "History for Minute") + " : " + date + "-" +
             TwoDigits(b[2]) + ":" + TwoDigits(b[1]);
    case kLevelHour:
      return language.Text("История за час", "History for Hour") + " : " + date + "-" +
             std::to_string(b[2]);
    case kLevelDay:
      return language.Text("История за день", "History for Day") + " : " + date;
    case kLevelMonth:
      return language.Text("История за месяц", "History for Month") + " : 20" + TwoDigits(b[5]) +
             "-" + TwoDigits(b[4]);
    default:
      return language.Text("История за год", "History for Year") + " : 20" + TwoDigits(b[5]);
  }
}

std::string UnitLine(uint32_t coefficient, const Language& language) {
  return language.Text("мкР/час", "uR/h") + "  K = " + std::to_string(coefficient / 100) +
         DecimalSeparator(language) + TwoDigits(coefficient % 100);
}

}  // namespace

namespace {

// The bars of a level: the first period's start (the view time with the level's fields reset),
// how many, the labels and each bar's length.
struct ChartLayout {
  TimeRecord First;
  int Bars = 0;
  uint32_t BarLength = 0;
  int FirstLabel = 0;
  int LabelStep = 1;
  int Level = 0;
  uint32_t Length(int bar) const {
    return Level == kLevelYear
               ? static_cast<uint32_t>(DaysInMonth(bar + 1, First.Bytes[5])) * 86400u
               : BarLength;
  }
};

ChartLayout LayoutOf(const TimeRecord& viewTime, int level) {
  ChartLayout layout;
  layout.Level = level = std::clamp(level, kLevelMinute, kLevelYear);
  layout.First = viewTime;
  auto& f = layout.First.Bytes;
  f[0] = 0;
  switch (level) {
    case kLevelMinute:
      layout.Bars = 6, layout.BarLength = 10, layout.LabelStep = 10;
      break;
    case kLevelHour:
      f[1] = 0;
      layout.Bars = 60, layout.BarLength = 60;
      break;
    case kLevelDay:
      f[1] = f[2] = 0;
      layout.Bars = 24, layout.BarLength = 3600;
      break;
    case kLevelMonth:
      f[1] = f[2] = 0, f[3] = 1;
      layout.Bars = DaysInMonth(f[4], f[5]), layout.BarLength = 86400, layout.FirstLabel = 1;
      break;
    default:
      f[1] = f[2] = 0, f[3] = 1, f[4] = 1;
      layout.Bars = 12, layout.FirstLabel = 1;
      break;
  }
  return layout;
}

// The ring's walk as a source of periods: its pulses all carry the download's coefficient.
class RingPeriods : public HistoryPeriodSource {
 public:
  RingPeriods(HistoryRing& ring, uint32_t coefficient) : query_(ring), k_(coefficient) {}
  void StartPeriods(uint32_t t) override { query_.StartHistoryQuery(t); }
  PeriodTotals NextPeriod(uint32_t length) override {
    query_.AccumulatePeriod(length);
    return {query_.PeriodPulses * k_, query_.PeriodCovered, uint64_t{query_.PeriodMaxRate10} * k_};
  }
  void EndPeriods() override { query_.EndHistoryQuery(); }

 private:
  HistoryQuery query_;
  uint64_t k_;
};

}  // namespace

HistoryChartData DrawHistoryChart(HistoryRing& ring, TimeRecord& viewTime, int level,
                                  uint32_t coefficient, bool showMaximum,
                                  const Language& language) {
  RingPeriods periods(ring, coefficient);
  return DrawHistoryChart(periods, viewTime, level, coefficient, showMaximum, language);
}

std::vector<std::pair<uint32_t, uint32_t>> HistoryChartPeriods(const TimeRecord& viewTime,
                                                               int level) {
  const ChartLayout layout = LayoutOf(viewTime, level);
  std::vector<std::pair<uint32_t, uint32_t>> periods;
  uint64_t start = SecondsFromTimeRecord(layout.First);
  for (int i = 0; i < layout.Bars; ++i) {
    periods.emplace_back(static_cast<uint32_t>(start), layout.Length(i));
    start += layout.Length(i);
  }
  return periods;
}

namespace {

// One bar of `length` seconds with its records' totals, in the three series.
void AddBar(HistoryChartData& chart, const PeriodTotals& totals, uint32_t length,
            bool showMaximum) {
  if (totals.Covered > 0) {
    chart.AnyRecords = true;
    // Pulses x 36 x K / covered seconds / 172: µR/h.
    const uint64_t rate = totals.WeightedPulses * 36 / totals.Covered / 172;
    chart.Rate.push_back({rate, kChartLime});
    chart.Coverage.push_back({1, totals.Covered == length ? kChartLime : kChartFuchsia, true});
    if (showMaximum) {
      const uint64_t peak = totals.WeightedMaxRate10 * 36 / 1720;
      chart.Maximum.push_back({std::max(rate, peak), kChartYellow});
    } else {
      chart.Maximum.push_back({1, kChartFuchsia, true});
    }
  } else {
    chart.Maximum.push_back({1, kChartFuchsia, true});
    chart.Rate.push_back({1, kChartFuchsia, true});
    chart.Coverage.push_back({1, kChartFuchsia, true});
  }
}

enum class PeriodBars { Hours, Days, Months, Years };

PeriodBars BarsFor(uint32_t from, uint32_t to) {
  const uint64_t length = uint64_t{to} - from + 1;
  if (length <= 3 * 86400ull) return PeriodBars::Hours;
  if (length <= 100 * 86400ull) return PeriodBars::Days;
  if (length <= 3653 * 86400ull) return PeriodBars::Months;
  return PeriodBars::Years;
}

// The first second of the calendar hour, day, month or year after the one holding `t` (past the
// device calendar's end: 2^32).
uint64_t NextBarStart(uint32_t t, PeriodBars bars) {
  switch (bars) {
    case PeriodBars::Hours:
      return (uint64_t{t} / 3600 + 1) * 3600;
    case PeriodBars::Days:
      return (uint64_t{t} / 86400 + 1) * 86400;
    default:
      break;
  }
  TimeRecord r = TimeRecordFromSeconds(t);
  const unsigned month = r.Bytes[4], year = r.Bytes[5];
  const bool nextYear = bars == PeriodBars::Years || month >= 12;
  if (nextYear && year >= 99) return uint64_t{1} << 32;
  r.Bytes = {0,
             0,
             0,
             1,
             static_cast<uint8_t>(bars == PeriodBars::Years ? 1 : month % 12 + 1),
             static_cast<uint8_t>(year + (nextYear ? 1 : 0)),
             0};
  const uint64_t next = SecondsFromTimeRecord(r);
  return next > t ? next : uint64_t{1} << 32;
}

std::string BarLabel(uint32_t t, PeriodBars bars) {
  const TimeRecord r = TimeRecordFromSeconds(t);
  const auto& b = r.Bytes;
  switch (bars) {
    case PeriodBars::Hours:
      return TwoDigits(b[2]);
    case PeriodBars::Days:
      return TwoDigits(b[3]) + "." + TwoDigits(b[4]);
    case PeriodBars::Months:
      return TwoDigits(b[4]) + "." + TwoDigits(b[5]);
    default:
      return "20" + TwoDigits(b[5]);
  }
}

}  // namespace

std::vector<std::pair<uint32_t, uint32_t>> PeriodChartBars(uint32_t from, uint32_t to) {
  std::vector<std::pair<uint32_t, uint32_t>> bars;
  if (to < from) return bars;
  const PeriodBars level = BarsFor(from, to);
  for (uint64_t start = from; start <= to;) {
    const uint64_t next =
        std::min<uint64_t>(NextBarStart(static_cast<uint32_t>(start), level), uint64_t{to} + 1);
    bars.emplace_back(static_cast<uint32_t>(start), static_cast<uint32_t>(next - start));
    start = next;
  }
  return bars;
}

HistoryChartData DrawPeriodChart(HistoryPeriodSource& source, uint32_t from, uint32_t to,
                                 uint32_t coefficient, bool showMaximum, const Language& language) {
  HistoryChartData chart;
  const TimeRecord first = TimeRecordFromSeconds(from), last = TimeRecordFromSeconds(to);
  chart.Title = {language.Text("История", "History") + " : " + FormatDeviceDate(first) + " " +
                     FormatDeviceClock(first) + " - " + FormatDeviceDate(last) + " " +
                     FormatDeviceClock(last),
                 UnitLine(coefficient, language)};
  const std::vector<std::pair<uint32_t, uint32_t>> bars = PeriodChartBars(from, to);
  if (bars.empty()) return chart;
  const PeriodBars level = BarsFor(from, to);
  source.StartPeriods(from);
  for (const auto& [start, length] : bars) {
    chart.Labels.push_back(BarLabel(start, level));
    AddBar(chart, source.NextPeriod(length), length, showMaximum);
  }
  source.EndPeriods();
  return chart;
}

HistoryChartData DrawHistoryChart(HistoryPeriodSource& source, TimeRecord& viewTime, int level,
                                  uint32_t coefficient, bool showMaximum,
                                  const Language& language) {
  level = std::clamp(level, kLevelMinute, kLevelYear);
  viewTime.Bytes[0] = 0;
  const ChartLayout layout = LayoutOf(viewTime, level);

  HistoryChartData chart;
  chart.Title = {TitleLine(level, viewTime, language), UnitLine(coefficient, language)};
  chart.Labels.reserve(layout.Bars);
  chart.Maximum.reserve(layout.Bars);
  chart.Rate.reserve(layout.Bars);
  chart.Coverage.reserve(layout.Bars);

  source.StartPeriods(SecondsFromTimeRecord(layout.First));
  for (int i = 0; i < layout.Bars; ++i) {
    chart.Labels.push_back(std::to_string(layout.FirstLabel + i * layout.LabelStep));
    const uint32_t length = layout.Length(i);
    AddBar(chart, source.NextPeriod(length), length, showMaximum);
  }
  source.EndPeriods();
  return chart;
}

void HistoryStepBack(TimeRecord& viewTime, int level) {
  switch (level) {
    case kLevelMinute:
      MinuteBack(viewTime);
      break;
    case kLevelHour:
      HourBack(viewTime);
      break;
    case kLevelDay:
      DayBack(viewTime);
      break;
    case kLevelMonth:
      MonthBack(viewTime);
      break;
    default:
      YearBack(viewTime);
      break;
  }
}

void HistoryStepForward(TimeRecord& viewTime, int level) {
  switch (level) {
    case kLevelMinute:
      MinuteForward(viewTime);
      break;
    case kLevelHour:
      HourForward(viewTime);
      break;
    case kLevelDay:
      DayForward(viewTime);
      break;
    case kLevelMonth:
      MonthForward(viewTime);
      break;
    default:
      YearForward(viewTime);
      break;
  }
}

bool HistoryZoomInto(TimeRecord& viewTime, int& level, int bar) {
  if (level <= kLevelMinute || bar < 0) return false;
  level = std::min(level, kLevelYear) - 1;
  auto& b = viewTime.Bytes;
  switch (level) {
    case kLevelMinute:
      b[1] = static_cast<uint8_t>(std::min(bar, 59));
      break;
    case kLevelHour:
      b[2] = static_cast<uint8_t>(std::min(bar, 23));
      break;
    case kLevelDay:
      b[3] = static_cast<uint8_t>(std::min(bar, 30) + 1);
      break;
    default:
      b[4] = static_cast<uint8_t>(std::min(bar, 11) + 1);
      break;
  }
  return true;
}

}  // namespace dravion
