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

HistoryChartData DrawHistoryChart(HistoryRing& ring, TimeRecord& viewTime, int level,
                                  uint32_t coefficient, bool showMaximum,
                                  const Language& language) {
  level = std::clamp(level, kLevelMinute, kLevelYear);
  viewTime.Bytes[0] = 0;
  TimeRecord first = viewTime;
  auto& f = first.Bytes;
  int bars = 0;
  uint32_t barLength = 0;
  int firstLabel = 0;
  int labelStep = 1;
  switch (level) {
    case kLevelMinute:
      bars = 6, barLength = 10, labelStep = 10;
      break;
    case kLevelHour:
      f[1] = 0;
      bars = 60, barLength = 60;
      break;
    case kLevelDay:
      f[1] = f[2] = 0;
      bars = 24, barLength = 3600;
      break;
    case kLevelMonth:
      f[1] = f[2] = 0, f[3] = 1;
      bars = DaysInMonth(f[4], f[5]), barLength = 86400, firstLabel = 1;
      break;
    default:
      f[1] = f[2] = 0, f[3] = 1, f[4] = 1;
      bars = 12, firstLabel = 1;
      break;
  }

  HistoryChartData chart;
  chart.Title = {TitleLine(level, viewTime, language), UnitLine(coefficient, language)};
  chart.Labels.reserve(bars);
  chart.Maximum.reserve(bars);
  chart.Rate.reserve(bars);
  chart.Coverage.reserve(bars);

  HistoryQuery query(ring);
  query.StartHistoryQuery(SecondsFromTimeRecord(first));
  const uint64_t k = coefficient;
  for (int i = 0; i < bars; ++i) {
    chart.Labels.push_back(std::to_string(firstLabel + i * labelStep));
    const uint32_t length =
        level == kLevelYear ? static_cast<uint32_t>(DaysInMonth(i + 1, f[5])) * 86400u : barLength;
    query.AccumulatePeriod(length);
    if (query.PeriodCovered > 0) {
      chart.AnyRecords = true;
      const uint64_t rate = query.PeriodPulses * 36 * k / query.PeriodCovered / 172;
      chart.Rate.push_back({rate, kChartLime});
      chart.Coverage.push_back(
          {1, query.PeriodCovered == length ? kChartLime : kChartFuchsia, true});
      if (showMaximum) {
        const uint64_t peak = uint64_t{query.PeriodMaxRate10} * 36 * k / 1720;
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
  query.EndHistoryQuery();
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
