#include <windows.h>

#include <string>

#include "serial/port_names.h"
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
  PortOpenFailure failure;
  failure.device = "COM" + std::to_string(number);
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    failure.fault = PortFault::Missing;
  } else if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
    // A COM port that another program has open is refused with "access denied".
    failure.fault = PortFault::Busy;
  } else {
    failure.fault = PortFault::Other;
    char text[256] = {};
    ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                     text, sizeof text, nullptr);
    failure.error = text;
    while (!failure.error.empty() && (failure.error.back() == '\n' ||
                                      failure.error.back() == '\r' || failure.error.back() == '.'))
      failure.error.pop_back();
  }
  return failure;
}

}  // namespace dravion
