#pragma once

#include <windows.h>

#include <string>

namespace dravion {

// UTF-8 text as the UTF-16 that the wide Win32 functions take (paths, object names).
inline std::wstring WideFromUtf8(const std::string& text) {
  if (text.empty()) return {};
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0)
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

}  // namespace dravion
