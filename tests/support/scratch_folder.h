#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace dravion::test {

// An empty folder of its own under the system's temporary folder, removed with all it holds
// when the object goes. The name is claimed by creating the folder, so tests running side by
// side, in one process or in several, never share a folder.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& prefix) {
    namespace fs = std::filesystem;
    std::random_device seed;
    std::mt19937_64 random(
        (uint64_t{seed()} << 32) ^ seed() ^
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    const fs::path base = fs::temp_directory_path();
    do {
      path_ = base / (prefix + "-" + std::to_string(random() % 1'000'000'000'000ull));
    } while (!fs::create_directory(path_));  // false: the name was taken
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The path as the manager's own UTF-8 string.
  std::string Utf8() const {
    const std::u8string name = path_.u8string();
    return std::string(name.begin(), name.end());
  }

 private:
  std::filesystem::path path_;
};

}  // namespace dravion::test
