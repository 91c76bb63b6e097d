#include "services/path_root.h"

#include <gtest/gtest.h>

namespace dravion {
namespace {

TEST(WindowsPathRoot, DrivesSharesAndTheVerbatimAndDeviceNamespaces) {
  EXPECT_EQ(WindowsPathRootLength("C:\\Users\\x"), 3u);
  EXPECT_EQ(WindowsPathRootLength("d:/data"), 3u);
  EXPECT_EQ(WindowsPathRootLength("C:"), 2u);
  EXPECT_EQ(WindowsPathRootLength("\\Users\\x"), 1u);
  EXPECT_EQ(WindowsPathRootLength("relative\\x"), 0u);
  EXPECT_EQ(WindowsPathRootLength("\\\\server\\share\\Dravion\\a.db"), 15u);
  EXPECT_EQ(WindowsPathRootLength("//server/share/Dravion"), 15u);
  EXPECT_EQ(WindowsPathRootLength("\\\\server\\share"), 14u);
  EXPECT_EQ(WindowsPathRootLength("\\\\?\\C:\\Users\\x"), 7u);
  EXPECT_EQ(WindowsPathRootLength("\\\\?\\UNC\\server\\share\\x"), 21u);
  EXPECT_EQ(WindowsPathRootLength("\\\\?\\unc\\server\\share"), 20u);
  EXPECT_EQ(WindowsPathRootLength("\\\\?\\Volume{6f3b}\\x"), 17u);
  EXPECT_EQ(WindowsPathRootLength("\\\\.\\COM9"), 8u);
  // After "\\?\" a slash is a character of the name, not a separator.
  EXPECT_EQ(WindowsPathRootLength("\\\\?\\UNC\\server/x\\share\\y"), 23u);
}

}  // namespace
}  // namespace dravion
