#include <shlobj.h>
#include <windows.h>

#include <cstdlib>

#include "archive/archive_files.h"
#include "services/path_root.h"
#include "services/user_file_win32.h"
#include "services/wide_text_win32.h"

namespace dravion {

namespace {

std::string Utf8(const wchar_t* text) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string utf8(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), n, nullptr, nullptr);
  utf8.pop_back();  // the terminating zero
  return utf8;
}

std::string SystemText(DWORD code) {
  return SystemErrorText(code);
}

}  // namespace

std::string DefaultArchivePath() {
  if (const wchar_t* file = ::_wgetenv(L"DRAVION_ARCHIVE"); file != nullptr && *file != L'\0')
    return Utf8(file);
  // The per-user, per-machine application data folder. The returned buffer is the caller's to
  // free with CoTaskMemFree, also when the call fails.
  PWSTR folder = nullptr;
  const HRESULT result = ::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder);
  std::string path;
  if (SUCCEEDED(result) && folder != nullptr) path = Utf8(folder);
  ::CoTaskMemFree(folder);
  if (path.empty()) return {};
  return path + "\\Dravion Manager\\" + kArchiveFileName;
}

bool MakeFolderFor(const std::string& file, std::string& error) {
  const size_t slash = file.find_last_of("\\/");
  if (slash == std::string::npos) return true;
  const std::wstring folder = WideFromUtf8(file.substr(0, slash));
  // Each missing folder from the top down, below the drive, share or volume, which is there.
  const size_t root = WindowsPathRootLength(file.substr(0, slash + 1));
  const size_t rootUnits = WideFromUtf8(file.substr(0, root)).size();
  for (size_t at = 1; at <= folder.size(); ++at) {
    if (at < folder.size() && folder[at] != L'\\' && folder[at] != L'/') continue;
    if (at < rootUnits) continue;
    const std::wstring part = folder.substr(0, at);
    if (::GetFileAttributesW(part.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
    if (!::CreateDirectoryW(part.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
      error = file.substr(0, slash) + ": " + SystemText(::GetLastError());
      return false;
    }
  }
  const DWORD attributes = ::GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    error = file.substr(0, slash) + ": " + SystemText(::GetLastError());
    return false;
  }
  return true;
}

bool RenameFile(const std::string& from, const std::string& to) {
  return ::MoveFileExW(WideFromUtf8(from).c_str(), WideFromUtf8(to).c_str(),
                       MOVEFILE_WRITE_THROUGH) != 0;
}

bool FileIsThere(const std::string& path) {
  return ::GetFileAttributesW(WideFromUtf8(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int64_t FileSizeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(WideFromUtf8(path).c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool ReadWholeFile(const std::string& path, std::string& text, std::string& error) {
  const HANDLE file = OpenUserFileForReading(path);
  if (file == INVALID_HANDLE_VALUE) {
    error = SystemText(::GetLastError());
    return false;
  }
  text.clear();
  char buffer[1 << 16];
  DWORD n = 0;
  bool ok = true;
  while ((ok = ::ReadFile(file, buffer, sizeof buffer, &n, nullptr) != 0) && n > 0)
    text.append(buffer, n);
  if (!ok) error = SystemText(::GetLastError());
  ::CloseHandle(file);
  return ok;
}

}  // namespace dravion
