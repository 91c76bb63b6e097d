#include <windows.h>

#include <string>

#include "lifecycle/single_instance.h"

namespace dravion {

bool SingleInstance::Acquire(const std::string& name) {
  if (Held()) return true;
  const int length = MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, nullptr, 0);
  std::wstring wide(length > 0 ? length : 1, L'\0');
  if (length > 0) MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, wide.data(), length);
  HANDLE mutex = CreateMutexW(nullptr, TRUE, wide.c_str());
  // Anything but "signalled" (time-out, abandoned, an invalid handle) means another copy.
  if (!mutex || WaitForSingleObject(mutex, 0) != WAIT_OBJECT_0) {
    if (mutex) CloseHandle(mutex);
    return false;
  }
  // Owned twice now (creation and wait) unless another process made it first, which the wait
  // would have refused.
  handle_ = reinterpret_cast<intptr_t>(mutex);
  return true;
}

void SingleInstance::Release() {
  if (!Held()) return;
  HANDLE mutex = reinterpret_cast<HANDLE>(handle_);
  while (ReleaseMutex(mutex)) {
  }
  CloseHandle(mutex);
  handle_ = kNone;
}

}  // namespace dravion
