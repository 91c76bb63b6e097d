#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "archive/archive_files.h"
#include "monitor/monitor_config.h"
#include "monitor/monitor_station.h"

namespace dravion {

std::string DefaultMonitorConfigPath() {
  // The XDG base directories: a relative XDG_CONFIG_HOME is to be ignored.
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/')
    return std::string(xdg) + "/dravion-manager/monitor.ini";
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
    return std::string(home) + "/.config/dravion-manager/monitor.ini";
  return {};
}

namespace {

// Reads a file that must be the user's alone. False with `error`; `missing` true when there is
// no such file.
bool ReadPrivateFile(const std::string& path, std::string& text, std::string& error,
                     bool& missing) {
  missing = false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    missing = errno == ENOENT;
    error = path + ": " + std::strerror(errno);
    return false;
  }
  // Checked on the file opened, not on its name, which could change in between.
  struct stat info {};
  bool ok = false;
  if (::fstat(fd, &info) != 0) {
    error = path + ": " + std::strerror(errno);
  } else if (!S_ISREG(info.st_mode)) {
    error = path + ": not a file";
  } else if (info.st_uid != ::geteuid()) {
    error = path + " belongs to another user; it holds passwords and keys, so it must be yours";
  } else if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    error = path +
            " can be read or changed by other users; it holds passwords and keys: make it yours "
            "alone with: chmod 600 '" +
            path + "'";
  } else if (static_cast<uint64_t>(info.st_size) > kMonitorConfigMaxBytes) {
    error = path + ": larger than " + std::to_string(kMonitorConfigMaxBytes / 1024) + " KiB";
  } else {
    ok = true;
  }
  text.clear();
  char buffer[4096];
  while (ok) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = path + ": " + std::strerror(errno);
      ok = false;
    } else if (got == 0) {
      break;
    } else if (text.size() + static_cast<size_t>(got) > kMonitorConfigMaxBytes) {
      error = path + ": larger than " + std::to_string(kMonitorConfigMaxBytes / 1024) + " KiB";
      ok = false;
    } else {
      text.append(buffer, static_cast<size_t>(got));
    }
  }
  ::close(fd);
  return ok;
}

// The file's absolute path, its folders resolved when they can be.
std::string AbsoluteFilePath(const std::string& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::weakly_canonical(path, error);
  return error ? path : absolute.string();
}

}  // namespace

bool LoadMonitorConfig(const std::string& path, MonitorConfig& config, std::string& error,
                       bool& missing) {
  config.path = path;
  std::string text;
  if (!ReadPrivateFile(path, text, error, missing)) return false;
  if (!ParseMonitorConfig(text, config, error) || !CheckMonitorConfig(config, error)) {
    error = path + ": " + error;
    return false;
  }
  config.station = AbsoluteFilePath(path);
  return true;
}

bool WritePrivateFile(const std::string& path, const std::string& text, std::string& error) {
  if (!MakeFolderFor(path, error)) return false;
  // Written aside, then linked into place: never over a file that is there, never half written.
  const std::string aside = path + ".new-" + std::to_string(::getpid());
  const int fd = ::open(aside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = aside + ": " + std::strerror(errno);
    return false;
  }
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) break;
    done += static_cast<size_t>(put);
  }
  const bool written = done == text.size() && ::fsync(fd) == 0;
  const int writeErrno = errno;
  ::close(fd);
  if (!written || ::link(aside.c_str(), path.c_str()) != 0) {
    error = path + ": " + std::strerror(written ? errno : writeErrno);
    ::unlink(aside.c_str());
    return false;
  }
  ::unlink(aside.c_str());
  return true;
}

int64_t CurrentProcessId() {
  return ::getpid();
}

}  // namespace dravion
