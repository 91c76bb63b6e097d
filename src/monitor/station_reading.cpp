#include "monitor/station_reading.h"

#include <cstdio>

#include "device/measurement.h"
#include "device/value_tables.h"

namespace dravion {

std::string UtcText(int64_t seconds, bool iso) {
  const LocalDateTime t = ShiftedBy(LocalDateTime{1970, 1, 1, 0, 0, 0, 0, 0}, seconds);
  char text[64];
  std::snprintf(text, sizeof text,
                iso ? "%04d-%02d-%02dT%02d:%02d:%02dZ" : "%04d-%02d-%02d %02d:%02d:%02d", t.year,
                t.month, t.day, t.hour, t.minute, t.second);
  return text;
}

void ReadingAverager::Add(const StationSample& sample) {
  if (samples_ > 0 && sample.units != units_) *this = ReadingAverager();
  units_ = sample.units;
  ++samples_;
  cpmSum_ += sample.cpm;
  if (sample.rate) {
    ++rateSamples_;
    rateSum_ += *sample.rate;
  }
}

StationReading ReadingAverager::Take() {
  StationReading reading;
  reading.samples = samples_;
  reading.units = units_;
  reading.rateUnit = RateUnitCode(units_);
  if (samples_ > 0) reading.cpm = cpmSum_ / samples_;
  if (rateSamples_ > 0) {
    reading.rate = rateSum_ / rateSamples_;
    if (units_ == kUnitSievert) reading.microSievertPerHour = *reading.rate;
    if (units_ == kUnitRoentgen) reading.microSievertPerHour = *reading.rate / 100;
  }
  *this = ReadingAverager();
  return reading;
}

}  // namespace dravion
