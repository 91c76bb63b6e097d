#include <gtest/gtest.h>
#include <stdlib.h>

#include <functional>
#include <memory>

#include "connection/connection_core.h"
#include "connection/connection_fakes.h"
#include "firmware/device_information_view.h"
#include "protocol/commands.h"
#include "protocol/identification.h"
#include "protocol/link_stack.h"
#include "services/language.h"
#include "sim/device.h"
#include "support/fakes.h"
#include "support/pty.h"
#include "support/scaled_time.h"

namespace dravion {
namespace {

class Memo : public DeviceInformationView {
 public:
  void ShowInformationLines(const std::vector<std::string>& shown) override { lines = shown; }
  std::vector<std::string> lines;
};

// The connection manager empties the memo through its view, as the window does.
class WindowView : public connection_test::RecordingView {
 public:
  void ClearDeviceInformation() override {
    RecordingView::ClearDeviceInformation();
    if (page) page->ClearDeviceInformation();
  }
  DeviceInformationPage* page = nullptr;
};

// The About-device memo driven by the connection manager on the real serial stack, with an
// emulated device plugged into a private port folder.
struct InfoHarness {
  InfoHarness() {
    ::setenv("DRAVION_SYSTEM_PORTS", "0", 1);
    language.Set(Lang::English);
    view.page = &page;
    core.manager.ShowDeviceInformation = [this] { page.ShowDeviceInformation(); };
    core.manager.ShowInitialState();
  }
  ~InfoHarness() { stack.port.Close(); }

  // Plugged in after the manager's first look at the ports, so that it counts as a new device.
  sim::Device& Plug(const std::function<void(sim::DeviceConfig&)>& adjust = {}) {
    EXPECT_TRUE(RunUntil([this] { return !core.ports.FirstRefresh; }, 4000));
    sim::DeviceConfig config;
    config.port = 4;
    config.portFolder = folder.path();
    if (adjust) adjust(config);
    device = std::make_unique<sim::Device>(config);
    EXPECT_TRUE(device->Plug());
    return *device;
  }
  bool RunUntil(const std::function<bool()>& done, uint32_t ticks = 10000) {
    const uint32_t start = clock.TickMs();
    while (!done()) {
      if (clock.TickMs() - start >= ticks) return false;
      core.manager.OnHeartbeatTimer();
      Delay(pump, clock, 100);
    }
    return true;
  }

  test::TempPortFolder folder;
  test::ScaledClock clock{4};
  test::ScaledPump pump{clock};
  test::ScriptedDialogs dialogs{&clock};
  WindowView view;
  connection_test::RecordingLog log;
  Language language;
  LinkStack stack{pump, clock, dialogs};
  DeviceCommands commands{stack};
  DeviceInfo record;
  ConnectionCore core{stack, commands, record, view, dialogs, clock, log, language};
  Memo memo;
  DeviceInformationPage page{record, language, memo};
  std::unique_ptr<sim::Device> device;
};

TEST(DeviceInformationLink, PluggedFillsTheMemoUnpluggedAsksForTheDevice) {
  InfoHarness h;
  sim::Device& device = h.Plug([](sim::DeviceConfig& c) { c.mainVersion = 0x0C05; });
  ASSERT_TRUE(h.RunUntil([&] { return h.memo.lines.size() > 4; }));
  ASSERT_EQ(h.memo.lines.size(), 9u);
  EXPECT_EQ(h.memo.lines[1], "Device: " + h.record.Name);
  EXPECT_EQ(h.memo.lines[2], "S/N: 214-36587");
  EXPECT_EQ(h.memo.lines[4], "SW BOOT: 4.16");
  EXPECT_EQ(h.memo.lines[5], "SW MAIN: 1.20.12.5");
  EXPECT_EQ(h.memo.lines[7], "Upgrade to Version 1.20.12.6");
  EXPECT_TRUE(h.view.updateEnabled);

  device.Unplug();
  ASSERT_TRUE(h.RunUntil([&] { return h.memo.lines == NoDeviceLines(h.language); }));
  EXPECT_FALSE(h.view.updateEnabled);
  EXPECT_EQ(h.record.Valid, 0);
}

TEST(DeviceInformationLink, BootLoaderDeviceShowsItsMode) {
  InfoHarness h;
  h.Plug([](sim::DeviceConfig& c) { c.startInBoot = true; });
  ASSERT_TRUE(h.RunUntil([&] { return h.memo.lines.size() > 4; }));
  EXPECT_EQ(h.memo.lines[5], "SW MAIN: 1.20.0.0");
  EXPECT_EQ(h.memo.lines.back(), "Your Device is in BOOT Mode");
}

TEST(DeviceInformationLink, RefusedDeviceIsSaidNotRecognised) {
  InfoHarness h;
  h.Plug([](sim::DeviceConfig& c) { c.model = 741; });
  ASSERT_TRUE(h.RunUntil([&] { return h.core.manager.IdentificationDone; }));
  EXPECT_EQ(h.memo.lines, UnrecognisedDeviceLines(h.language));
  EXPECT_FALSE(h.view.updateEnabled);
}

}  // namespace
}  // namespace dravion
