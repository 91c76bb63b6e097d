#include "support/held_lookup.h"

#include <dlfcn.h>
#include <netdb.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

namespace {

std::mutex mutex;
std::condition_variable changed;
bool holding = false;
size_t begun = 0;

bool Held(const char* name) {
  static const char kSuffix[] = ".held.test";
  const size_t length = name == nullptr ? 0 : std::strlen(name);
  return length >= sizeof kSuffix - 1 &&
         std::strcmp(name + length - (sizeof kSuffix - 1), kSuffix) == 0;
}

}  // namespace

// Found before the C library's by the program and by its shared libraries (libcurl's resolver
// thread, libmosquitto), as the executable's symbols come first.
extern "C" int getaddrinfo(const char* name, const char* service, const addrinfo* hints,
                           addrinfo** result) {
  using Lookup = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
  static const auto next = reinterpret_cast<Lookup>(::dlsym(RTLD_NEXT, "getaddrinfo"));
  if (!Held(name)) return next(name, service, hints, result);
  std::unique_lock<std::mutex> lock(mutex);
  ++begun;
  changed.notify_all();
  changed.wait(lock, [] { return !holding; });
  return EAI_NONAME;
}

namespace dravion::test {

HeldLookups::HeldLookups() {
  std::lock_guard<std::mutex> lock(mutex);
  holding = true;
  begun = 0;
}

HeldLookups::~HeldLookups() {
  Release();
}

bool HeldLookups::WaitForBegun(size_t count) {
  std::unique_lock<std::mutex> lock(mutex);
  return changed.wait_for(lock, std::chrono::seconds(20), [&] { return begun >= count; });
}

void HeldLookups::Release() {
  std::lock_guard<std::mutex> lock(mutex);
  holding = false;
  changed.notify_all();
}

}  // namespace dravion::test
