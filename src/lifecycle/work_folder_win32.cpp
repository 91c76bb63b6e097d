#include <windows.h>

#include "lifecycle/work_folder.h"

namespace dravion {

std::string SystemTempFolder() {
  wchar_t buffer[MAX_PATH + 2] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  if (length == 0 || length > MAX_PATH + 1) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(length), nullptr, 0,
                                       nullptr, nullptr);
  if (size <= 0 || size >= 4096) return std::string();
  std::string text(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(length), text.data(), size, nullptr,
                      nullptr);
  return text;
}

// The temporary folder is the user's own on Windows.
bool IsPrivateFolder(const std::string&) {
  return true;
}

}  // namespace dravion
