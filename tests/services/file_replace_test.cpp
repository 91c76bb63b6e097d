#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "services/file_replace.h"
#include "support/scratch_folder.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace dravion {
namespace {

namespace fs = std::filesystem;

// Paths in the manager are UTF-8.
fs::path U8(const std::string& path) {
  return fs::path(std::u8string(path.begin(), path.end()));
}

struct TempFolder {
  test::ScratchFolder folder{"dravion-replace"};
  const std::string path = folder.Utf8();
};

std::string Contents(const std::string& path) {
  std::ifstream in(U8(path), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

size_t Entries(const std::string& folder) {
  return static_cast<size_t>(
      std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(FileReplace, NewAndReplacedFilesHoldExactlyTheBytesAndNothingIsLeftBeside) {
  TempFolder folder;
  const std::string path = folder.path + "/история.csv";
  EXPECT_FALSE(FileExists(path));
  const std::string first("a;b\r\n\0\xFF", 7);
  ASSERT_TRUE(WriteFileReplacing(path, first).Ok);
  EXPECT_TRUE(FileExists(path));
  EXPECT_EQ(Contents(path), first);
  ASSERT_TRUE(WriteFileReplacing(path, "second\r\n").Ok);
  EXPECT_EQ(Contents(path), "second\r\n");
  ASSERT_TRUE(WriteFileReplacing(path, "").Ok);
  EXPECT_EQ(Contents(path), "");
  EXPECT_EQ(Entries(folder.path), 1u);
}

TEST(FileReplace, EveryFailingStepKeepsTheOldFileAndRemovesTheTemporaryOne) {
  TempFolder folder;
  const std::string path = folder.path + "/h.csv";
  ASSERT_TRUE(WriteFileReplacing(path, "old").Ok);
  for (FileStep failing : {FileStep::Create, FileStep::Write, FileStep::Replace}) {
    const FileWriteResult result =
        WriteFileReplacing(path, "new", [failing](FileStep step) { return step != failing; });
    EXPECT_FALSE(result.Ok);
    EXPECT_EQ(result.Failed, failing);
    EXPECT_EQ(Contents(path), "old");
    EXPECT_EQ(Entries(folder.path), 1u);
  }
}

#ifndef _WIN32
TEST(FileReplace, AFolderWithoutWritePermissionRefusesAndKeepsTheFile) {
  if (::geteuid() == 0) {
    // Permissions do not bind the superuser; a read-only file system does.
    const std::string before = Contents("/proc/version");
    const FileWriteResult result = WriteFileReplacing("/proc/version", "new");
    EXPECT_FALSE(result.Ok);
    EXPECT_EQ(result.Failed, FileStep::Create);
    EXPECT_EQ(Contents("/proc/version"), before);
    return;
  }
  TempFolder folder;
  const std::string path = folder.path + "/h.csv";
  ASSERT_TRUE(WriteFileReplacing(path, "old").Ok);
  fs::permissions(U8(folder.path), fs::perms::owner_read | fs::perms::owner_exec);
  const FileWriteResult result = WriteFileReplacing(path, "new");
  EXPECT_FALSE(result.Ok);
  EXPECT_EQ(result.Failed, FileStep::Create);
  EXPECT_EQ(Contents(path), "old");
  EXPECT_FALSE(WriteFileReplacing(folder.path + "/missing/x.csv", "x").Ok);
}
#endif

}  // namespace
}  // namespace dravion
