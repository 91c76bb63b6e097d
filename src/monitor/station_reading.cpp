#include "monitor/station_reading.h"

#include <cstdio>

#include "device/measurement.h"
#include "device/value_tables.h"

namespace dravion {

int64_t UtcSeconds(const LocalDateTime& t) {
  return DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second -
         static_cast<int64_t>(t.utcOffsetMinutes) * 60;
}

std::string UtcText(int64_t seconds, bool iso) {
  int64_t days = seconds / 86400, rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  // The civil date of a day count from 1970 (the inverse of DaysFromCivil).
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  char text[64];
  std::snprintf(text, sizeof text,
                iso ? "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ"
                    : "%04lld-%02lld-%02lld %02lld:%02lld:%02lld",
                static_cast<long long>(year), static_cast<long long>(month),
                static_cast<long long>(day), static_cast<long long>(rest / 3600),
                static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
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
