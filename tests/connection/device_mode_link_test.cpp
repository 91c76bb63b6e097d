#include "connection/device_mode.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "device/device_link_harness.h"
#include "device/settings_controller.h"
#include "device/settings_recorder.h"

namespace dravion {
namespace {

using device_test::DeviceLinkHarness;

// Manager time runs this many times faster than real time; the 32 s of a lost restart run at
// twice that.
constexpr uint32_t kScale = 4;

std::vector<std::string> From(const std::vector<std::string>& lines, const std::string& first) {
  auto it = std::find(lines.begin(), lines.end(), first);
  return {it, lines.end()};
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(DeviceModeLink, CheckLogsBothVersionsAndTellsTheProgram) {
  DeviceLinkHarness h([](sim::DeviceConfig& c) { c.mainVersion = 0x0C06; }, kScale);
  ASSERT_TRUE(h.Connect());
  h.log.lines.clear();
  // As in a device handler: a link test of the heartbeat due during the check would find the
  // channel busy and drop the port under it.
  DeviceOperation operation(h.context);
  EXPECT_EQ(CheckDeviceMode(h.context.Link()), 1);
  EXPECT_EQ(h.log.lines, (std::vector<std::string>{"==> Check - Device is in Boot or TQV8",
                                                   "BOOT  : 4.16", "TQV8  : 12.6"}));

  h.device->SetFaults({.refuseCommand = sim::CommandKey(1, 0x01)});
  h.log.lines.clear();
  EXPECT_EQ(CheckDeviceMode(h.context.Link()), -1);
  EXPECT_EQ(h.log.lines.back(), "# ERROR: \"Reading SoftInfo\"");
  EXPECT_TRUE(h.dialogs.boxes.empty());  // silent
}

TEST(DeviceModeLink, MainProgramRestartedIntoBootComesBackAndIsFoundAgain) {
  DeviceLinkHarness h({}, kScale);
  ASSERT_TRUE(h.Connect());
  h.log.lines.clear();
  DeviceOperation operation(h.context);  // LinkWatch cleared, as a device handler leaves it
  EXPECT_EQ(ResetToBoot(h.context.Link()), 0);
  EXPECT_FALSE(h.core.manager.LinkWatch);
  EXPECT_TRUE(h.device->InBootLoader());
  EXPECT_EQ(h.device->GetCounters().restarts, 1);
  EXPECT_EQ(h.log.lines.front(), "==> Device Reset to BOOT");
  const auto tail = From(h.log.lines, "==> Check - Device is in Boot or TQV8");
  EXPECT_EQ(tail, (std::vector<std::string>{"==> Check - Device is in Boot or TQV8", "BOOT  : 4.16",
                                            "TQV8  : 0.0"}));
  EXPECT_TRUE(h.dialogs.boxes.empty());

  EXPECT_EQ(ResetToMain(h.context.Link()), 0);
  EXPECT_FALSE(h.device->InBootLoader());
  EXPECT_TRUE(Has(h.log.lines, "==> Device Reset to TQV8"));
  EXPECT_EQ(h.log.lines.back(), "TQV8  : 12.6");
}

TEST(DeviceModeLink, BootDeviceRestartedIntoBootStillGetsTheCommand) {
  DeviceLinkHarness h([](sim::DeviceConfig& c) { c.startInBoot = true; }, kScale);
  ASSERT_TRUE(h.Connect());
  DeviceOperation operation(h.context);
  EXPECT_EQ(ResetToBoot(h.context.Link()), 0);
  EXPECT_EQ(h.device->Requests(1, 0x05), 1);
  EXPECT_EQ(h.device->GetCounters().restarts, 1);
}

TEST(DeviceModeLink, DeviceBackInTheOtherProgramGivesMinusTwo) {
  DeviceLinkHarness h({}, kScale);
  ASSERT_TRUE(h.Connect());
  h.device->SetFaults({.restartInto = 2});
  DeviceOperation operation(h.context);
  EXPECT_EQ(ResetToBoot(h.context.Link()), -2);
  EXPECT_FALSE(h.device->InBootLoader());
  EXPECT_EQ(h.log.lines.back(), "TQV8  : 12.6");

  h.device->SetFaults({.restartInto = 3});
  EXPECT_EQ(ResetToMain(h.context.Link()), -2);
  EXPECT_TRUE(h.device->InBootLoader());
  EXPECT_EQ(h.log.lines.back(), "TQV8  : 0.0");
}

TEST(DeviceModeLink, DeviceThatNeverComesBackGivesMinusOneAfterAllWaits) {
  DeviceLinkHarness h({}, 2 * kScale);
  ASSERT_TRUE(h.Connect());
  h.device->SetFaults({.restartStaysAway = true});
  DeviceOperation operation(h.context);
  const uint32_t start = h.clock.TickMs();
  EXPECT_EQ(ResetToMain(h.context.Link()), -1);
  const uint32_t waited = h.clock.TickMs() - start;
  // 32 s of waits (the time it takes on real time: bench/restart_figures 1 1500 lost).
  EXPECT_GE(waited, 31000u);
  EXPECT_FALSE(h.core.manager.LinkWatch);
  EXPECT_FALSE(h.core.manager.Connected);
  EXPECT_FALSE(Has(h.log.lines, "==> Check - Device is in Boot or TQV8"));
}

TEST(DeviceModeLink, UnansweredRestartCommandFailsAtOnce) {
  DeviceLinkHarness h({}, kScale);
  ASSERT_TRUE(h.Connect());
  h.device->SetFaults({.refuseCommand = sim::CommandKey(1, 0x05)});
  h.log.lines.clear();
  DeviceOperation operation(h.context);
  EXPECT_EQ(ResetToMain(h.context.Link()), -1);
  EXPECT_EQ(ResetToBoot(h.context.Link()), -1);
  EXPECT_EQ(h.log.lines, (std::vector<std::string>{
                             "==> Device Reset to TQV8", "# ERROR: \"RESET CMD not completed\"",
                             "==> Device Reset to BOOT", "# ERROR: \"Error when RESET CMD\""}));
  EXPECT_TRUE(h.dialogs.boxes.empty());
  EXPECT_TRUE(h.core.manager.Connected);
  // Each restart command went out once: a resend could restart the device a second time.
  EXPECT_EQ(h.device->GetCounters().requests.at(sim::CommandKey(1, 0x05)), 2);
}

// With a manual port a device that is back before the first connection tick after its restart is
// reopened at once; it is identified afresh all the same, so the record holds what it runs now.
TEST(DeviceModeLink, ARestartOnAManualPortEndsInAFreshIdentification) {
  DeviceLinkHarness h([](sim::DeviceConfig& c) { c.restartMs = 50; }, kScale);
  ASSERT_TRUE(h.Connect());
  ConnectionManager& m = h.core.manager;
  m.ConnectionMode = kManualPort;
  m.ManualPortNumber = m.SelectedPort = m.ConnectedPort;
  DeviceOperation operation(h.context);
  for (const bool toBoot : {true, false}) {
    h.log.lines.clear();
    // The next connection tick comes only after the restart's first second.
    m.LastConnectionTick = h.clock.TickMs();
    EXPECT_EQ(toBoot ? ResetToBoot(h.context.Link()) : ResetToMain(h.context.Link()), 0);
    EXPECT_TRUE(Has(h.log.lines, "# Read Device Information:")) << toBoot;
    EXPECT_EQ(h.record.Soft.MainVersion, toBoot ? 0 : 0x0C06);
    EXPECT_EQ(m.ConnectionMode, kManualPort);
  }
}

// A read outside any device operation (the settings page's clock, time show) with a connection
// tick due while it waits for its answer: the tick waits for the exchange, the device stays.
TEST(DeviceModeLink, AConnectionTickDueDuringAnotherExchangeWaitsForIt) {
  DeviceLinkHarness h([](sim::DeviceConfig&) {}, 8);
  ASSERT_TRUE(h.Connect());
  device_test::RecordingSettingsView view{h.language};
  SettingsController settings(h.context, view);
  const int identifications = h.log.Count("# Read Device Information:");
  // Each answer takes about 300 ticks of manager time; the tick is due 50 ticks in.
  h.device->SetFaults({.delayMs = 40});
  for (int i = 0; i < 3; ++i) {
    h.core.manager.LastConnectionTick = h.clock.TickMs() - 950;
    EXPECT_TRUE(settings.ReadClockDrift().has_value()) << i;
    EXPECT_TRUE(h.core.manager.Connected);
    EXPECT_TRUE(h.stack.port.IsOpen());
  }
  h.device->SetFaults({});
  // The tick runs once the reads are done, and the device was never lost.
  const uint32_t due = h.core.manager.LastConnectionTick;
  EXPECT_TRUE(h.WaitUntil([&] { return h.core.manager.LastConnectionTick != due; }));
  EXPECT_TRUE(h.core.manager.Connected);
  EXPECT_EQ(h.log.Count("# Read Device Information:"), identifications);
  EXPECT_TRUE(h.dialogs.boxes.empty());
}

TEST(DeviceModeLink, ALostRestartAnswerIsWaitedForAndAnotherDeviceComingBackIsNamed) {
  DeviceLinkHarness h({}, kScale);
  ASSERT_TRUE(h.Connect());
  const std::optional<DeviceIdentity> before = IdentityOf(h.record);
  ASSERT_TRUE(before);
  DeviceOperation operation(h.context);
  // The device restarts but its answer is lost: one link test finds it silent, and the wait for
  // its return decides.
  h.device->SetFaults({.loseAnswerTo = sim::CommandKey(1, 0x05)});
  h.log.lines.clear();
  EXPECT_EQ(ResetToBoot(h.context.Link()), 0);
  EXPECT_TRUE(h.device->InBootLoader());
  EXPECT_EQ(h.device->GetCounters().lost, 1);
  EXPECT_EQ(h.device->GetCounters().restarts, 1);
  EXPECT_TRUE(
      Has(h.log.lines, "==> No answer to RESET CMD, none to a link test: waiting for the device"));
  EXPECT_FALSE(Has(h.log.lines, "# ERROR: \"Error when RESET CMD\""));
  EXPECT_EQ(h.log.lines.back(), "TQV8  : 0.0");
  EXPECT_EQ(IdentityOf(h.record), before);

  // Another device comes back: no mode check, and the message names both serial numbers.
  h.device->SetFaults({.restartAsAnother = true});
  h.log.lines.clear();
  EXPECT_EQ(ResetToMain(h.context.Link()), kRestartOtherDevice);
  EXPECT_FALSE(h.core.manager.LinkWatch);
  EXPECT_FALSE(Has(h.log.lines, "==> Check - Device is in Boot or TQV8"));
  EXPECT_TRUE(
      h.log.lines.back().starts_with("# ERROR: \"Another device after restart: S/N 325-47698"))
      << h.log.lines.back();
  EXPECT_EQ(OtherDeviceText(h.language, *before, IdentityOf(h.record)),
            "Another device answered after the restart\n\r(S/N 325-47698 instead of "
            "214-36587)\n\rThe operation was stopped");
}

}  // namespace
}  // namespace dravion
