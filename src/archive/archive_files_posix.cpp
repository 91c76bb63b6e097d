#include <errno.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "archive/archive_files.h"

namespace dravion {

std::string DefaultArchivePath() {
  if (const char* file = std::getenv("DRAVION_ARCHIVE"); file != nullptr && *file != '\0')
    return file;
  // The XDG base directories: a relative XDG_DATA_HOME is to be ignored.
  std::string data;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
    data = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
    data = std::string(home) + "/.local/share";
  } else {
    return {};
  }
  return data + "/dravion-manager/" + kArchiveFileName;
}

bool MakeFolderFor(const std::string& file, std::string& error) {
  const size_t slash = file.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return true;
  const std::string folder = file.substr(0, slash);
  for (size_t at = 1; at <= folder.size(); ++at) {
    if (at < folder.size() && folder[at] != '/') continue;
    const std::string part = folder.substr(0, at);
    // Folders of application data are the user's own (XDG: mode 0700).
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      error = part + ": " + std::strerror(errno);
      return false;
    }
  }
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    error = folder + ": " + std::strerror(errno != 0 ? errno : ENOTDIR);
    return false;
  }
  return true;
}

bool RenameFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool RenameWhileOpen() {
  return true;
}

bool FileIsThere(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

int64_t FileSizeOf(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

FileReader::~FileReader() {
  if (handle_ != nullptr) std::fclose(static_cast<FILE*>(handle_));
}

bool FileReader::Read(char* buffer, size_t size, size_t& got, std::string& error) {
  FILE* file = static_cast<FILE*>(handle_);
  got = std::fread(buffer, 1, size, file);
  if (got < size && std::ferror(file)) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

bool FileReader::Seek(uint64_t offset, std::string& error) {
  if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max()) ||
      ::fseeko(static_cast<FILE*>(handle_), static_cast<off_t>(offset), SEEK_SET) != 0) {
    error = std::strerror(errno != 0 ? errno : EINVAL);
    return false;
  }
  return true;
}

bool OpenFileToRead(const std::string& path, FileReader& reader, std::string& error) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error = std::strerror(errno);
    return false;
  }
  if (reader.handle_ != nullptr) std::fclose(static_cast<FILE*>(reader.handle_));
  reader.handle_ = file;
  return true;
}

}  // namespace dravion
