#pragma once

#include <string>
#include <vector>

#include "services/language.h"

namespace dravion {

// Unit systems of the device (its parameter 9) and the prefix levels of the unit names.
enum Unit { kUnitSievert = 0, kUnitRoentgen = 1, kUnitCounts = 2 };
enum UnitLevel { kLevelMicro = 0, kLevelMilli = 1, kLevelNone = 2 };

constexpr int kBackgroundThresholdCount = 16;
constexpr int kDoseThresholdCount = 15;

// Name of the dose-rate / dose unit in the current interface language. A unit or level outside
// 0..2 is read as 0. The Russian Roentgen names at levels 1 and 2 start with one and two spaces.
std::string RateUnitName(int unit, int level, const Language& language);
std::string DoseUnitName(int unit, int level, const Language& language);

// One threshold entry: the number as shown (decimal comma, e-notation kept) and the prefix level
// that its leading minus signs gave.
struct ThresholdEntry {
  std::string number;
  int level = 0;
};

// The threshold tables of a unit (forced into 0..2), built once from their written form.
const std::vector<ThresholdEntry>& BackgroundThresholds(int unit);
const std::vector<ThresholdEntry>& DoseThresholds(int unit);

// The unit that the two threshold lists were last built for. A unit above 2 counts as 2; a
// negative unit asks for the remembered one; any other unit becomes the remembered one.
class ThresholdUnit {
 public:
  int Resolve(int unit);
  int Remembered() const { return remembered_; }

 private:
  int remembered_ = kUnitSievert;
};

// Item texts of the threshold lists for a unit (forced into 0..2): the number, one space and the
// unit name of its level, e.g. "3 mR/h" or "100e3 PULSES".
std::vector<std::string> BackgroundThresholdItems(int unit, const Language& language);
std::vector<std::string> DoseThresholdItems(int unit, const Language& language);

}  // namespace dravion
