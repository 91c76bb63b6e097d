#include <windows.h>
// After windows.h.
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include "archive/archive_files.h"
#include "monitor/monitor_config.h"
#include "monitor/monitor_station.h"
#include "services/wide_text_win32.h"

#include <cstdint>
#include <iterator>
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

namespace {

// The SID of the user this process runs as, in `buffer` (TOKEN_USER holds pointers: aligned).
PSID CurrentUserSid(std::vector<uint64_t>& buffer) {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  DWORD length = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &length);
  buffer.assign((length + sizeof(uint64_t) - 1) / sizeof(uint64_t), 0);
  const bool found =
      length > 0 && ::GetTokenInformation(token, TokenUser, buffer.data(), length, &length);
  ::CloseHandle(token);
  return found ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid : nullptr;
}

// Whether `sid` is the user's own, the system's or the administrators'.
bool IsTrustedSid(PSID sid, PSID user) {
  return ::EqualSid(sid, user) || ::IsWellKnownSid(sid, WinLocalSystemSid) ||
         ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
}

// The rights that let someone read what the file holds or change it (or its access list).
constexpr DWORD kUsingRights = FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_READ |
                               GENERIC_WRITE | GENERIC_ALL | WRITE_DAC | WRITE_OWNER;

// Why the open file `file` may not hold secrets, or empty: its owner must be the user (or the
// system or the administrators), and its access list may let nobody else read or change it.
std::string AccessProblem(HANDLE file, const std::string& path) {
  std::vector<uint64_t> userBuffer;
  const PSID user = CurrentUserSid(userBuffer);
  if (user == nullptr) return path + ": " + SystemErrorText(::GetLastError());
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;  // LocalFree's
  const DWORD got = ::GetSecurityInfo(file, SE_FILE_OBJECT,
                                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                      &owner, nullptr, &dacl, nullptr, &descriptor);
  if (got != ERROR_SUCCESS) return path + ": its access list: " + SystemErrorText(got);
  std::string problem;
  wchar_t name[257] = {};  // UNLEN + 1
  DWORD nameSize = static_cast<DWORD>(std::size(name));
  const std::string userName = ::GetUserNameW(name, &nameSize) ? Utf8FromWide(name) : "%USERNAME%";
  const std::string mend =
      " can be read or changed by other users; it holds passwords and keys: "
      "make it yours alone with: icacls \"" +
      path + "\" /inheritance:r /grant:r \"" + userName + ":F\"";
  if (owner == nullptr || !IsTrustedSid(owner, user)) {
    problem = path + " belongs to another user; it holds passwords and keys, so it must be yours";
  } else if (dacl == nullptr) {
    problem = path + mend;  // no access list: everyone may do everything
  } else {
    for (DWORD i = 0; i < dacl->AceCount && problem.empty(); ++i) {
      void* entry = nullptr;
      if (!::GetAce(dacl, i, &entry)) {
        problem = path + ": its access list: " + SystemErrorText(::GetLastError());
        break;
      }
      const auto* header = static_cast<const ACE_HEADER*>(entry);
      if ((header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;  // not for the file itself
      if (header->AceType == ACCESS_ALLOWED_ACE_TYPE ||
          header->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE) {
        // Both begin as ACCESS_ALLOWED_ACE: the mask, then the SID.
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        if ((allowed->Mask & kUsingRights) != 0 && !IsTrustedSid(sid, user)) problem = path + mend;
      } else if (header->AceType == ACCESS_ALLOWED_OBJECT_ACE_TYPE ||
                 header->AceType == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE) {
        problem = path + mend;  // not a file's kind of entry: not trusted
      }
    }
  }
  ::LocalFree(descriptor);
  return problem;
}

}  // namespace

// The file is read whole and parsed as on Linux; first its access list is checked on the file
// opened (not on its name, which could change in between).
bool LoadMonitorConfig(const std::string& path, MonitorConfig& config, std::string& error,
                       bool& missing) {
  config.path = path;
  config.sections.clear();
  config.lines.clear();
  missing = false;
  const std::wstring wide = WideFromUtf8(path);
  const HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ | READ_CONTROL, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    missing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
    error = path + ": " + SystemErrorText(code);
    return false;
  }
  std::string text;
  LARGE_INTEGER size{};
  if (::GetFileType(file) != FILE_TYPE_DISK) {
    error = path + ": not a file";
  } else if (error = AccessProblem(file, path); !error.empty()) {
  } else if (!::GetFileSizeEx(file, &size)) {
    error = path + ": " + SystemErrorText(::GetLastError());
  } else if (static_cast<uint64_t>(size.QuadPart) > kMonitorConfigMaxBytes) {
    error = path + ": larger than " + std::to_string(kMonitorConfigMaxBytes / 1024) + " KiB";
  } else {
    // One byte more than the largest: a file that grew meanwhile is too large.
    text.resize(kMonitorConfigMaxBytes + 1);
    DWORD got = 0;
    if (!::ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &got, nullptr)) {
      error = path + ": " + SystemErrorText(::GetLastError());
    } else if (got > kMonitorConfigMaxBytes) {
      error = path + ": larger than " + std::to_string(kMonitorConfigMaxBytes / 1024) + " KiB";
    }
    text.resize(got);
  }
  ::CloseHandle(file);
  if (!error.empty()) return false;
  if (!ParseMonitorConfig(text, config, error) || !CheckMonitorConfig(config, error)) {
    error = path + ": " + error;
    return false;
  }
  wchar_t full[MAX_PATH * 4];
  const DWORD length =
      ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(std::size(full)), full, nullptr);
  config.station =
      length > 0 && length < std::size(full) ? Utf8FromWide(full, static_cast<int>(length)) : path;
  return true;
}

bool WritePrivateFile(const std::string& path, const std::string& text, std::string& error) {
  if (!MakeFolderFor(path, error)) return false;
  // Its access list: the user alone, full control, nothing inherited from the folder.
  std::vector<uint64_t> userBuffer;
  const PSID user = CurrentUserSid(userBuffer);
  wchar_t* userText = nullptr;  // LocalFree's
  if (user == nullptr || !::ConvertSidToStringSidW(user, &userText)) {
    error = path + ": " + SystemErrorText(::GetLastError());
    return false;
  }
  const std::wstring sddl = std::wstring(L"D:P(A;;FA;;;") + userText + L")";
  ::LocalFree(userText);
  SECURITY_ATTRIBUTES security{};
  security.nLength = sizeof security;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          sddl.c_str(), SDDL_REVISION_1, &security.lpSecurityDescriptor, nullptr)) {
    error = path + ": " + SystemErrorText(::GetLastError());
    return false;
  }
  // Written aside, then moved into place without replacing: never over a file that is there.
  const std::wstring aside = WideFromUtf8(path + ".new-" + std::to_string(::GetCurrentProcessId()));
  const HANDLE file = ::CreateFileW(aside.c_str(), GENERIC_WRITE, 0, &security, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  const DWORD createCode = ::GetLastError();
  ::LocalFree(security.lpSecurityDescriptor);
  if (file == INVALID_HANDLE_VALUE) {
    error = path + ": " + SystemErrorText(createCode);
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
