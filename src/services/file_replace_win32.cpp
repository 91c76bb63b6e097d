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

namespace {

// Errors with which Windows refuses a file that another program holds: opened without write
// sharing (a spreadsheet that has the file open) or a locked range.
bool HeldByAnotherProgram(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

}  // namespace

AppendResult AppendToFile(const std::string& path, std::string_view data, std::string_view header,
                          std::string& error) {
  const HANDLE file =
      ::CreateFileW(Wide(path).c_str(), FILE_APPEND_DATA | FILE_WRITE_DATA, FILE_SHARE_READ,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  auto systemText = [&error](DWORD code) {
    char text[256] = {};
    const DWORD n =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                         MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    error = n > 0 ? std::string(text, n) : "system error " + std::to_string(code);
    while (!error.empty() && (error.back() == '\n' || error.back() == '\r' || error.back() == '.'))
      error.pop_back();
  };
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD failure = ::GetLastError();
    systemText(failure);
    return HeldByAnotherProgram(failure) ? AppendResult::Locked : AppendResult::Failed;
  }
  // Write access (needed to cut a failed line back off) makes writes land at the file pointer, not
  // at the end: start at the end.
  LARGE_INTEGER before{};
  bool written = ::GetFileSizeEx(file, &before) != 0 &&
                 ::SetFilePointerEx(file, before, nullptr, FILE_BEGIN) != 0;
  auto put = [&](std::string_view part) {
    DWORD done = 0;
    return part.empty() ||
           (::WriteFile(file, part.data(), static_cast<DWORD>(part.size()), &done, nullptr) != 0 &&
            done == part.size());
  };
  written = written && (before.QuadPart > 0 || put(header)) && put(data);
  DWORD failure = written ? 0 : ::GetLastError();
  if (!written) {
    ::SetFilePointerEx(file, before, nullptr, FILE_BEGIN);
    ::SetEndOfFile(file);
  }
  if (::CloseHandle(file) == 0 && written) {
    written = false;
    failure = ::GetLastError();
  }
  if (written) return AppendResult::Written;
  systemText(failure);
  return HeldByAnotherProgram(failure) ? AppendResult::Locked : AppendResult::Failed;
}

}  // namespace dravion
