#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <utility>

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

ReplacingFile::ReplacingFile(std::string path, FileStepHook hook)
    : path_(std::move(path)), hook_(std::move(hook)) {}

ReplacingFile::~ReplacingFile() {
  Discard();
}

void ReplacingFile::Discard() {
  if (handle_ < 0) return;
  ::close(static_cast<int>(handle_));
  ::unlink(temp_.c_str());
  handle_ = -1;
}

bool ReplacingFile::Open() {
  step_ = FileStep::Create;
  if (path_.empty() || !Allowed(hook_, FileStep::Create)) return false;
  // A name of our own next to the target, so that the rename stays inside one file system.
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    temp_ = path_ + ".~" + std::to_string(::getpid()) + "-" + std::to_string(tempCounter++);
    fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return false;
  handle_ = fd;
  step_ = FileStep::Write;
  failed_ = !Allowed(hook_, FileStep::Write);
  return true;
}

bool ReplacingFile::Write(std::string_view data) {
  if (handle_ < 0 || failed_) return false;
  if (!WriteAll(static_cast<int>(handle_), data)) failed_ = true;
  return !failed_;
}

FileWriteResult ReplacingFile::Commit() {
  FileWriteResult result;
  result.Failed = step_;
  if (handle_ < 0) return result;
  const int fd = static_cast<int>(handle_);
  handle_ = -1;
  bool written = !failed_ && ::fsync(fd) == 0;
  if (::close(fd) != 0) written = false;
  if (!written) {
    ::unlink(temp_.c_str());
    return result;
  }
  result.Failed = FileStep::Replace;
  if (!Allowed(hook_, FileStep::Replace) || ::rename(temp_.c_str(), path_.c_str()) != 0) {
    ::unlink(temp_.c_str());
    return result;
  }
  // The new name itself reaches the disk with its folder.
  const size_t slash = path_.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path_.substr(0, slash);
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  result.Ok = true;
  return result;
}

FileWriteResult WriteFileReplacing(const std::string& path, std::string_view data,
                                   const FileStepHook& hook) {
  ReplacingFile file(path, hook);
  if (!file.Open()) return FileWriteResult{false, FileStep::Create};
  file.Write(data);
  return file.Commit();
}

// POSIX has no mandatory locks: another program's lock never refuses an append.
AppendResult AppendToFile(const std::string& path, std::string_view data, std::string_view header,
                          std::string& error, const FileStepHook& hook) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = std::strerror(errno);
    return AppendResult::Failed;
  }
  struct stat info {};
  const off_t before = ::fstat(fd, &info) == 0 ? info.st_size : -1;
  bool written = before >= 0 && (before > 0 || WriteAll(fd, header)) && WriteAll(fd, data);
  if (written && !Allowed(hook, FileStep::Write)) {
    written = false;
    errno = ENOSPC;
  }
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
