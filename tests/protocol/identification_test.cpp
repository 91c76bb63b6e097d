#include "protocol/identification.h"

#include <gtest/gtest.h>

#include "protocol/device_format.h"
#include "protocol/scripted_device.h"

namespace dravion {
namespace {

using test::Bytes;
using test::CommandHarness;
using test::RecordingLog;

TEST(DeviceFormat, SerialUidBoardAndVersion) {
  const uint8_t serial[4] = {0x12, 0x34, 0x56, 0x78};
  EXPECT_EQ(FormatSerial(serial, "-"), "214-36587");
  EXPECT_EQ(FormatSerialForFolder(serial, "-"), "2-14-36587");
  const uint8_t hex[4] = {0xAB, 0x0F, 0xF0, 0x00};
  EXPECT_EQ(FormatSerial(hex, ""), "BAF00F00");

  const UidBlock uid{0x00, 0x01, 0x0A, 0xAB, 0xFF, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x7F};
  EXPECT_EQ(FormatUid(uid), "00:01:0A:AB:FF:10:20:30:40:50:60:7F");
  EXPECT_EQ(FormatUid(uid).size(), 35u);

  EXPECT_EQ(FormatVersion(0x0C06), "12.6");
  EXPECT_EQ(FormatVersion(0x0000), "0.0");
  EXPECT_EQ(FormatVersion(0xFFFF), "255.255");

  FactoryBlock inf1{};
  inf1[1] = 6;
  inf1[2] = 3;
  inf1[3] = 2;
  inf1[4] = 5;
  EXPECT_EQ(FormatBoardName(inf1), "ZAV-740.3");
  EXPECT_EQ(FormatBoardVariant(inf1), "(2:5)");
  inf1[1] = 9;
  EXPECT_EQ(FormatBoardName(inf1), "UNKNOWN");
  inf1[1] = 0;
  EXPECT_EQ(FormatBoardName(inf1), "UNKNOWN");
  inf1[1] = 1;
  EXPECT_EQ(FormatBoardName(inf1), "ZAV-615.3");
  inf1[3] = 1;
  const char* variants[] = {"F4:L=ERR", "F4:L=104", "F4:L=373", "F4:L=107_New_ПЭ", "F4:L=ERR"};
  for (int b = 0; b < 5; ++b) {
    inf1[4] = static_cast<uint8_t>(b);
    EXPECT_EQ(FormatBoardVariant(inf1), variants[b]);
  }
  inf1[1] = 2;  // the F4 names belong to board kind 1 only
  inf1[4] = 2;
  EXPECT_EQ(FormatBoardVariant(inf1), "(1:2)");
}

TEST(DeviceInfo, ClearingKeepsTheHardwareRevision) {
  DeviceInfo record;
  record.Valid = 1;
  record.Factory.fill(1);
  record.Uid.fill(2);
  record.Soft = {0x0410, 0x0C06, 0x1000};
  record.Board = {740, 42, 3};
  record.Name = "Dravion ZAV-740.42.3";
  record.Clear();
  EXPECT_EQ(record.Valid, 0);
  EXPECT_EQ(record.Factory, FactoryBlock{});
  EXPECT_EQ(record.Uid, UidBlock{});
  EXPECT_EQ(record.Soft, SoftInfo{});
  EXPECT_EQ(record.Board, (BoardInfo{0, 42, 0}));
  EXPECT_TRUE(record.Name.empty());
}

TEST(IdentifyDevice, SupportedDeviceLogsItsBlockAndUsesEachReadOnce) {
  CommandHarness h;
  DeviceInfo record;
  RecordingLog log;
  ASSERT_TRUE(IdentifyDevice(record, h.commands, log));
  EXPECT_EQ(log.lines, (std::vector<std::string>{
                           "# Device: Dravion ZAV-740.41.3",
                           "# UID   : 30:31:32:33:0A:0B:0C:DB:C0:FF:00:9E",
                           "# S/N   : 214-36587",
                           "# (INF1) Board : ZAV-740.3",
                           "# (INF1) BoardY: (2:5)",
                           "# BOOT  : 4.16",
                           "# TQV8  : 12.6",
                       }));
  EXPECT_EQ(record.Valid, 1);
  EXPECT_EQ(record.Name, "Dravion ZAV-740.41.3");
  EXPECT_EQ(record.Board, (BoardInfo{740, 41, 3}));
  EXPECT_EQ(record.Soft, (SoftInfo{0x0410, 0x0C06, 0x08001000}));
  EXPECT_EQ(record.Factory[9], 0x12);
  // SoftInfo, device information (3), board, INF_1, UID, SoftInfo again.
  const std::vector<Bytes> requests = h.Requests();
  ASSERT_EQ(requests.size(), 8u);
  EXPECT_EQ(requests.front(), (Bytes{0x01, 0x01}));
  EXPECT_EQ(requests.back(), (Bytes{0x01, 0x01}));
  EXPECT_TRUE(h.dialogs.boxes.empty());
}

}  // namespace
}  // namespace dravion
