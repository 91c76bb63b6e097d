#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>

#include "connection/connection_core.h"
#include "connection_fakes.h"
#include "protocol/commands.h"
#include "protocol/decoding_port.h"
#include "protocol/identification.h"
#include "protocol/link_stack.h"
#include "serial/channels.h"
#include "services/language.h"
#include "sim/device.h"
#include "support/fakes.h"
#include "support/pty.h"
#include "support/scaled_time.h"

namespace dravion {
namespace {

using test::ScaledClock;
using test::ScaledPump;

// The connection manager on the real serial stack, with emulated devices plugged into a private
// port folder; the heartbeat is called every 100 ticks as the window's timer would.
struct LinkHarness {
  explicit LinkHarness(uint32_t scale = 4) : clock(scale) {
    ::setenv("DRAVION_SYSTEM_PORTS", "0", 1);
    language.Set(Lang::English);
    core.manager.ShowDeviceInformation = [this] {
      ++shown;
      if (onShown) onShown();
    };
    core.manager.ShowInitialState();
  }
  ~LinkHarness() { stack.port.Close(); }

  sim::Device& AddDevice(int port, const std::function<void(sim::DeviceConfig&)>& adjust = {}) {
    sim::DeviceConfig config;
    config.port = port;
    config.portFolder = folder.path();
    if (adjust) adjust(config);
    devices.push_back(std::make_unique<sim::Device>(config));
    return *devices.back();
  }
  // Heartbeats until `done` holds or `ticks` of manager time passed.
  bool RunUntil(const std::function<bool()>& done, uint32_t ticks = 8000) {
    const uint32_t start = clock.TickMs();
    while (!done()) {
      if (clock.TickMs() - start >= ticks) return false;
      core.manager.OnHeartbeatTimer();
      Delay(pump, clock, 100);
    }
    return true;
  }
  // Heartbeats for `ticks` of manager time, and for at least one beat per 100 ticks however
  // slowly the machine lets them come: what the manager would do in that time, it has done.
  void Run(uint32_t ticks) {
    const uint32_t start = clock.TickMs();
    for (uint32_t beats = 0; beats < ticks / 100 || clock.TickMs() - start < ticks; ++beats) {
      core.manager.OnHeartbeatTimer();
      Delay(pump, clock, 100);
    }
  }
  // Past the first refresh of the port list, so that later ports count as new.
  void StartScanning() {
    ASSERT_TRUE(RunUntil([this] { return !core.ports.FirstRefresh; }, 4000));
  }
  bool Recognised() const { return view.statusStyle == StatusStyle::Recognised; }
  void AskManual(const std::string& answer) {
    dialogs.textAnswers.push_back(answer);
    core.manager.OnManualActionUpdate();
    core.manager.OnManualNumberTriggered();
  }

