// The archive's folder on Windows where the user's profile or a setting puts it: a network share
// or a path beyond MAX_PATH in the verbatim form.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <windows.h>

#include "archive/archive_files.h"
#include "support/scratch_folder.h"

namespace dravion {
namespace {

TEST(ArchiveFilesWin32, TheFoldersOfAVerbatimPathAreMadeBelowItsDrive) {
  test::ScratchFolder scratch{"dravion-archive-folder"};
  std::string local = scratch.Utf8();
  for (char& c : local)
    if (c == '/') c = '\\';
  const std::string verbatim = "\\\\?\\" + local + "\\Dravion Manager\\archives";
  std::string error;
  ASSERT_TRUE(MakeFolderFor(verbatim + "\\history-archive.sqlite3", error)) << error;
  EXPECT_TRUE(FileIsThere(local + "\\Dravion Manager\\archives"));
}

}  // namespace
}  // namespace dravion
#endif
