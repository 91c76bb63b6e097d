#pragma once

#include <windows.h>

#include <string>

#include "services/wide_text_win32.h"

namespace dravion {

// The sharing granted when a user's file is opened for reading: read, write and delete. A
// spreadsheet that shows a CSV keeps it open for writing, and a reader that denies write sharing
// is refused while it does.
inline constexpr DWORD kUserFileReadSharing =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens the file at UTF-8 `path` for sequential reading; INVALID_HANDLE_VALUE with the system's
// error (GetLastError) when it cannot.
inline HANDLE OpenUserFileForReading(const std::string& path) {
  return ::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, kUserFileReadSharing, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

}  // namespace dravion
