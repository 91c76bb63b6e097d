#include <fcntl.h>
#include <ini.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

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

struct ParseState {
  MonitorConfig* config;
  std::string error;
};

int OnEntry(void* user, const char* section, const char* name, const char* value) {
  auto* state = static_cast<ParseState*>(user);
  return AddConfigEntry(*state->config, section, name, value ? value : "", state->error) ? 1 : 0;
}

// The text of a configuration file, parsed by inih. False with `error` naming the line.
bool ParseConfigText(const std::string& text, MonitorConfig& config, std::string& error) {
  config.sections.clear();
  if (text.find('\0') != std::string::npos) {
    error = "it holds a zero byte: not a text file";
    return false;
  }
  // inih cuts longer lines into pieces: such a line is refused instead. A section line alone
  // turns its output on with every default, which inih does not report.
  size_t line = 1;
  for (size_t start = 0; start <= text.size(); ++line) {
    const size_t end = std::min(text.find('\n', start), text.size());
    const std::string content = text.substr(start, end - start);
    start = end + 1;
    const std::string where = "line " + std::to_string(line) + ": ";
    if (content.size() > kMonitorConfigMaxLine) {
      error = where + "longer than " + std::to_string(kMonitorConfigMaxLine) + " characters";
      return false;
    }
    const size_t first = content.find_first_not_of(" \t\r\xEF\xBB\xBF");
    if (first == std::string::npos || content[first] != '[') continue;
    const size_t close = content.find(']', first);
    if (close == std::string::npos) continue;  // inih's error
    if (!AddConfigSection(config, content.substr(first + 1, close - first - 1), error)) {
      error = where + error;
      return false;
    }
  }
  ParseState state{&config, {}};
  const int failed = ini_parse_string(text.c_str(), OnEntry, &state);
  if (failed != 0) {
    error = failed < 0
                ? "it could not be parsed"
                : "line " + std::to_string(failed) + ": " +
                      (state.error.empty() ? "not a [section] or a key = value line" : state.error);
    config.sections.clear();
    return false;
  }
  return true;
}

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

}  // namespace

bool LoadMonitorConfig(const std::string& path, MonitorConfig& config, std::string& error,
                       bool& missing) {
  config.path = path;
  std::string text;
  if (!ReadPrivateFile(path, text, error, missing)) return false;
  if (!ParseConfigText(text, config, error)) {
    error = path + ": " + error;
    return false;
  }
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
