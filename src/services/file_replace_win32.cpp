#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <utility>

#include "services/file_replace.h"
#include "services/file_replace_win32.h"
#include "services/wide_text_win32.h"

namespace dravion {

namespace {

std::atomic<unsigned> tempCounter{0};

bool Allowed(const FileStepHook& hook, FileStep step) {
  return !hook || hook(step);
}

}  // namespace

bool ReplaceRefusalPasses(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
         error == ERROR_LOCK_VIOLATION;
}

std::string TemporaryPathBeside(const std::string& target, unsigned seed) {
  const size_t slash = target.find_last_of("\\/");
  const size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
  // The name's length as the system counts it: UTF-16 code units.
  size_t units = 0;
  for (size_t i = nameAt; i < target.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(target[i]);
    if ((c & 0xC0) != 0x80) units += c >= 0xF0 ? 2 : 1;
  }
  const size_t room = std::max<size_t>(units, 3);
  std::string name = "~";
  do {
    name += "0123456789abcdefghijklmnopqrstuvwxyz"[seed % 36];
    seed /= 36;
  } while (seed != 0 && name.size() < room);
  if (name.size() + 4 <= room) name += ".tmp";
  return target.substr(0, nameAt) + name;
}

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
    temp_ = TemporaryPathBeside(path_, ::GetCurrentProcessId() * 7919u + tempCounter++);
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
  // The hook is asked before every attempt.
  const std::wstring target = WideFromUtf8(path_);
  for (DWORD waited = 0;; waited += kReplaceRetryPauseMs) {
    if (!Allowed(hook_, FileStep::Replace)) break;
    if (::MoveFileExW(temp.c_str(), target.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      result.Ok = true;
      return result;
    }
    if (!ReplaceRefusalPasses(::GetLastError()) || waited >= kReplaceRetryMs) break;
    ::Sleep(kReplaceRetryPauseMs);
  }
  ::DeleteFileW(temp.c_str());
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
  // In the user's language, as the rest of the system speaks to them.
  auto systemText = [&error](DWORD code) { error = SystemErrorText(code); };
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
