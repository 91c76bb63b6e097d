#include "lifecycle/work_folder.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "log/run_log_file.h"

namespace dravion {

namespace fs = std::filesystem;

std::string WorkFolderPath(const std::string& tempFolder) {
  if (tempFolder.empty()) return Utf8FromPath(fs::path("/") / kWorkFolderName);
  return Utf8FromPath(PathFromUtf8(tempFolder) / kWorkFolderName);
}

bool PrepareWorkFolder(const std::string& folder) {
  if (folder.empty()) return false;
  const fs::path path = PathFromUtf8(folder);
  std::error_code error;
  if (!fs::is_directory(fs::symlink_status(path, error))) {
    fs::create_directory(path, error);
    if (error) return false;
  }
  return IsPrivateFolder(folder);
}

void ClearFolder(const std::string& folder) {
  const fs::path path = PathFromUtf8(folder);
  std::error_code error;
  // Names first, deletions after, so the listing is not disturbed by the deletions.
  std::vector<fs::path> names;
  for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
    names.push_back(it->path());
  }
  for (const auto& name : names) {
    std::error_code ignored;
    // A link to a folder is a file of its own: the link goes, its target stays.
    if (fs::is_directory(fs::symlink_status(name, ignored))) continue;
    fs::remove(name, ignored);
  }
}

}  // namespace dravion
