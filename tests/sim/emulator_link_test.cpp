#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <thread>

#include "sim/link_harness.h"

namespace dravion {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Le32;

Bytes ReadMemoryRequest(uint32_t address, uint8_t count, uint8_t group = 0x01) {
  Bytes r{group, 0x02};
  const Bytes a = Le32(address);
  r.insert(r.end(), a.begin(), a.end());
  r.push_back(count);
  return r;
}

// Reads device memory in pieces of 16 bytes, as the manager does.
Bytes ReadMemory(test::SimLink& link, uint32_t address, int count) {
  Bytes all;
  while (count > 0) {
    const int piece = std::min(count, 16);
    Bytes data;
    if (!link.Request(1, ReadMemoryRequest(address, static_cast<uint8_t>(piece)), &data)) return {};
    EXPECT_EQ(LoadU32(data.data()), address);
    all.insert(all.end(), data.begin() + 5, data.end());
    address += piece;
    count -= piece;
  }
  return all;
}

TEST(EmulatorLink, PlugRegistersThePortAndUnplugRemovesIt) {
  test::SimLink link({}, false);
  const std::string entry = link.device->PortPath();
  EXPECT_NE(::access(entry.c_str(), F_OK), 0);
  ASSERT_TRUE(link.device->Plug());
  EXPECT_TRUE(link.device->Plugged());
  EXPECT_EQ(::access(entry.c_str(), F_OK), 0);
  ASSERT_TRUE(link.OpenPort());
  Bytes data;
  ASSERT_TRUE(link.Request(1, {0x01, 0x00, 'a', 'b', 'c'}, &data));
  ASSERT_GE(data.size(), 3u);
  EXPECT_EQ(Bytes(data.begin(), data.begin() + 3), (Bytes{'a', 'b', 'c'}));
  EXPECT_LE(data.size(), 4u);

  link.device->Unplug();
  EXPECT_FALSE(link.device->Plugged());
  EXPECT_NE(::access(entry.c_str(), F_OK), 0);
  EXPECT_FALSE(link.Request(1, {0x01, 0x00, 'a'}));

  // Plugged in again under the same number, the manager can open it anew.
  link.stack->port.Close();
  ASSERT_TRUE(link.device->Plug());
  ASSERT_TRUE(link.OpenPort());
  EXPECT_TRUE(link.Request(1, {0x01, 0x00, 'x'}));
}

TEST(EmulatorLink, IdentificationBlocksReadBackAsConfigured) {
  sim::DeviceConfig config;
  config.hardwareRevision = 42;
  config.subRevision = 7;
  config.bootVersion = 0x0411;
  config.serial = {0x12, 0x34, 0x56, 0x78};
  test::SimLink link(config);

  Bytes soft;
  ASSERT_TRUE(link.Request(1, {0x01, 0x01}, &soft));
  ASSERT_EQ(soft.size(), 8u);
  EXPECT_EQ(LoadU16(&soft[0]), 0x0411);
  EXPECT_EQ(LoadU16(&soft[2]), 0x0C06);
  const uint32_t infoAddress = LoadU32(&soft[4]);
  ASSERT_NE(infoAddress, 0u);

  const Bytes info = ReadMemory(link, infoAddress, 48);
  ASSERT_EQ(info.size(), 48u);
  EXPECT_EQ(LoadU16(&info[0]), 9);
  const uint32_t inf1Address = LoadU32(&info[10]);
  EXPECT_EQ(LoadU32(&info[14]), 0x08002000u);

  const Bytes inf1 = ReadMemory(link, inf1Address, 16);
  ASSERT_EQ(inf1.size(), 16u);
  EXPECT_EQ(inf1[1], 6);
  EXPECT_EQ(Bytes(inf1.begin() + 9, inf1.begin() + 13), (Bytes{0x12, 0x34, 0x56, 0x78}));

  const Bytes uid = ReadMemory(link, 0x1FF80050, 12);
  EXPECT_EQ(uid, Bytes(config.uid.begin(), config.uid.end()));

  Bytes board;
  ASSERT_TRUE(link.Request(1, {0x01, 0x0A}, &board));
  EXPECT_EQ(board, (Bytes{0xE4, 0x02, 42, 7}));  // 740, revision 42, sub-revision 7
}

TEST(EmulatorLink, ParametersRoundTripAndRefuseValuesOutOfRange) {
  test::SimLink link;
  Bytes data;
  ASSERT_TRUE(link.Request(1, {0x01, 0x0E, 0x04, 0x00}, &data));
  ASSERT_EQ(data.size(), 6u);
  EXPECT_EQ(LoadU32(&data[2]), 127u);

  ASSERT_TRUE(link.Request(1, {0x01, 0x0F, 0x04, 0x00, 0xF4, 0x01, 0x00, 0x00}, &data));
  EXPECT_EQ(LoadU32(&data[2]), 500u);  // echo of what the device kept
  EXPECT_EQ(link.device->Parameter(4), 500u);
  // K 10,00 is beyond what the device takes: it keeps 500 and says so.
  ASSERT_TRUE(link.Request(1, {0x01, 0x0F, 0x04, 0x00, 0xE8, 0x03, 0x00, 0x00}, &data));
  EXPECT_EQ(LoadU32(&data[2]), 500u);
  ASSERT_TRUE(link.Request(1, {0x01, 0x0E, 0x04, 0x00}, &data));
  EXPECT_EQ(LoadU32(&data[2]), 500u);
}

TEST(EmulatorLink, ClockRunsOnFromWhatWasWrittenAndScreenTextsAreKept) {
  sim::DeviceConfig config;
  config.timeAnswerLength = 8;
  test::SimLink link(config);
  ASSERT_TRUE(link.Request(1, {0x01, 0x0B, 58, 59, 23, 29, 2, 24, 0}));
  Bytes time;
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  ASSERT_TRUE(link.Request(1, {0x01, 0x0C}, &time));
  ASSERT_EQ(time.size(), 8u);
  // 29.02.2024 23:59:58 plus two seconds is 01.03.2024 00:00:00 (or later on a busy machine).
  EXPECT_LE(time[0], 30);
  EXPECT_EQ(Bytes(time.begin() + 1, time.begin() + 6), (Bytes{0, 0, 1, 3, 24}));

  Bytes connection(16, 0);
  connection[0] = 0x01;
  connection[1] = 0x06;
  const std::string text = "COM7";
  std::copy(text.begin(), text.end(), connection.begin() + 2);
  ASSERT_TRUE(link.Request(1, connection));
  Bytes print{0x01, 0x07, 'h', 'e', 'l', 'l', 'o', 0};
  ASSERT_TRUE(link.Request(1, print));
  EXPECT_EQ(link.device->ConnectionTexts(), std::vector<std::string>{"COM7"});
  EXPECT_EQ(link.device->PrintTexts(), std::vector<std::string>{"hello"});
}

TEST(EmulatorLink, RestartIntoBootDisappearsAndComesBackUnderTheSameNumber) {
  sim::DeviceConfig config;
  config.restartMs = 300;
  test::SimLink link(config);
  ASSERT_TRUE(link.Request(1, {0x01, 0x05, 0x03, 0x00, 0x00, 0x00, 0x0A}));
  ASSERT_TRUE(link.device->WaitPlugged(false, 20000));
  EXPECT_NE(::access(link.device->PortPath().c_str(), F_OK), 0);
  ASSERT_TRUE(link.device->WaitPlugged(true, 20000));
  link.stack->port.Close();
  ASSERT_TRUE(link.OpenPort());
  Bytes soft;
  ASSERT_TRUE(link.Request(1, {0x01, 0x01}, &soft));
  EXPECT_EQ(LoadU16(&soft[2]), 0);  // the boot loader runs
  // The boot loader does not serve parameters.
  EXPECT_FALSE(link.Request(1, {0x01, 0x0E, 0x04, 0x00}));

  // Back into the main program: the factory image is intact, so it runs.
  ASSERT_TRUE(link.Request(1, {0x01, 0x05, 0x02, 0x00, 0x00, 0x00, 0x0A}));
  ASSERT_TRUE(link.device->WaitPlugged(false, 20000));
  ASSERT_TRUE(link.device->WaitPlugged(true, 20000));
  link.stack->port.Close();
  ASSERT_TRUE(link.OpenPort());
  ASSERT_TRUE(link.Request(1, {0x01, 0x01}, &soft));
  EXPECT_EQ(LoadU16(&soft[2]), 0x0C06);
}

TEST(EmulatorLink, MeasurementValuesFollowTheBackgroundAndTheDoseResets) {
  sim::DeviceConfig config;
  config.background = 0.50;  // 50 µR/h
  test::SimLink link(config);
  uint32_t rateAddress = 0, countAddress = 0, levelAddress = 0, valueAddress = 0, unitAddress = 0;
  ASSERT_TRUE(link.ReadParameter(0xC001, rateAddress));
  ASSERT_TRUE(link.ReadParameter(0xC004, countAddress));
  ASSERT_TRUE(link.ReadParameter(0xC002, levelAddress));
  ASSERT_TRUE(link.ReadParameter(0xC015, valueAddress));
  ASSERT_TRUE(link.ReadParameter(0xC016, unitAddress));

  const Bytes rate = ReadMemory(link, rateAddress, 4);
  ASSERT_EQ(rate.size(), 4u);
  EXPECT_NEAR(LoadU32(rate.data()), 50.0, 25.0);  // a 20-second counter window fluctuates
  const Bytes count = ReadMemory(link, countAddress, 4);
  // CPM from the same counts: 50 µR/h is about 112 counts a minute at K 1,27.
  EXPECT_NEAR(LoadU32(count.data()) >> 1, 112.0, 56.0);
  const Bytes level = ReadMemory(link, levelAddress, 4);
  EXPECT_GT(level[2], 30);
  EXPECT_LE(level[2], 120);

  auto doseText = [&] {
    EXPECT_TRUE(link.WriteParameter(0xFF00, 0xC0BA0021));
    const Bytes value = ReadMemory(link, valueAddress, 10);
    const Bytes unit = ReadMemory(link, unitAddress, 10);
    return std::string(reinterpret_cast<const char*>(value.data())) + " " +
           std::string(reinterpret_cast<const char*>(unit.data()));
  };
  ASSERT_TRUE(link.WriteParameter(0xFF00, 0xC0BA0020));  // DoseReset
  EXPECT_EQ(doseText(), "0.00 uSv");
  ASSERT_TRUE(link.WriteParameter(9, 1));
  EXPECT_EQ(doseText(), "0.00 uR");
  ASSERT_TRUE(link.WriteParameter(9, 2));
  EXPECT_EQ(doseText().substr(doseText().find(' ')), " CNT");
  // Two seconds at a high background leave counts behind.
  link.device->SetBackground(100.0);
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  EXPECT_NE(doseText(), "0 CNT");
}

}  // namespace
}  // namespace dravion
