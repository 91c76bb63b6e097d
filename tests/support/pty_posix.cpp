#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "support/pty.h"

namespace dravion::test {

PtyPair::PtyPair() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
    throw std::runtime_error("no pseudo-terminal");
  }
  char name[128];
  if (::ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("ptsname");
  slave_ = name;
  termios tio{};
  ::tcgetattr(master_, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(master_, TCSANOW, &tio);
}

PtyPair::~PtyPair() {
  CloseMaster();
}

void PtyPair::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

std::string PtyPair::Read(int ms) {
  std::string out;
  pollfd in{master_, POLLIN, 0};
  int wait = ms;
  while (::poll(&in, 1, wait) > 0 && (in.revents & POLLIN)) {
    char buffer[4096];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0) break;
    out.append(buffer, static_cast<size_t>(n));
    wait = 20;  // gather the rest of a burst
  }
  return out;
}

void PtyPair::Write(const std::string& bytes) {
  // Gives up when the other side stops reading for a while (a closed port), instead of blocking.
  size_t done = 0;
  while (done < bytes.size()) {
    pollfd out{master_, POLLOUT, 0};
    if (::poll(&out, 1, 200) <= 0) break;
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
}

TempPortFolder::TempPortFolder() {
  char pattern[] = "/tmp/dravion-ports-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
  if (const char* old = std::getenv("DRAVION_PORT_DIR")) {
    hadPrevious_ = true;
    previous_ = old;
  }
  ::setenv("DRAVION_PORT_DIR", path_.c_str(), 1);
}

TempPortFolder::~TempPortFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
  if (hadPrevious_) {
    ::setenv("DRAVION_PORT_DIR", previous_.c_str(), 1);
  } else {
    ::unsetenv("DRAVION_PORT_DIR");
  }
}

void TempPortFolder::Add(const std::string& name, const std::string& target) {
  std::filesystem::create_symlink(target, path_ + "/" + name);
}

void TempPortFolder::Remove(const std::string& name) {
  std::error_code ignored;
  std::filesystem::remove(path_ + "/" + name, ignored);
}

}  // namespace dravion::test
