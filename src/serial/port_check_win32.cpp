#include <windows.h>

#include <string>

#include "serial/port_names.h"
#include "serial/port_rules_win32.h"
#include "serial/serial_port.h"

namespace dravion {

PortOpenFailure CheckPort(int number) {
  if (number <= 0) return {};
  const std::string name = PortDevicePath(number);
  const HANDLE handle =
      ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    ::CloseHandle(handle);
    return {};
  }
  const DWORD error = ::GetLastError();
  return OpenFailureFromError(number, error, SystemErrorText(error));
}

}  // namespace dravion