  test::TempPortFolder folder;
  ScaledClock clock;
  ScaledPump pump{clock};
  test::ScriptedDialogs dialogs{&clock};
  connection_test::RecordingView view;
  connection_test::RecordingLog log;
  Language language;
  LinkStack stack{pump, clock, dialogs};
  DeviceCommands commands{stack};
  DeviceInfo record;
  ConnectionCore core{stack, commands, record, view, dialogs, clock, log, language};
  std::vector<std::unique_ptr<sim::Device>> devices;
  int shown = 0;
  std::function<void()> onShown;
};

TEST(ConnectionLink, DevicePresentBeforeStartIsFoundOnlyThroughItsNumber) {
  LinkHarness h;
  sim::Device& device = h.AddDevice(5);
  ASSERT_TRUE(device.Plug());
  h.StartScanning();
  h.Run(3500);
  EXPECT_FALSE(h.core.manager.Connected);
  EXPECT_EQ(device.GetCounters().totalRequests, 0);
  EXPECT_EQ(h.view.link, LinkState::NOK);
  EXPECT_EQ(h.view.status, "Ожидание соединения");  // the window's text until a device is lost

  h.AskManual("5");
  EXPECT_EQ(h.view.manualCaption, "Manual COM5");
  ASSERT_TRUE(h.RunUntil([&] { return h.Recognised(); }));
  EXPECT_EQ(h.core.manager.ConnectionMode, kManualPort);
  EXPECT_EQ(h.view.portPanel, "COM 5");
  EXPECT_EQ(h.core.ports.Selected, 5);
}

TEST(ConnectionLink, ManualNumberZeroNeverOpensAndBadNumbersChangeNothing) {
  LinkHarness h;
  h.AddDevice(1).Plug();
  for (const char* bad : {"251", "-1", "abc"}) {
    h.AskManual(bad);
    EXPECT_EQ(h.core.manager.ConnectionMode, kAutoWatch) << bad;
    EXPECT_EQ(h.dialogs.boxes.back().text, "COM Port Number Format Error");
  }
  h.AskManual("0");
  EXPECT_EQ(h.core.manager.ConnectionMode, kManualPort);
  h.Run(3500);
  EXPECT_FALSE(h.stack.port.IsOpen());
  EXPECT_FALSE(h.core.manager.Connected);
  EXPECT_EQ(h.view.link, LinkState::NOK);
  EXPECT_EQ(h.view.portPanel, "----");
  EXPECT_EQ(h.devices[0]->GetCounters().totalRequests, 0);
  for (const auto& line : h.log.lines)
    EXPECT_EQ(line.rfind("Open COM", 0), std::string::npos);
  h.AskManual("abc");
  EXPECT_EQ(h.core.manager.ConnectionMode, kManualPort);
  EXPECT_EQ(h.core.manager.SelectedPort, 0);
}

TEST(ConnectionLink, APortThatDoesNotOpenIsExplainedOnceNotAtEveryTick) {
  LinkHarness h;
  h.AskManual("130");
  const std::string missing = "COM 130: there is no device at " + h.folder.path() +
                              "/COM130. Check that the device is plugged in and switched on.";
  ASSERT_EQ(h.dialogs.boxes.size(), 1u);
  EXPECT_EQ(h.dialogs.boxes[0].text, missing);
  ASSERT_TRUE(h.RunUntil([&] { return h.log.Count("Open COM 130 : Error") >= 3; }, 60000));
  EXPECT_EQ(h.log.Count(missing), 1);
  const auto said = std::find(h.log.lines.begin(), h.log.lines.end(), missing);
  ASSERT_NE(said, h.log.lines.begin());
  EXPECT_EQ(*std::prev(said), "Open COM 130 : Error");

  // The device appears, but this process holds its port through another port object.
  sim::Device& device = h.AddDevice(130);
  ASSERT_TRUE(device.Plug());
  ChannelRegistry otherRegistry;
  DecodingPort holder(otherRegistry);
  holder.PortNumber = 130;
  ASSERT_TRUE(holder.Open(230400));
  const int failures = h.log.Count("Open COM 130 : Error");
  ASSERT_TRUE(
      h.RunUntil([&] { return h.log.Count("Open COM 130 : Error") >= failures + 3; }, 60000));
  const std::string held = "(pid " + std::to_string(::getpid()) + ")";
  const auto busyLines = std::count_if(h.log.lines.begin(), h.log.lines.end(), [&](auto& line) {
    return line.rfind("COM 130: ", 0) == 0 && line.find(" is in use by ") != std::string::npos &&
           line.find(held) != std::string::npos;
  });
  EXPECT_EQ(busyLines, 1);
  EXPECT_FALSE(h.core.manager.Connected);
  holder.Close();
  ASSERT_TRUE(h.RunUntil([&] { return h.Recognised(); }));
}

TEST(ConnectionLink, NewManualNumberWhileConnectedClosesTheOldPortThenOpensTheNew) {
  LinkHarness h;
  sim::Device& first = h.AddDevice(3);
  sim::Device& second = h.AddDevice(8, [](sim::DeviceConfig& c) { c.serial = {1, 0, 0, 0}; });
  ASSERT_TRUE(first.Plug());
  ASSERT_TRUE(second.Plug());
  h.AskManual("3");
  ASSERT_TRUE(h.RunUntil([&] { return h.Recognised(); }));
  EXPECT_EQ(h.view.status, "Dravion ZAV-740.41.3 S/N: 214-36587");

  h.AskManual("8");
  std::vector<LinkState> states;
  ASSERT_TRUE(h.RunUntil([&] {
    if (states.empty() || states.back() != h.view.link) states.push_back(h.view.link);
    return h.core.manager.Connected && h.core.manager.ConnectedPort == 8;
  }));
  EXPECT_EQ(states, (std::vector<LinkState>{LinkState::OK, LinkState::ERR, LinkState::OK}));
  EXPECT_EQ(h.log.Count("Close COM 3 : OK"), 1);
  ASSERT_TRUE(h.RunUntil([&] { return h.Recognised(); }));
  EXPECT_EQ(h.view.status, "Dravion ZAV-740.41.3 S/N: 100-00000");
  EXPECT_EQ(h.shown, 2);
}

TEST(ConnectionLink, LostDeviceClearsRecordAndCachesAndIsFoundAgain) {
  LinkHarness h;
  h.StartScanning();
  sim::Device& device = h.AddDevice(4);
  ASSERT_TRUE(device.Plug());
  ASSERT_TRUE(h.RunUntil([&] { return h.Recognised(); }));
  ASSERT_TRUE(h.commands.CachedSoftInfo().present);

  device.Unplug();
  ASSERT_TRUE(h.RunUntil([&] { return h.view.status == "Waiting Connection"; }));
  EXPECT_EQ(h.view.statusStyle, StatusStyle::Neutral);
  EXPECT_FALSE(h.view.updateEnabled);
  EXPECT_EQ(h.view.memoClears, 1);
  EXPECT_FALSE(h.core.manager.Identified);
  EXPECT_EQ(h.record.Valid, 0);
  EXPECT_TRUE(h.record.Name.empty());
  EXPECT_FALSE(h.commands.CachedSoftInfo().present);
  EXPECT_FALSE(h.commands.CachedDeviceInfo().present);
  EXPECT_FALSE(h.commands.CachedBoardInfo().present);
  EXPECT_FALSE(h.commands.CachedFactoryBlock().present);
  EXPECT_TRUE(h.dialogs.boxes.empty());  // the watch is silent
  ASSERT_TRUE(h.RunUntil([&] { return h.view.link == LinkState::NOK; }));
  EXPECT_FALSE(h.stack.port.IsOpen());

  ASSERT_TRUE(device.Plug());
  ASSERT_TRUE(h.RunUntil([&] { return h.Recognised(); }));
  EXPECT_EQ(h.shown, 2);
}

TEST(ConnectionLink, DeviceFailingIdentificationIsShownUnknownAndKeptLinked) {
  LinkHarness h;
  h.StartScanning();
  sim::Device& device = h.AddDevice(6, [](sim::DeviceConfig& c) { c.chipCode = 5; });
  ASSERT_TRUE(device.Plug());
  ASSERT_TRUE(h.RunUntil([&] { return h.view.statusStyle == StatusStyle::Unknown; }));
  EXPECT_EQ(h.view.status, "Unknown Device [Dravion ZAV-740.41.3]");
  EXPECT_FALSE(h.view.updateEnabled);
  EXPECT_FALSE(h.core.manager.Identified);
  EXPECT_EQ(h.log.Count("# ERROR: \"CPU MODEL:5\""), 1);
  const int tests = device.Requests(0x01, 0x00);
  ASSERT_TRUE(h.RunUntil([&] { return device.Requests(0x01, 0x00) >= tests + 2; }, 60000));
  EXPECT_TRUE(h.core.manager.Connected);
  EXPECT_EQ(h.view.link, LinkState::OK);
  EXPECT_EQ(h.shown, 1);
}

TEST(ConnectionLink, WithoutLinkWatchALostDeviceLeavesLineAndRecord) {
  LinkHarness h;
  h.StartScanning();
  sim::Device& device = h.AddDevice(2);
  ASSERT_TRUE(device.Plug());
  ASSERT_TRUE(h.RunUntil([&] { return h.Recognised(); }));
  const std::string line = h.view.status;

  h.core.manager.LinkWatch = false;
  device.Unplug();
  h.Run(3500);
  EXPECT_EQ(h.view.status, line);
  EXPECT_EQ(h.record.Valid, 1);
  EXPECT_TRUE(h.commands.CachedSoftInfo().present);
  EXPECT_TRUE(h.view.updateEnabled);

  h.core.manager.LinkWatch = true;
  ASSERT_TRUE(h.RunUntil([&] { return h.view.status == "Waiting Connection"; }));
  EXPECT_EQ(h.record.Valid, 0);
}

// On real time; prints how long a device takes from its port appearing to the identified device
// line, and which requests identification makes.
TEST(ConnectionLink, DevicePluggedAfterStartIsIdentifiedAboutASecondLater) {
  LinkHarness h(1);
  h.StartScanning();
  // Paced like the real line, with a real device's processing times.
  sim::Device& device = h.AddDevice(9, [](sim::DeviceConfig& c) {
    c.baud = 230400;
    c.commandTimeUs = sim::RealisticCommandTimes();
  });
  using Steady = std::chrono::steady_clock;
  uint32_t connected = 0, identifying = 0;
  Steady::time_point identifyingAt, identifiedAt;
  int requestsBefore = 0;
  uint32_t shown = 0;
  h.log.onLine = [&](const std::string& line) {
    if (line == "Open COM 9 : OK") connected = h.clock.TickMs();
    if (line == "# Read Device Information:") {
      identifying = h.clock.TickMs();
      identifyingAt = Steady::now();
      requestsBefore = device.GetCounters().totalRequests;
    }
  };
  h.onShown = [&] {
    identifiedAt = Steady::now();
    shown = h.clock.TickMs();
  };

  const uint32_t plugged = h.clock.TickMs();
  ASSERT_TRUE(device.Plug());
  ASSERT_TRUE(h.RunUntil([&] { return h.Recognised(); }));
  const int requests = device.GetCounters().totalRequests - requestsBefore;
  const int programInfo = device.Requests(0x01, 0x01);
  const int memory = device.Requests(0x01, 0x02);
  const int board = device.Requests(0x01, 0x0A);

  std::printf("[ FIGURES  ] port appeared -> opened and link-tested: %u ms\n", connected - plugged);
  std::printf("[ FIGURES  ] port appeared -> identification starts: %u ms\n",
              identifying - plugged);
  const auto identificationUs =
      std::chrono::duration_cast<std::chrono::microseconds>(identifiedAt - identifyingAt).count();
  std::printf(
      "[ FIGURES  ] identification: %lld us, %d requests (ReadProgramInfo %d, "
      "ReadMemory %d, ReadBoardInformation %d)\n",
      static_cast<long long>(identificationUs), requests, programInfo, memory, board);
  std::printf("[ FIGURES  ] port appeared -> identified device line: %u ms\n", shown - plugged);

  EXPECT_EQ(h.view.status, "Dravion ZAV-740.41.3 S/N: 214-36587");
  EXPECT_TRUE(h.view.updateEnabled);
  EXPECT_TRUE(h.core.manager.Identified);
  EXPECT_EQ(h.core.manager.ConnectedPort, 9);
  EXPECT_EQ(h.view.link, LinkState::OK);
  EXPECT_EQ(h.view.portPanel, "COM 9");
  EXPECT_EQ(h.record.Valid, 1);
  EXPECT_EQ(h.log.Count("PORT LIST: 9"), 1);
  // The identification's lines between the two banners.
  const auto& lines = h.log.lines;
  const auto first = std::find(lines.begin(), lines.end(), std::string(42, '#'));
  ASSERT_LT(first + 1, lines.end());
  EXPECT_EQ(first[1], "# Read Device Information:");
  const auto last = std::find(first + 1, lines.end(), std::string(42, '#'));
  ASSERT_NE(last, lines.end());
  EXPECT_EQ(last[-1], "# TQV8  : 12.6");
  EXPECT_EQ(h.log.Count(std::string(42, '#')), 2);
  EXPECT_EQ(h.log.Count("# S/N   : 214-36587"), 1);
  EXPECT_TRUE(h.dialogs.boxes.empty());

  EXPECT_EQ(requests, 8);
  EXPECT_EQ(programInfo, 2);
  EXPECT_EQ(memory, 5);  // 48 bytes of device information in three, INF_1 and UID in one each
  EXPECT_EQ(board, 1);
  // One second of settling, then the reads (the time to the device line over many plug-ins:
  // bench/replug_figures).
  EXPECT_GE(identifying - connected, 850u);
  EXPECT_GE(shown, identifying);
}

}  // namespace
}  // namespace dravion
