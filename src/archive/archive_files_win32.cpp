#include <shlobj.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>

#include "archive/archive_files.h"
#include "services/path_root.h"
#include "services/user_file_win32.h"
#include "services/wide_text_win32.h"

namespace dravion {

std::string DefaultArchivePath() {
  if (const wchar_t* file = ::_wgetenv(L"DRAVION_ARCHIVE"); file != nullptr && *file != L'\0')
    return Utf8FromWide(file);
  // The per-user, per-machine application data folder. The returned buffer is the caller's to
  // free with CoTaskMemFree, also when the call fails.
  PWSTR folder = nullptr;
  const HRESULT result = ::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder);
  std::string path;
  if (SUCCEEDED(result) && folder != nullptr) path = Utf8FromWide(folder);
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
      error = file.substr(0, slash) + ": " + SystemErrorText(::GetLastError());
      return false;
    }
  }
  const DWORD attributes = ::GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    error = file.substr(0, slash) + ": " + SystemErrorText(::GetLastError());
    return false;
  }
  return true;
}

bool RenameFile(const std::string& from, const std::string& to) {
  return ::MoveFileExW(WideFromUtf8(from).c_str(), WideFromUtf8(to).c_str(),
                       MOVEFILE_WRITE_THROUGH) != 0;
}

bool RenameWhileOpen() {
  return false;
}

bool FileIsThere(const std::string& path) {
  return ::GetFileAttributesW(WideFromUtf8(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int64_t FileSizeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(WideFromUtf8(path).c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

FileReader::~FileReader() {
  if (handle_ != nullptr) ::CloseHandle(static_cast<HANDLE>(handle_));
}

bool FileReader::Read(char* buffer, size_t size, size_t& got, std::string& error) {
  DWORD n = 0;
  const DWORD wanted = static_cast<DWORD>(size < (1u << 30) ? size : (1u << 30));
  got = 0;
  if (!::ReadFile(static_cast<HANDLE>(handle_), buffer, wanted, &n, nullptr)) {
    error = SystemErrorText(::GetLastError());
    return false;
  }
  got = n;
  return true;
}

bool FileReader::Seek(uint64_t offset, std::string& error) {
  LARGE_INTEGER to{};
  to.QuadPart = static_cast<LONGLONG>(offset);
  if (offset > static_cast<uint64_t>(INT64_MAX) ||
      !::SetFilePointerEx(static_cast<HANDLE>(handle_), to, nullptr, FILE_BEGIN)) {
    error = SystemErrorText(::GetLastError());
    return false;
  }
  return true;
}

bool OpenFileToRead(const std::string& path, FileReader& reader, std::string& error) {
  const HANDLE file = OpenUserFileForReading(path);
  if (file == INVALID_HANDLE_VALUE) {
    error = SystemErrorText(::GetLastError());
    return false;
  }
  if (reader.handle_ != nullptr) ::CloseHandle(static_cast<HANDLE>(reader.handle_));
  reader.handle_ = file;
  return true;
}

}  // namespace dravion
