#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "services/file_replace.h"

namespace dravion {

namespace {

std::atomic<unsigned> tempCounter{0};

bool Allowed(const FileStepHook& hook, FileStep step) {
  return !hook || hook(step);
}

bool WriteAll(int fd, std::string_view data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool FileExists(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

FileWriteResult WriteFileReplacing(const std::string& path, std::string_view data,
                                   const FileStepHook& hook) {
  FileWriteResult result;
  result.Failed = FileStep::Create;
  if (path.empty() || !Allowed(hook, FileStep::Create)) return result;
  // A name of our own next to the target, so that the rename stays inside one file system.
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    temp = path + ".~" + std::to_string(::getpid()) + "-" + std::to_string(tempCounter++);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return result;

  result.Failed = FileStep::Write;
  bool written = Allowed(hook, FileStep::Write) && WriteAll(fd, data) && ::fsync(fd) == 0;
  if (::close(fd) != 0) written = false;
  if (!written) {
    ::unlink(temp.c_str());
    return result;
  }
  result.Failed = FileStep::Replace;
  if (!Allowed(hook, FileStep::Replace) || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return result;
  }
  // The new name itself reaches the disk with its folder.
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  result.Ok = true;
  return result;
}

// POSIX has no mandatory locks: another program's lock never refuses an append.
AppendResult AppendToFile(const std::string& path, std::string_view data, std::string_view header,
                          std::string& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = std::strerror(errno);
    return AppendResult::Failed;
  }
  struct stat info {};
  const off_t before = ::fstat(fd, &info) == 0 ? info.st_size : -1;
  bool written = before >= 0 && (before > 0 || WriteAll(fd, header)) && WriteAll(fd, data);
  int failure = written ? 0 : errno;
  if (::close(fd) != 0 && written) {
    written = false;
    failure = errno;
  }
  if (!written) {
    error = std::strerror(failure != 0 ? failure : EIO);
    if (before >= 0) (void)::truncate(path.c_str(), before);
  }
  return written ? AppendResult::Written : AppendResult::Failed;
}

}  // namespace dravion
