#include "pty_port.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace dravion::sim {
namespace {

bool MakeFolder(const std::string& path) {
  std::string part;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || (path[i] == '/' && i > 0)) {
      part = path.substr(0, i);
      if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
  }
  return true;
}

}  // namespace

bool PtyPort::Open(const std::string& folder, int number) {
  Close();
  if (number <= 0 || folder.empty() || !MakeFolder(folder)) return false;
  const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  char name[128] = {};
  if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || ::ptsname_r(fd, name, sizeof name) != 0) {
    ::close(fd);
    return false;
  }
  // Raw both ways, so nothing is echoed or translated before a client sets the line up itself.
  termios tio{};
  if (::tcgetattr(fd, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B230400);
    ::cfsetospeed(&tio, B230400);
    ::tcsetattr(fd, TCSANOW, &tio);
  }
  const std::string entry = folder + "/COM" + std::to_string(number);
  const std::string staged = entry + ".new." + std::to_string(::getpid());
  ::unlink(staged.c_str());
  if (::symlink(name, staged.c_str()) != 0 || ::rename(staged.c_str(), entry.c_str()) != 0) {
    ::unlink(staged.c_str());
    ::close(fd);
    return false;
  }
  master_ = fd;
  entry_ = entry;
  terminal_ = name;
  watch_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch_ >= 0 && ::inotify_add_watch(watch_, name, IN_OPEN) < 0) {
    ::close(watch_);
    watch_ = -1;
  }
  return true;
}

void PtyPort::ClearOpenWatch() {
  if (watch_ < 0) return;
  char buffer[512];
  while (::read(watch_, buffer, sizeof buffer) > 0) {
  }
}

void PtyPort::Close() {
  if (!entry_.empty()) {
    // Remove the entry only while it still names this terminal (another device may own it now).
    char target[256] = {};
    const ssize_t n = ::readlink(entry_.c_str(), target, sizeof target - 1);
    if (n > 0 && terminal_ == std::string(target, static_cast<size_t>(n))) {
      ::unlink(entry_.c_str());
    }
    entry_.clear();
  }
  if (watch_ >= 0) ::close(std::exchange(watch_, -1));
  if (master_ >= 0) ::close(std::exchange(master_, -1));
  terminal_.clear();
}

}  // namespace dravion::sim
