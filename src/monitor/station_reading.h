#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "services/clock.h"

namespace dravion {

// One second's values of a device left measuring: its unit setting, the dose rate in that unit
// (none when it counts in CPM, whose rate word has no unit) and the count rate.
struct StationSample {
  uint32_t units = 0;          // 0 Sievert, 1 Roentgen, 2 counts
  std::optional<double> rate;  // in the unit of `units`
  double cpm = 0;              // counts per minute
};

// What a monitoring station keeps and publishes per interval: the mean of the interval's
// seconds, and the accumulated dose as the device gave it at the interval's end.
struct StationReading {
  int64_t id = 0;              // its row in the archive, once kept
  int64_t time = 0;            // the interval's end: seconds since 1970-01-01 UTC
  int utcOffsetMinutes = 0;    // of the computer's local time then (for printing only)
  int seconds = 0;             // the interval's length
  int samples = 0;             // seconds averaged (fewer than `seconds` when some went unanswered)
  uint32_t units = 0;          // the device's unit setting
  std::string rateUnit;        // "uSv/h", "uR/h" or "CPM"
  std::optional<double> rate;  // mean dose rate in `rateUnit`
  std::optional<double> microSievertPerHour;  // the same in µSv/h (1 µSv/h = 100 µR/h)
  double cpm = 0;                             // mean count rate
  std::string dose;      // the accumulated dose as the device wrote it ("0,0052"); may be empty
  std::string doseUnit;  // its unit as the device wrote it
  std::string serial;    // "214-36587"
  std::string uid;       // the device's chip identifier
};

// UTC seconds as "2026-12-07 07:30:15", or with `iso` as "2026-12-07T07:30:15Z".
std::string UtcText(int64_t seconds, bool iso);

// Sums the seconds of one interval. A change of the unit setting begins the sum again: a mean
// over two units would be neither.
class ReadingAverager {
 public:
  void Add(const StationSample& sample);
  int Samples() const { return samples_; }
  // The interval's reading (time, dose and device filled in by the caller); the sums begin again.
  StationReading Take();

 private:
  int samples_ = 0;
  int rateSamples_ = 0;
  uint32_t units_ = 0;
  double rateSum_ = 0;
  double cpmSum_ = 0;
};

}  // namespace dravion
