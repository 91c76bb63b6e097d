#pragma once

#include <stdlib.h>

#include <functional>
#include <memory>

#include "connection/connection_core.h"
#include "connection/connection_view.h"
#include "device/device_context.h"
#include "device_fakes.h"
#include "protocol/commands.h"
#include "protocol/identification.h"
#include "protocol/link_stack.h"
#include "services/language.h"
#include "sim/device.h"
#include "support/answer_on_its_way.h"
#include "support/fakes.h"
#include "support/pty.h"
#include "support/scaled_time.h"

namespace dravion::device_test {

// Header-only: the test build compiles only *_test.cpp files from this folder.

// The device functions as the window runs them: the real serial stack and connection manager on
// a sped-up clock, the heartbeat running every 100 ticks whenever the user-interface thread
// waits, and an emulated device in a private port folder.
struct DeviceLinkHarness {
  explicit DeviceLinkHarness(const std::function<void(sim::DeviceConfig&)>& adjust = {},
                             uint32_t scale = 8)
      : clock(scale) {
    ::setenv("DRAVION_SYSTEM_PORTS", "0", 1);
    language.Set(Lang::English);
    sim::DeviceConfig config;
    config.port = 6;
    config.portFolder = folder.path();
    config.restartMs = 400;
    if (adjust) adjust(config);
    device = std::make_unique<sim::Device>(config);
    core.manager.ShowInitialState();
    pump.heartbeat = [this] { core.manager.OnHeartbeatTimer(); };
    // Waiting for an answer that the device is sending: real time (see ScaledClock).
    clock.realSpeed = [this] { return test::AnswerOnItsWay(&stack, device.get()); };
  }
  ~DeviceLinkHarness() {
    pump.heartbeat = nullptr;
    clock.realSpeed = nullptr;
    stack.port.Close();
    device.reset();
  }

  // Waits (heartbeat running) until `done` holds or `ticks` of manager time passed.
  bool WaitUntil(const std::function<bool()>& done, uint32_t ticks = 10000) {
    const uint32_t start = clock.TickMs();
    while (!done()) {
      if (clock.TickMs() - start >= ticks) return false;
      Delay(pump, clock, 50);
    }
    return true;
  }
  // Plugs the device in once the manager watches the port folder, and waits until it was found
  // and identified.
  bool Connect() {
    if (!WaitUntil([this] { return !core.ports.FirstRefresh; }, 40000)) return false;
    if (!device->Plug()) return false;
    return WaitUntil([this] { return core.manager.Connected && core.manager.Identified; }, 40000);
  }

  test::TempPortFolder folder;
  test::ScaledClock clock;
  test::ScaledPump pump{clock};
  test::ScriptedDialogs dialogs{&clock};
  SilentConnectionView view;
  test::RecordingLog log;
  Language language;
  LinkStack stack{pump, clock, dialogs};
  DeviceCommands commands{stack};
  DeviceInfo record;
  ConnectionCore core{stack, commands, record, view, dialogs, clock, log, language};
  RecordingFrame frame;
  DeviceContext context{commands, record, core.manager, log, dialogs, language, clock, pump, frame};
  std::unique_ptr<sim::Device> device;
};

}  // namespace dravion::device_test
