#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "lifecycle/work_folder.h"

namespace dravion {

std::string SystemTempFolder() {
  const char* value = std::getenv("TMPDIR");
  if (value && *value) return value;
  return "/tmp";
}

bool IsPrivateFolder(const std::string& folder) {
  // In a shared /tmp another user could have planted the folder or a link in its place.
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0) return false;
  return S_ISDIR(info.st_mode) && info.st_uid == getuid();
}

}  // namespace dravion
