#pragma once

#include <string_view>

namespace dravion {

// A serial number as the device shows it and the archive keeps it: eight upper-case
// hexadecimal digits, a "-" after the third (214-36587).
bool IsDeviceSerial(std::string_view serial);
// A chip identifier as the archive keeps it: twelve bytes, each as two upper-case hexadecimal
// digits, joined by ":" (35 characters).
bool IsDeviceUid(std::string_view uid);

}  // namespace dravion
