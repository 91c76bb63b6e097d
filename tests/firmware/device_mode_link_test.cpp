#include "firmware/device_mode.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "device/device_link_harness.h"

namespace dravion {
namespace {

using device_test::DeviceLinkHarness;

std::vector<std::string> From(const std::vector<std::string>& lines, const std::string& first) {
  auto it = std::find(lines.begin(), lines.end(), first);
  return {it, lines.end()};
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(DeviceModeLink, CheckLogsBothVersionsAndTellsTheProgram) {
  DeviceLinkHarness h([](sim::DeviceConfig& c) { c.mainVersion = 0x0C06; });
  ASSERT_TRUE(h.Connect());
  // As a device handler leaves it: a link test of the heartbeat due during the check would find
  // the channel busy and drop the port under it.
  h.core.manager.LinkWatch = false;
  h.log.lines.clear();
  EXPECT_EQ(CheckDeviceMode(h.context), 1);
  EXPECT_EQ(h.log.lines, (std::vector<std::string>{"==> Check - Device is in Boot or TQV8",
                                                   "BOOT  : 4.16", "TQV8  : 12.6"}));

  h.device->SetFaults({.refuseCommand = sim::CommandKey(1, 0x01)});
  h.log.lines.clear();
  EXPECT_EQ(CheckDeviceMode(h.context), -1);
  EXPECT_EQ(h.log.lines.back(), "# ERROR: \"Reading SoftInfo\"");
  EXPECT_TRUE(h.dialogs.boxes.empty());  // silent
}

TEST(DeviceModeLink, MainProgramRestartedIntoBootComesBackAndIsFoundAgain) {
  DeviceLinkHarness h;
  ASSERT_TRUE(h.Connect());
  h.log.lines.clear();
  h.core.manager.LinkWatch = false;  // as a device handler leaves it
  EXPECT_EQ(ResetToBoot(h.context), 0);
  EXPECT_FALSE(h.core.manager.LinkWatch);
  EXPECT_TRUE(h.device->InBootLoader());
  EXPECT_EQ(h.device->GetCounters().restarts, 1);
  EXPECT_EQ(h.log.lines.front(), "==> Device Reset to BOOT");
  const auto tail = From(h.log.lines, "==> Check - Device is in Boot or TQV8");
  EXPECT_EQ(tail, (std::vector<std::string>{"==> Check - Device is in Boot or TQV8", "BOOT  : 4.16",
                                            "TQV8  : 0.0"}));
  EXPECT_TRUE(h.dialogs.boxes.empty());

  EXPECT_EQ(ResetToMain(h.context), 0);
  EXPECT_FALSE(h.device->InBootLoader());
  EXPECT_TRUE(Has(h.log.lines, "==> Device Reset to TQV8"));
  EXPECT_EQ(h.log.lines.back(), "TQV8  : 12.6");
}

TEST(DeviceModeLink, BootDeviceRestartedIntoBootStillGetsTheCommand) {
  DeviceLinkHarness h([](sim::DeviceConfig& c) { c.startInBoot = true; });
  ASSERT_TRUE(h.Connect());
  h.core.manager.LinkWatch = false;  // as a device handler leaves it
  EXPECT_EQ(ResetToBoot(h.context), 0);
  EXPECT_EQ(h.device->Requests(1, 0x05), 1);
  EXPECT_EQ(h.device->GetCounters().restarts, 1);
}

TEST(DeviceModeLink, DeviceBackInTheOtherProgramGivesMinusTwo) {
  DeviceLinkHarness h;
  ASSERT_TRUE(h.Connect());
  h.core.manager.LinkWatch = false;  // as a device handler leaves it
  h.device->SetFaults({.restartInto = 2});
  EXPECT_EQ(ResetToBoot(h.context), -2);
  EXPECT_FALSE(h.device->InBootLoader());
  EXPECT_EQ(h.log.lines.back(), "TQV8  : 12.6");

  h.device->SetFaults({.restartInto = 3});
  EXPECT_EQ(ResetToMain(h.context), -2);
  EXPECT_TRUE(h.device->InBootLoader());
  EXPECT_EQ(h.log.lines.back(), "TQV8  : 0.0");
}

TEST(DeviceModeLink, DeviceThatNeverComesBackGivesMinusOneAfterAllWaits) {
  DeviceLinkHarness h({}, 16);
  ASSERT_TRUE(h.Connect());
  h.device->SetFaults({.restartStaysAway = true});
  h.core.manager.LinkWatch = false;
  const uint32_t start = h.clock.TickMs();
  EXPECT_EQ(ResetToMain(h.context), -1);
  const uint32_t waited = h.clock.TickMs() - start;
  EXPECT_GE(waited, 31000u);
  EXPECT_LT(waited, 33000u);
  EXPECT_FALSE(h.core.manager.LinkWatch);
  EXPECT_FALSE(h.core.manager.Connected);
  EXPECT_FALSE(Has(h.log.lines, "==> Check - Device is in Boot or TQV8"));
}

TEST(DeviceModeLink, UnansweredRestartCommandFailsAtOnce) {
  DeviceLinkHarness h;
  ASSERT_TRUE(h.Connect());
  h.device->SetFaults({.refuseCommand = sim::CommandKey(1, 0x05)});
  h.log.lines.clear();
  DeviceOperation operation(h.context);  // no link tests between the handler's requests
  EXPECT_EQ(ResetToMain(h.context), -1);
  EXPECT_EQ(ResetToBoot(h.context), -1);
  EXPECT_EQ(h.log.lines, (std::vector<std::string>{
                             "==> Device Reset to TQV8", "# ERROR: \"RESET CMD not completed\"",
                             "==> Device Reset to BOOT", "# ERROR: \"Error when RESET CMD\""}));
  EXPECT_TRUE(h.dialogs.boxes.empty());
  EXPECT_TRUE(h.core.manager.Connected);
}

}  // namespace
}  // namespace dravion
