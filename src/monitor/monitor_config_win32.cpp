#include <shlobj.h>
#include <windows.h>

#include "archive/archive_files.h"
#include "monitor/monitor_config.h"
#include "monitor/monitor_station.h"
#include "services/wide_text_win32.h"

#include <vector>

namespace dravion {

std::string DefaultMonitorConfigPath() {
  // The user's roaming application data folder. The returned buffer is the caller's to free
  // with CoTaskMemFree, also when the call fails.
  PWSTR folder = nullptr;
  const HRESULT result = ::SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &folder);
  std::string path;
  if (SUCCEEDED(result) && folder != nullptr) path = Utf8FromWide(folder);
  ::CoTaskMemFree(folder);
  if (path.empty()) return {};
  return path + "\\Dravion Manager\\monitor.ini";
}

// The system's profile functions read the file (UTF-16 with its byte-order mark, else the ANSI
// code page). The folder below the user's profile inherits an access list that lets only the
// user (and the system and administrators) in; the file is not checked further.
bool LoadMonitorConfig(const std::string& path, MonitorConfig& config, std::string& error,
                       bool& missing) {
  config.path = path;
  config.sections.clear();
  missing = false;
  const int64_t size = FileSizeOf(path);
  if (size < 0) {
    missing = !FileIsThere(path);
    error = path + ": " + (missing ? "no such file" : "cannot be read");
    return false;
  }
  if (static_cast<uint64_t>(size) > kMonitorConfigMaxBytes) {
    error = path + ": larger than " + std::to_string(kMonitorConfigMaxBytes / 1024) + " KiB";
    return false;
  }
  const std::wstring file = WideFromUtf8(path);
  // Both lists come as strings that each end in a zero, the list in a second zero; a buffer too
  // small is filled to its size less two. The file's size bounds them.
  std::vector<wchar_t> buffer(static_cast<size_t>(size) + 4);
  const DWORD capacity = static_cast<DWORD>(buffer.size());
  auto list = [&](DWORD got) {
    std::vector<std::wstring> items;
    for (size_t at = 0; at < got && buffer[at] != L'\0';) {
      items.emplace_back(&buffer[at]);
      at += items.back().size() + 1;
    }
    return items;
  };
  const DWORD names = ::GetPrivateProfileSectionNamesW(buffer.data(), capacity, file.c_str());
  for (const std::wstring& section : list(names)) {
    const std::string name = Utf8FromWide(section.c_str());
    if (!AddConfigSection(config, name, error)) {
      error = path + ": " + error;
      config.sections.clear();
      return false;
    }
  }
  std::vector<std::string> sectionNames;
  for (const auto& section : config.sections)
    sectionNames.push_back(section.first);
  for (const std::string& name : sectionNames) {
    const DWORD got = ::GetPrivateProfileSectionW(WideFromUtf8(name).c_str(), buffer.data(),
                                                  capacity, file.c_str());
    for (const std::wstring& entry : list(got)) {
      const std::string line = Utf8FromWide(entry.c_str());
      const size_t equals = line.find('=');
      auto trim = [](std::string text) {
        const size_t first = text.find_first_not_of(" \t");
        if (first == std::string::npos) return std::string();
        return text.substr(first, text.find_last_not_of(" \t") - first + 1);
      };
      if (line.empty() || line[0] == ';' || line[0] == '#') continue;
      if (equals == std::string::npos) {
        error = path + ": [" + name + "]: not a key = value line";
        config.sections.clear();
        return false;
      }
      if (!AddConfigEntry(config, name, trim(line.substr(0, equals)), trim(line.substr(equals + 1)),
                          error)) {
        error = path + ": " + error;
        config.sections.clear();
        return false;
      }
    }
  }
  return true;
}

bool WritePrivateFile(const std::string& path, const std::string& text, std::string& error) {
  if (!MakeFolderFor(path, error)) return false;
  // Written aside, then moved into place without replacing: never over a file that is there.
  const std::wstring aside = WideFromUtf8(path + ".new-" + std::to_string(::GetCurrentProcessId()));
  const HANDLE file = ::CreateFileW(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = path + ": " + SystemErrorText(::GetLastError());
    return false;
  }
  DWORD written = 0;
  bool ok = text.size() <= MAXDWORD &&
            ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
            written == text.size() && ::FlushFileBuffers(file);
  DWORD code = ok ? 0 : ::GetLastError();
  ::CloseHandle(file);
  if (ok && !::MoveFileExW(aside.c_str(), WideFromUtf8(path).c_str(), MOVEFILE_WRITE_THROUGH)) {
    ok = false;
    code = ::GetLastError();
  }
  if (!ok) {
    ::DeleteFileW(aside.c_str());
    error = path + ": " + SystemErrorText(code);
  }
  return ok;
}

int64_t CurrentProcessId() {
  return static_cast<int64_t>(::GetCurrentProcessId());
}

}  // namespace dravion
