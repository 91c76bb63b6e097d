#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "serial/port_names.h"
#include "serial/serial_port.h"

namespace dravion {
namespace {

bool Exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

// A built-in UART counts only when the kernel found hardware behind it (type is not 0, "unknown").
bool UartHasHardware(int index) {
  std::ifstream type("/sys/class/tty/ttyS" + std::to_string(index) + "/type");
  int value = 0;
  return type >> value && value != 0;
}

bool SystemPortsWanted() {
  const char* value = std::getenv("DRAVION_SYSTEM_PORTS");
  return value == nullptr || std::string(value) != "0";
}

}  // namespace

std::string PortFolder() {
  if (const char* dir = std::getenv("DRAVION_PORT_DIR"); dir != nullptr && *dir != '\0') return dir;
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.dravion/ports";
}

std::string PortDevicePath(int number) {
  if (number <= 0) return {};
  const std::string entry = PortFolder() + "/COM" + std::to_string(number);
  if (Exists(entry)) return entry;
  if (number <= 32) return "/dev/ttyS" + std::to_string(number - 1);
  if (number <= 64) return "/dev/ttyUSB" + std::to_string(number - 33);
  if (number <= 96) return "/dev/ttyACM" + std::to_string(number - 65);
  return {};
}

std::string PortDevicePathForValue(const std::string& value) {
  const std::string entry = PortFolder() + "/" + value;
  if (Exists(entry)) return entry;
  const int number = ParsePortValue(value);
  return number > 0 ? PortDevicePath(number) : std::string();
}

bool ReadPortValues(std::vector<std::string>& values) {
  values.clear();
  bool readable = false;
  if (DIR* dir = ::opendir(PortFolder().c_str())) {
    readable = true;
    std::vector<std::string> names;
    while (dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
      // Ports in number order; names that are not ports last.
      const unsigned na = static_cast<unsigned>(ParsePortValue(a));
      const unsigned nb = static_cast<unsigned>(ParsePortValue(b));
      return na != nb ? na < nb : a < b;
    });
    values.insert(values.end(), names.begin(), names.end());
  }
  if (!SystemPortsWanted()) return readable;
  if (Exists("/dev")) readable = true;
  for (int i = 0; i < 32; ++i) {
    if (Exists("/dev/ttyS" + std::to_string(i)) && UartHasHardware(i)) {
      values.push_back("COM" + std::to_string(1 + i));
    }
  }
  for (int i = 0; i < 32; ++i) {
    if (Exists("/dev/ttyUSB" + std::to_string(i))) values.push_back("COM" + std::to_string(33 + i));
  }
  for (int i = 0; i < 32; ++i) {
    if (Exists("/dev/ttyACM" + std::to_string(i))) values.push_back("COM" + std::to_string(65 + i));
  }
  return readable;
}

}  // namespace dravion
