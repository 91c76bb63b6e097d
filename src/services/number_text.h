#pragma once

#include <string>

namespace dravion {

// `value` with exactly `decimals` digits after a decimal point ("0.12", "-3.0", "15"), whatever
// the process locale says: for files, JSON and anything else a program reads back.
std::string FixedDecimal(double value, int decimals);
// The shortest text that reads back as `value` ("0.255", "30", "1796741887"), with a point
// whatever the locale.
std::string ShortestDecimal(double value);

}  // namespace dravion
