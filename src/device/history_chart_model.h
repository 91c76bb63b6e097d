#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "protocol/device_records.h"

namespace dravion {

class HistoryRing;
class Language;

// Bar colours (RGB).
inline constexpr uint32_t kChartLime = 0x00FF00;
inline constexpr uint32_t kChartFuchsia = 0xFF00FF;
inline constexpr uint32_t kChartYellow = 0xFFFF00;

// Zoom levels: a minute in 10-s bars, an hour in minutes, a day in hours, a month in days, a year
// in months.
inline constexpr int kLevelMinute = 0;
inline constexpr int kLevelHour = 1;
inline constexpr int kLevelDay = 2;
inline constexpr int kLevelMonth = 3;
inline constexpr int kLevelYear = 4;

// A point of a series: a value with its colour, or a mark (Mark true), whose value 1 is no
// measurement: the placeholder of a period without records, or a coverage mark. A chart draws
// marks apart from the values so that they never read as a low rate.
struct ChartPoint {
  uint64_t Value = 0;
  uint32_t Colour = 0;
  bool Mark = false;
  bool operator==(const ChartPoint&) const = default;
};

// What the chart shows: the title lines and, per bar position, its label and one point in each
// of the three series (maximum or placeholder, average rate, coverage mark). `AnyRecords` tells
// whether any bar has records; when none has, `Note` says so on the chart (and what to do), and
// `NewestOffered` asks for the way to the newest records to be offered.
struct HistoryChartData {
  std::vector<std::string> Title;
  std::vector<std::string> Labels;
  std::vector<ChartPoint> Maximum, Rate, Coverage;
  bool AnyRecords = false;
  std::string Note;
  bool NewestOffered = false;
  // The values times this are what the chart shows (the archive view in uSv/h: 0.01).
  double ValueScale = 1;
  // Beside the bars, as a line: a monitoring station's mean rate per bar position in the unit of
  // the values (uR/h), NaN where it has none; empty when not shown.
  std::vector<double> Station;
};

// What the records of one period add up to, with every record's pulses weighted by the
// calibration coefficient (K x 100) it was downloaded with, so that records of several downloads
// can share a bar.
struct PeriodTotals {
  uint64_t WeightedPulses = 0;     // sum of pulses x K
  uint64_t Covered = 0;            // seconds of the period covered by records
  uint64_t WeightedMaxRate10 = 0;  // highest Pulses x 10 / Duration x K of records of 10 s or more
};

// Where a chart's records come from: the periods of one redraw, one after the other.
class HistoryPeriodSource {
 public:
  virtual ~HistoryPeriodSource() = default;
  // The first period starts at `t` (device seconds).
  virtual void StartPeriods(uint32_t t) = 0;
  // The totals of the next period, `length` seconds long.
  virtual PeriodTotals NextPeriod(uint32_t length) = 0;
  virtual void EndPeriods() {}
};

// The chart of `level` around `viewTime` on the downloaded ring. The view time's second is set
// to 0, as the chart always shows whole minutes. `coefficient` is K x 100.
HistoryChartData DrawHistoryChart(HistoryRing& ring, TimeRecord& viewTime, int level,
                                  uint32_t coefficient, bool showMaximum, const Language& language);
// The same chart on any source of records; `coefficient` is the one the title shows.
HistoryChartData DrawHistoryChart(HistoryPeriodSource& source, TimeRecord& viewTime, int level,
                                  uint32_t coefficient, bool showMaximum, const Language& language);
// Where the periods of `level` around `viewTime` begin and how long each is: the chart's bars.
std::vector<std::pair<uint32_t, uint32_t>> HistoryChartPeriods(const TimeRecord& viewTime,
                                                               int level);

// The bars of any period [from, to] (device seconds, both included) at the calendar's level that
// fits it: hours for up to three days, days for up to a hundred, months for up to ten years, else
// years; the first and the last bar cut to the period.
std::vector<std::pair<uint32_t, uint32_t>> PeriodChartBars(uint32_t from, uint32_t to);
// The chart of those bars (a printed report's: the period chosen, whatever the window shows).
HistoryChartData DrawPeriodChart(HistoryPeriodSource& source, uint32_t from, uint32_t to,
                                 uint32_t coefficient, bool showMaximum, const Language& language);

// Navigation on the view time and level.
void HistoryStepBack(TimeRecord& viewTime, int level);
void HistoryStepForward(TimeRecord& viewTime, int level);
// The bar `bar` of the current level as the new view at the level below; false at level 0.
bool HistoryZoomInto(TimeRecord& viewTime, int& level, int bar);

}  // namespace dravion
