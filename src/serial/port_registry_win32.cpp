#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "serial/serial_port.h"

namespace dravion {

// The "COMn" data strings of the system's serial-port list in the registry.
bool ReadPortValues(std::vector<std::string>& values) {
  values.clear();
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  DWORD count = 0, longestName = 0, longestData = 0;
  // A key that opens but cannot be queried counts as an empty list.
  if (::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                         &longestName, &longestData, nullptr, nullptr) == ERROR_SUCCESS) {
    std::vector<char> name(longestName + 1);
    std::vector<BYTE> data(longestData + 1);
    for (DWORD i = 0; i < count; ++i) {
      DWORD nameSize = static_cast<DWORD>(name.size());
      DWORD dataSize = static_cast<DWORD>(data.size() - 1);
      DWORD type = 0;
      std::fill(data.begin(), data.end(), 0);
      const LONG status =
          ::RegEnumValueA(key, i, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize);
      if (status == ERROR_NO_MORE_ITEMS) break;
      values.emplace_back(status == ERROR_SUCCESS && type == REG_SZ
                              ? std::string(reinterpret_cast<const char*>(data.data()))
                              : std::string());
    }
  }
  ::RegCloseKey(key);
  return true;
}

}  // namespace dravion
