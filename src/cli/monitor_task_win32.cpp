// The logon task through Task Scheduler 2.0's COM interface: ITaskService, its root folder, and a
// task registered from its XML definition.
#include <windows.h>
// After windows.h.
#include <objbase.h>
#include <oleauto.h>
#include <sddl.h>
#include <taskschd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/monitor_task.h"
#include "services/wide_text_win32.h"

namespace dravion::cli {
namespace {

// The system's words for an HRESULT, with its number: "Access is denied (0x80070005)".
std::string ResultText(HRESULT result) {
  const DWORD code = HRESULT_FACILITY(result) == FACILITY_WIN32
                         ? static_cast<DWORD>(HRESULT_CODE(result))
                         : static_cast<DWORD>(result);
  char number[16];
  std::snprintf(number, sizeof number, "0x%08lX", static_cast<unsigned long>(result));
  return SystemErrorText(code) + " (" + number + ")";
}

bool IsNotThere(HRESULT result) {
  return result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ||
         result == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
}

// COM for this thread while it lives. Every successful CoInitializeEx, S_FALSE (already
// initialised) included, is balanced by CoUninitialize; a thread already in another apartment
// (RPC_E_CHANGED_MODE) can use COM as it is and must not be uninitialised.
class ComScope {
 public:
  ComScope() {
    result_ = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  }
  ~ComScope() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  bool Usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }
  HRESULT Result() const { return result_; }

 private:
  HRESULT result_;
};

// An interface pointer released when it goes.
template <class Interface>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() {
    if (p_ != nullptr) p_->Release();
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  // For an [out] parameter: the pointer must be empty when handed over.
  Interface** Out() { return &p_; }
  Interface* operator->() const { return p_; }

 private:
  Interface* p_ = nullptr;
};

// A BSTR of ours, freed when it goes.
class Bstr {
 public:
  explicit Bstr(const std::string& utf8) {
    const std::wstring wide = WideFromUtf8(utf8);
    text_ = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  }
  ~Bstr() { ::SysFreeString(text_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return text_; }

 private:
  BSTR text_ = nullptr;
};

// An empty VARIANT (VT_EMPTY) for the optional arguments, cleared when it goes.
class EmptyVariant {
 public:
  EmptyVariant() { ::VariantInit(&value_); }
  ~EmptyVariant() { ::VariantClear(&value_); }
  EmptyVariant(const EmptyVariant&) = delete;
  EmptyVariant& operator=(const EmptyVariant&) = delete;
  const VARIANT& get() const { return value_; }

 private:
  VARIANT value_;
};

// The task service, connected for the calling user, and its root folder.
class RootFolder {
 public:
  bool Open(std::string& error) {
    if (!com_.Usable()) {
      error = "COM: " + ResultText(com_.Result());
      return false;
    }
    // The process's COM security as Task Scheduler's examples set it; a program that set its own
    // already (RPC_E_TOO_LATE) keeps it.
    const HRESULT security =
        ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                               RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, 0, nullptr);
    if (FAILED(security) && security != RPC_E_TOO_LATE) {
      error = "COM security: " + ResultText(security);
      return false;
    }
    HRESULT result = ::CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_ITaskService, reinterpret_cast<void**>(service_.Out()));
    if (FAILED(result)) {
      error = "Task Scheduler: " + ResultText(result);
      return false;
    }
    const EmptyVariant none;
    result = service_->Connect(none.get(), none.get(), none.get(), none.get());
    if (FAILED(result)) {
      error = "Task Scheduler: " + ResultText(result);
      return false;
    }
    const Bstr root("\\");
    if (root.get() == nullptr) {
      error = ResultText(E_OUTOFMEMORY);
      return false;
    }
    result = service_->GetFolder(root.get(), folder_.Out());
    if (FAILED(result)) {
      error = "Task Scheduler: " + ResultText(result);
      return false;
    }
    return true;
  }
  ITaskFolder* operator->() const { return folder_.operator->(); }

