#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "services/file_replace.h"

namespace dravion {

namespace {

std::atomic<unsigned> tempCounter{0};

bool Allowed(const FileStepHook& hook, FileStep step) {
  return !hook || hook(step);
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0)
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

}  // namespace

bool FileExists(const std::string& path) {
  return ::GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

FileWriteResult WriteFileReplacing(const std::string& path, std::string_view data,
                                   const FileStepHook& hook) {
  FileWriteResult result;
  result.Failed = FileStep::Create;
  if (path.empty() || !Allowed(hook, FileStep::Create)) return result;
  const std::wstring target = Wide(path);
  std::wstring temp;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 16 && file == INVALID_HANDLE_VALUE; ++attempt) {
    temp = target + L".~" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
           std::to_wstring(tempCounter++);
    file = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (file == INVALID_HANDLE_VALUE) return result;

  result.Failed = FileStep::Write;
  bool written = Allowed(hook, FileStep::Write);
  size_t done = 0;
  while (written && done < data.size()) {
    const DWORD piece = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 20));
    DWORD wrote = 0;
    if (!::WriteFile(file, data.data() + done, piece, &wrote, nullptr) || wrote == 0)
      written = false;
    done += wrote;
  }
  if (written && !::FlushFileBuffers(file)) written = false;
  if (!::CloseHandle(file)) written = false;
  if (!written) {
    ::DeleteFileW(temp.c_str());
    return result;
  }
  result.Failed = FileStep::Replace;
  if (!Allowed(hook, FileStep::Replace) ||
      !::MoveFileExW(temp.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ::DeleteFileW(temp.c_str());
    return result;
  }
  result.Ok = true;
  return result;
}

}  // namespace dravion
