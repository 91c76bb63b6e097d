// The Windows file services against other programs that have the user's files open: a virus
// scanner or a sync client for a moment, a spreadsheet for as long as it shows the file.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "archive/archive_files.h"
#include "services/file_replace.h"
#include "services/file_replace_win32.h"
#include "services/user_file_win32.h"
#include "services/wide_text_win32.h"
#include "support/scratch_folder.h"

namespace dravion {
namespace {

std::string Contents(const std::string& path) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(FileReplaceWin32, TheTemporaryFileIsNoLongerThanTheTargetAndLiesBesideIt) {
  const std::string folder = "C:\\Users\\Иван\\OneDrive\\Документы\\";
  std::set<std::string> names;
  for (unsigned seed : {0u, 1u, 35u, 36u, 4000000000u}) {
    const std::string temp = TemporaryPathBeside(folder + "история.csv", seed);
    EXPECT_EQ(temp.rfind(folder, 0), 0u) << temp;
    EXPECT_LE(WideFromUtf8(temp).size(), WideFromUtf8(folder + "история.csv").size()) << temp;
    names.insert(temp);
  }
  EXPECT_EQ(names.size(), 5u);
  // A short name still gets a name of its own; a path with forward slashes is cut at the last.
  EXPECT_EQ(TemporaryPathBeside("D:/a.c", 40), "D:/~41");
  EXPECT_EQ(TemporaryPathBeside("x", 0), "~0");
  EXPECT_EQ(TemporaryPathBeside("C:\\data\\readings.csv", 0), "C:\\data\\~0.tmp");
  EXPECT_TRUE(ReplaceRefusalPasses(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(ReplaceRefusalPasses(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(ReplaceRefusalPasses(ERROR_DISK_FULL));
  EXPECT_FALSE(ReplaceRefusalPasses(ERROR_PATH_NOT_FOUND));
}

// A scanner has the old file open without delete sharing when the new one is to take its place:
// the replacement waits until it lets go.
TEST(FileReplaceWin32, AReplacementWaitsForAProgramThatHasTheFileOpenForAMoment) {
  test::ScratchFolder folder{"dravion-replace-win32"};
  const std::string path = folder.Utf8() + "\\история.csv";
  ASSERT_TRUE(WriteFileReplacing(path, "old").Ok);
  HANDLE scanner =
      ::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(scanner, INVALID_HANDLE_VALUE);
  int attempts = 0;
  const FileWriteResult result = WriteFileReplacing(path, "new", [&](FileStep step) {
    if (step == FileStep::Replace && ++attempts == 3) {
      ::CloseHandle(scanner);
      scanner = INVALID_HANDLE_VALUE;
    }
    return true;
  });
  if (scanner != INVALID_HANDLE_VALUE) ::CloseHandle(scanner);
  EXPECT_TRUE(result.Ok);
  EXPECT_EQ(attempts, 3);
  EXPECT_EQ(Contents(path), "new");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                          std::filesystem::directory_iterator()),
            1);
}

// A spreadsheet that shows the CSV holds it open for writing and lets others only read: the
// import still reads it.
TEST(FileReplaceWin32, AFileOpenInASpreadsheetIsStillRead) {
  test::ScratchFolder folder{"dravion-held-read"};
  const std::string path = folder.Utf8() + "\\показания.csv";
  ASSERT_TRUE(WriteFileReplacing(path, "time,rate\n").Ok);
  const HANDLE spreadsheet =
      ::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(spreadsheet, INVALID_HANDLE_VALUE);
  std::string error;
  FileReader reader;
  const bool opened = OpenFileToRead(path, reader, error);
  char text[32] = {};
  size_t got = 0;
  const bool read = opened && reader.Read(text, sizeof text, got, error);
  ::CloseHandle(spreadsheet);
  EXPECT_TRUE(read) << error;
  EXPECT_EQ(std::string(text, got), "time,rate\n");
  EXPECT_EQ(kUserFileReadSharing, 7u);
}

}  // namespace
}  // namespace dravion
#endif