 private:
  ComScope com_;  // first in, last out: the interfaces are released before COM goes
  ComRef<ITaskService> service_;
  ComRef<ITaskFolder> folder_;
};

}  // namespace

TaskOutcome RegisterLogonTask(const std::string& name, const std::string& xml, std::string& error) {
  RootFolder root;
  if (!root.Open(error)) return TaskOutcome::Failed;
  const Bstr path(name), text(xml);
  if (path.get() == nullptr || text.get() == nullptr) {
    error = ResultText(E_OUTOFMEMORY);
    return TaskOutcome::Failed;
  }
  // The user and the logon come from the definition's principal: no account or password here.
  const EmptyVariant user, password, sddl;
  ComRef<IRegisteredTask> task;
  const HRESULT result =
      root->RegisterTask(path.get(), text.get(), TASK_CREATE_OR_UPDATE, user.get(), password.get(),
                         TASK_LOGON_INTERACTIVE_TOKEN, sddl.get(), task.Out());
  if (FAILED(result)) {
    error = ResultText(result);
    return TaskOutcome::Failed;
  }
  return TaskOutcome::Done;
}

TaskOutcome ReadLogonTask(const std::string& name, std::string& xml, std::string& error) {
  RootFolder root;
  if (!root.Open(error)) return TaskOutcome::Failed;
  const Bstr path(name);
  ComRef<IRegisteredTask> task;
  HRESULT result = root->GetTask(path.get(), task.Out());
  if (IsNotThere(result)) return TaskOutcome::NotThere;
  if (FAILED(result)) {
    error = ResultText(result);
    return TaskOutcome::Failed;
  }
  BSTR text = nullptr;  // ours to free
  result = task->get_Xml(&text);
  if (FAILED(result)) {
    error = ResultText(result);
    return TaskOutcome::Failed;
  }
  xml = Utf8FromWide(text, static_cast<int>(::SysStringLen(text)));
  ::SysFreeString(text);
  return TaskOutcome::Done;
}

TaskOutcome RemoveLogonTask(const std::string& name, std::string& error) {
  RootFolder root;
  if (!root.Open(error)) return TaskOutcome::Failed;
  const Bstr path(name);
  const HRESULT result = root->DeleteTask(path.get(), 0);
  if (IsNotThere(result)) return TaskOutcome::NotThere;
  if (FAILED(result)) {
    error = ResultText(result);
    return TaskOutcome::Failed;
  }
  return TaskOutcome::Done;
}

bool CurrentTaskAccount(std::string& userName, std::string& sid, std::string& error) {
  wchar_t name[257];  // UNLEN + 1
  DWORD size = static_cast<DWORD>(std::size(name));
  if (!::GetUserNameW(name, &size)) {
    error = SystemErrorText(::GetLastError());
    return false;
  }
  userName = Utf8FromWide(name);
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
    error = SystemErrorText(::GetLastError());
    return false;
  }
  DWORD length = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &length);
  // TOKEN_USER holds pointers: a buffer aligned for them.
  std::vector<uint64_t> buffer((length + sizeof(uint64_t) - 1) / sizeof(uint64_t));
  bool found =
      length > 0 && ::GetTokenInformation(token, TokenUser, buffer.data(), length, &length);
  if (!found) error = SystemErrorText(::GetLastError());
  ::CloseHandle(token);
  if (!found) return false;
  wchar_t* text = nullptr;  // LocalFree's
  if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
    error = SystemErrorText(::GetLastError());
    return false;
  }
  sid = Utf8FromWide(text);
  ::LocalFree(text);
  return true;
}

std::string ProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    // A path that did not fit comes back cut to the buffer's size.
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const std::string utf8 = Utf8FromWide(path.c_str(), static_cast<int>(path.size()));
  return utf8.substr(0, utf8.find_last_of("\\/") + 1);
}

}  // namespace dravion::cli
