#include <string>

#include "serial/port_names.h"

namespace dravion {

// Windows names its serial ports itself: COM<n> is \\.\COM<n>; there is no port folder.
std::string PortFolder() {
  return {};
}

std::string PortDevicePath(int number) {
  return number > 0 ? "\\\\.\\COM" + std::to_string(number) : std::string();
}

std::string PortDevicePathForValue(const std::string& value) {
  return "\\\\.\\" + value;
}

}  // namespace dravion
