#include "device/measurement_trend.h"

#include <algorithm>

#include "device/reading_recorder.h"
#include "services/language.h"
#include "services/number_text.h"

namespace dravion {

void MeasurementTrend::Changed() {
  if (changed) changed();
}

void MeasurementTrend::OnReading(const MeasurementReading& reading) {
  if (!readings_.empty() &&
      (readings_.back().device != reading.device || readings_.back().units != reading.units)) {
    readings_.clear();
  }
  readings_.push_back(reading);
  // The hour back from the newest reading is kept.
  while (TicksSince(readings_.front().tick, reading.tick) > kLongSpanS * 1000)
    readings_.pop_front();
  Changed();
}

void MeasurementTrend::Clear() {
  readings_.clear();
  Changed();
}

void MeasurementTrend::SetSpan(uint32_t seconds) {
  span_ = seconds * 2 < kShortSpanS + kLongSpanS ? kShortSpanS : kLongSpanS;
  Changed();
}

size_t MeasurementTrend::SpanStart() const {
  if (readings_.empty()) return 0;
  const uint32_t newest = readings_.back().tick;
  size_t start = readings_.size() - 1;
  while (start > 0 && TicksSince(readings_[start - 1].tick, newest) <= span_ * 1000)
    --start;
  return start;
}

MeasurementTrend::Statistics MeasurementTrend::SpanStatistics() const {
  Statistics s;
  double sum = 0;
  for (size_t i = SpanStart(); i < readings_.size(); ++i) {
    const double rate = readings_[i].rate;
    s.minimum = s.count == 0 ? rate : std::min(s.minimum, rate);
    s.maximum = s.count == 0 ? rate : std::max(s.maximum, rate);
    sum += rate;
    ++s.count;
  }
  if (s.count > 0) s.mean = sum / s.count;
  return s;
}

std::string MeasurementTrend::CsvText() const {
  std::string text = kReadingCsvHeader;
  for (const MeasurementReading& reading : readings_)
    text += ReadingCsvLine(reading);
  return text;
}

std::string FormatTrendRate(double rate, uint32_t units, bool extraDigit) {
  const int decimals = (units == 0 ? 2 : 0) + (extraDigit ? 1 : 0);
  std::string shown = FixedDecimal(rate, decimals);
  std::replace(shown.begin(), shown.end(), '.', ',');
  return shown;
}

std::string TrendStatisticsText(const MeasurementTrend& trend, const Language& language) {
  const MeasurementTrend::Statistics s = trend.SpanStatistics();
  if (s.count == 0) return {};
  const uint32_t units = trend.Units();
  const std::string unit = RateUnitTextFor(units, language);
  return language.Text("Мин. ", "Min ") + FormatTrendRate(s.minimum, units) + " " + unit + "\n" +
         language.Text("Сред. ", "Mean ") + FormatTrendRate(s.mean, units, true) + " " + unit +
         "\n" + language.Text("Макс. ", "Max ") + FormatTrendRate(s.maximum, units) + " " + unit;
}

}  // namespace dravion
