#pragma once

#include <cstdint>
#include <string>

namespace dravion {

// Makes sure that one copy of the manager runs per user. Windows: a named mutex owned by the
// running copy. POSIX: an flock on a per-user lock file, which the kernel drops when the process
// ends, so a crashed copy leaves nothing behind.
class SingleInstance {
 public:
  static constexpr const char* kDefaultName = "TQV8_Dravion_Explorer_Mutex";

  SingleInstance() = default;
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;
  ~SingleInstance() { Release(); }

  // True when this copy now holds the name; false when another copy holds it or it could not be
  // made at all.
  bool Acquire(const std::string& name = kDefaultName);
  bool Held() const { return handle_ != kNone; }
  void Release();

 private:
  static constexpr intptr_t kNone = -1;
  intptr_t handle_ = kNone;  // file descriptor or mutex handle
};

}  // namespace dravion
