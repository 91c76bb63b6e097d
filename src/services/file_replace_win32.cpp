#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <utility>

#include "services/file_replace.h"
#include "services/wide_text_win32.h"

namespace dravion {

namespace {

std::atomic<unsigned> tempCounter{0};

bool Allowed(const FileStepHook& hook, FileStep step) {
  return !hook || hook(step);
}

}  // namespace

bool FileExists(const std::string& path) {
  return ::GetFileAttributesW(WideFromUtf8(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

ReplacingFile::ReplacingFile(std::string path, FileStepHook hook)
    : path_(std::move(path)), hook_(std::move(hook)) {}

ReplacingFile::~ReplacingFile() {
  Discard();
}

void ReplacingFile::Discard() {
  if (handle_ == -1) return;
  ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
  ::DeleteFileW(WideFromUtf8(temp_).c_str());
  handle_ = -1;
}

bool ReplacingFile::Open() {
  step_ = FileStep::Create;
  if (path_.empty() || !Allowed(hook_, FileStep::Create)) return false;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 16 && file == INVALID_HANDLE_VALUE; ++attempt) {
    temp_ = path_ + ".~" + std::to_string(::GetCurrentProcessId()) + "-" +
            std::to_string(tempCounter++);
    file = ::CreateFileW(WideFromUtf8(temp_).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (file == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<intptr_t>(file);
  step_ = FileStep::Write;
  failed_ = !Allowed(hook_, FileStep::Write);
  return true;
}

bool ReplacingFile::Write(std::string_view data) {
  if (handle_ == -1 || failed_) return false;
  const HANDLE file = reinterpret_cast<HANDLE>(handle_);
  size_t done = 0;
  while (done < data.size()) {
    const DWORD piece = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 20));
    DWORD wrote = 0;
    if (!::WriteFile(file, data.data() + done, piece, &wrote, nullptr) || wrote == 0) {
      failed_ = true;
      return false;
    }
    done += wrote;
  }
  return true;
}

FileWriteResult ReplacingFile::Commit() {
  FileWriteResult result;
  result.Failed = step_;
  if (handle_ == -1) return result;
  const HANDLE file = reinterpret_cast<HANDLE>(handle_);
  handle_ = -1;
  const std::wstring temp = WideFromUtf8(temp_);
  bool written = !failed_ && ::FlushFileBuffers(file);
  if (!::CloseHandle(file)) written = false;
  if (!written) {
    ::DeleteFileW(temp.c_str());
    return result;
  }
  result.Failed = FileStep::Replace;
  if (!Allowed(hook_, FileStep::Replace) ||
      !::MoveFileExW(temp.c_str(), WideFromUtf8(path_).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ::DeleteFileW(temp.c_str());
    return result;
  }
  result.Ok = true;
  return result;
}

FileWriteResult WriteFileReplacing(const std::string& path, std::string_view data,
                                   const FileStepHook& hook) {
  ReplacingFile file(path, hook);
  if (!file.Open()) return FileWriteResult{false, FileStep::Create};
  file.Write(data);
  return file.Commit();
}

namespace {

// Errors with which Windows refuses a file that another program holds: opened without write
// sharing (a spreadsheet that has the file open) or a locked range.
bool HeldByAnotherProgram(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

}  // namespace

AppendResult AppendToFile(const std::string& path, std::string_view data, std::string_view header,
                          std::string& error, const FileStepHook& hook) {
  const HANDLE file =
      ::CreateFileW(WideFromUtf8(path).c_str(), FILE_APPEND_DATA | FILE_WRITE_DATA, FILE_SHARE_READ,
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
  if (written && !Allowed(hook, FileStep::Write)) {
    written = false;
    ::SetLastError(ERROR_DISK_FULL);
  }
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
