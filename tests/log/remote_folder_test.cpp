#include "log/remote_folder.h"

#include <gtest/gtest.h>

#include "protocol/identification.h"

namespace dravion {
namespace {

TEST(RemoteLogFolder, BuildsTheFourLevelsFromTheSerialText) {
  EXPECT_EQ(RemoteLogFolder("log5", true, "A-BC-DEF01"), "log5\\A_BC\\DExxx\\Fxx\\");
  EXPECT_EQ(RemoteLogFolder("log5", true, "1-23-45678"), "log5\\1_23\\45xxx\\6xx\\");
  EXPECT_EQ(RemoteFolders("log5\\1_23\\45xxx\\6xx\\rep.txt"),
            (std::vector<std::string>{"log5", "1_23", "45xxx", "6xx"}));
  EXPECT_EQ(RemoteFileName("log5\\1_23\\45xxx\\6xx\\rep.txt"), "rep.txt");
}

TEST(RemoteLogFolder, DevicesWithoutANumberShareOneFolder) {
  for (const char* text : {"F-FF-FFFFF", "f-ff-fffff", "F-fF-FfFfF"}) {
    EXPECT_EQ(RemoteLogFolder("log5", true, text), "log5\\__no_number\\") << text;
  }
  EXPECT_EQ(RemoteLogFolder("log5", false, "A-BC-DEF01"), "log5\\__no_number\\");
  EXPECT_EQ(RemoteLogFolder("log5", ReportIdentity{}), "log5\\__no_number\\");
  EXPECT_EQ(RemoteLogFolder("log5", ReportIdentity{true, {0xFF, 0xFF, 0xFF, 0xFF}}),
            "log5\\__no_number\\");
  EXPECT_EQ(RemoteLogFolder("log5", true, "1-23"), "log5\\__no_number\\");
}

TEST(RemoteLogFolder, TheIdentifiedDeviceGivesItsSerialFolder) {
  DeviceInfo device;
  device.Valid = 1;
  device.Factory[9] = 0x12;
  device.Factory[10] = 0x34;
  device.Factory[11] = 0x56;
  device.Factory[12] = 0x78;  // 2-14-36587
  EXPECT_EQ(RemoteLogFolder("log5", ReportIdentityOf(device)), "log5\\2_14\\36xxx\\5xx\\");
  device.Clear();
  EXPECT_EQ(RemoteLogFolder("log5", ReportIdentityOf(device)), "log5\\__no_number\\");
}

TEST(RemoteLogFolder, EmptyComponentsAreNoFolders) {
  EXPECT_EQ(RemoteFolders("\\\\a\\\\b\\file"), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(RemoteFolders("file").empty());
  EXPECT_EQ(RemoteFileName("file"), "file");
}

}  // namespace
}  // namespace dravion
