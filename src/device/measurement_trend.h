#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "device/measurement.h"

namespace dravion {

class Language;

// The dose rate over the readings of one device in one unit: the last hour is kept, and a span
// of it (10 minutes or the hour) is what the chart shows and what the statistics cover. A reading
// of another device or in another unit starts the series afresh.
class MeasurementTrend : public ReadingListener {
 public:
  static constexpr uint32_t kShortSpanS = 600;
  static constexpr uint32_t kLongSpanS = 3600;

  struct Statistics {
    int count = 0;  // readings in the span
    double minimum = 0;
    double mean = 0;
    double maximum = 0;
  };

  void OnReading(const MeasurementReading& reading) override;
  void Clear();

  // kShortSpanS or kLongSpanS (anything else is taken as the nearest of the two).
  void SetSpan(uint32_t seconds);
  uint32_t Span() const { return span_; }

  // Every reading kept, oldest first.
  const std::deque<MeasurementReading>& Readings() const { return readings_; }
  // The first reading inside the span that ends with the newest one.
  size_t SpanStart() const;
  Statistics SpanStatistics() const;
  // The unit setting and rate unit of the series (those of its readings).
  uint32_t Units() const { return readings_.empty() ? 0 : readings_.back().units; }

  // The readings kept as CSV text: the recorder's header and lines.
  std::string CsvText() const;

  // Called after every change (a reading, a clear, a span change).
  std::function<void()> changed;

 private:
  void Changed();

  std::deque<MeasurementReading> readings_;
  uint32_t span_ = kShortSpanS;
};

// A rate for the page's statistics: hundredths with a decimal comma for units 0 (as the page
// shows the rate), whole numbers otherwise; `extraDigit` adds one more decimal (for a mean).
std::string FormatTrendRate(double rate, uint32_t units, bool extraDigit = false);
// "Min 0,10  Mean 0,124  Max 0,15 uSv/h" in the interface language, on three lines; "" when the
// span holds no reading.
std::string TrendStatisticsText(const MeasurementTrend& trend, const Language& language);

}  // namespace dravion
