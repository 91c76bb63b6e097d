#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "services/file_replace.h"
#include "support/scratch_folder.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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

TEST(FileAppend, AFailedAppendIsCutBackToTheEarlierLength) {
  TempFolder folder;
  const std::string path = folder.path + "/readings.csv";
  const auto failAfterWriting = [](FileStep step) { return step != FileStep::Write; };
  std::string error;
  // A new file: its header and the line both go again.
  EXPECT_EQ(AppendToFile(path, "1,a\n", "h\n", error, failAfterWriting), AppendResult::Failed);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(Contents(path), "");
  error.clear();
  ASSERT_EQ(AppendToFile(path, "1,a\n", "h\n", error), AppendResult::Written) << error;
  ASSERT_EQ(AppendToFile(path, "2,b\n", "h\n", error), AppendResult::Written) << error;
  EXPECT_EQ(Contents(path), "h\n1,a\n2,b\n");
  // A file with lines: only the failed line goes.
  EXPECT_EQ(AppendToFile(path, "3,c\n", "h\n", error, failAfterWriting), AppendResult::Failed);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(Contents(path), "h\n1,a\n2,b\n");
  ASSERT_EQ(AppendToFile(path, "4,d\n", "h\n", error), AppendResult::Written) << error;
  EXPECT_EQ(Contents(path), "h\n1,a\n2,b\n4,d\n");
  EXPECT_EQ(Entries(folder.path), 1u);
}

#ifndef _WIN32
// The system itself stops a write half-way: the file-size limit of the process lets part of the
// line reach the file, then refuses the rest.
TEST(FileAppend, AWriteStoppedHalfWayByTheSystemLeavesNoPartOfTheLine) {
  TempFolder folder;
  const std::string path = folder.path + "/readings.csv";
  std::string error;
  ASSERT_EQ(AppendToFile(path, std::string(99, 'x') + "\n", "", error), AppendResult::Written)
      << error;
  rlimit limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
  const rlimit before = limit;
  limit.rlim_cur = 130;
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &previous), 0);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  const bool appended =
      AppendToFile(path, std::string(99, 'y') + "\n", "", error) == AppendResult::Written;
  ::setrlimit(RLIMIT_FSIZE, &before);
  ::sigaction(SIGXFSZ, &previous, nullptr);
  EXPECT_FALSE(appended);
  EXPECT_EQ(error, std::strerror(EFBIG));
  EXPECT_EQ(Contents(path), std::string(99, 'x') + "\n");
}

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
