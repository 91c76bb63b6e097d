
// Figures of a device restart as the settings page and the update run it: ResetToMain against
// the emulator on a real pty, with the connection manager's heartbeat every 100 ms during the
// waits, on real time.
//  1. from the emulator's reappearance on its port to ResetToMain returning;
//  2. the whole restart, from the call to its return;
//  3. with "lost": a restart after which the device never comes back, from the call to the
//     failure (the manager's waits add up to 32 s).
// Usage: restart_figures [runs] [emulator restart ms] [lost]   (defaults 5 and the emulator's
// default)
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench_views.h"
#include "connection/connection_core.h"
#include "connection/connection_view.h"
#include "connection/device_mode.h"
#include "device/device_context.h"
#include "protocol/commands.h"
#include "protocol/identification.h"
#include "protocol/link_stack.h"
#include "services/dialogs.h"
#include "services/language.h"
#include "services/log_sink.h"
#include "sim/device.h"
#include "support/pty.h"
#include "support/scaled_time.h"

namespace {

using Steady = std::chrono::steady_clock;

class QuietLog : public dravion::LogSink {
 public:
  void LogLine(const std::string&) override {}
};

double Seconds(Steady::duration d) {
  return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace dravion;
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  ::setenv("DRAVION_SYSTEM_PORTS", "0", 1);
  test::TempPortFolder folder;
  sim::DeviceConfig config;
  config.port = 9;
  config.portFolder = folder.path();
  if (argc > 2) config.restartMs = std::atoi(argv[2]);
  sim::Device device(config);

  test::ScaledClock clock(1);
  test::ScaledPump pump(clock);
  bench::QuietDialogs dialogs;
  QuietLog log;
  dravion::SilentConnectionView view;
  bench::NoFrame frame;
  Language language;
  LinkStack stack(pump, clock, dialogs);
  DeviceCommands commands(stack);
  DeviceInfo record;
  ConnectionCore core(stack, commands, record, view, dialogs, clock, log, language);
  DeviceContext context{commands, record, core.manager, log, dialogs, language, clock, pump, frame};
  pump.heartbeat = [&] { core.manager.OnHeartbeatTimer(); };

  auto waitUntil = [&](auto done, int ms) {
    const uint32_t start = clock.TickMs();
    while (!done()) {
      if (clock.TickMs() - start > static_cast<uint32_t>(ms)) return false;
      Delay(pump, clock, 50);
    }
    return true;
  };
  // Ports present at the manager's first look are not candidates: plug in after it.
  if (!waitUntil([&] { return !core.ports.FirstRefresh; }, 5000) || !device.Plug() ||
      !waitUntil([&] { return core.manager.Connected && core.manager.Identified; }, 10000)) {
    std::fprintf(stderr, "restart_figures: the emulated device was not found\n");
    return 1;
  }

  std::printf("ResetToMain against the emulator, restart absence %d ms, %d runs\n",
              config.restartMs, runs);
  double sumBack = 0;
  double sumWhole = 0;
  for (int run = 0; run < runs; ++run) {
    std::atomic<int64_t> backAt{0};
    std::thread watcher([&] {
      if (device.WaitPlugged(false, 5000) && device.WaitPlugged(true, 60000))
        backAt = Steady::now().time_since_epoch().count();
    });
    const auto start = Steady::now();
    const int result = ResetToMain(context.Link());
    const auto end = Steady::now();
    watcher.join();
    if (result != 0 || backAt == 0) {
      std::fprintf(stderr, "restart_figures: run %d gave %d\n", run + 1, result);
      return 1;
    }
    const double back = Seconds(end - Steady::time_point(Steady::duration(backAt.load())));
    const double whole = Seconds(end - start);
    sumBack += back;
    sumWhole += whole;
    std::printf("  run %d: reappearance to return %.3f s, whole restart %.3f s\n", run + 1, back,
                whole);
    Delay(pump, clock, 500);
  }
  std::printf("mean: reappearance to return %.3f s, whole restart %.3f s\n", sumBack / runs,
              sumWhole / runs);
  if (argc > 3 && std::string(argv[3]) == "lost") {
    sim::Faults faults;
    faults.restartStaysAway = true;
    device.SetFaults(faults);
    const auto start = Steady::now();
    const int result = ResetToMain(context.Link());
    std::printf("a device that never comes back: %d after %.3f s\n", result,
                Seconds(Steady::now() - start));
  }
  pump.heartbeat = nullptr;
  stack.port.Close();
  return 0;
}
