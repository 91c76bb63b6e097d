#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "lifecycle/single_instance.h"

namespace dravion {

namespace {

// The user's runtime folder when there is one, else the temporary folder.
std::string LockFolder() {
  for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
    const char* value = std::getenv(name);
    if (value && *value && access(value, W_OK) == 0) return value;
  }
  return "/tmp";
}

}  // namespace

bool SingleInstance::Acquire(const std::string& name) {
  if (Held()) return true;
  // Per user, as a session's named mutex is; never following a planted symlink.
  const std::string path =
      LockFolder() + "/" + name + "." + std::to_string(static_cast<long>(getuid())) + ".lock";
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  handle_ = fd;
  return true;
}

void SingleInstance::Release() {
  if (!Held()) return;
  // The file stays: removing it would let a copy lock a fresh file while another holds the old.
  close(static_cast<int>(handle_));
  handle_ = kNone;
}

}  // namespace dravion
