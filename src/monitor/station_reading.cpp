#include "monitor/station_reading.h"

#include "device/measurement.h"
#include "device/value_tables.h"

namespace dravion {

int64_t UtcSeconds(const LocalDateTime& t) {
  return DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second -
         static_cast<int64_t>(t.utcOffsetMinutes) * 60;
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
