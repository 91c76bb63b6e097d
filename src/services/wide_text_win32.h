#pragma once

#include <windows.h>

#include <iterator>
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

// UTF-16 text from the wide Win32 functions as UTF-8; `length` -1 for a terminated text.
inline std::string Utf8FromWide(const wchar_t* text, int length = -1) {
  if (text == nullptr || length == 0) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string utf8(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, length, utf8.data(), size, nullptr, nullptr);
  if (length < 0) utf8.pop_back();  // the terminating zero
  return utf8;
}

// The system's description of an error code in the user's language, as UTF-8, without the final
// full stop and line break; "error N" when the system has none.
inline std::string SystemErrorText(DWORD error) {
  wchar_t wide[512] = {};
  const DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, wide, static_cast<DWORD>(std::size(wide)), nullptr);
  std::string text = Utf8FromWide(wide, static_cast<int>(length));
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == '.' || text.back() == ' '))
    text.pop_back();
  return text.empty() ? "error " + std::to_string(error) : text;
}

}  // namespace dravion
