
// Figures of plugging the device in and out while the manager runs: the emulator is plugged in
// for 3.5 s and away for 1.5 s, over and over (it hangs up on the manager when it goes), while the
// connection manager's heartbeat runs every 100 ms on real time. For each plug-in: the time until
// the device line shows the identified device, or that it was not identified while plugged.
// Usage: replug_figures [cycles] [plugged ms] [away ms]   (defaults 20, 3500, 1500)
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "bench_views.h"
#include "connection/connection_core.h"
#include "connection/connection_view.h"
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

struct Cycle {
  Steady::time_point pluggedAt;
  Steady::time_point unpluggedAt;
};

}  // namespace

int main(int argc, char** argv) {
  using namespace dravion;
  const int cycles = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  const int pluggedMs = argc > 2 ? std::max(100, std::atoi(argv[2])) : 3500;
  const int awayMs = argc > 3 ? std::max(100, std::atoi(argv[3])) : 1500;
  ::setenv("DRAVION_SYSTEM_PORTS", "0", 1);
  test::TempPortFolder folder;
  sim::DeviceConfig config;
  config.port = 9;
  config.portFolder = folder.path();
  sim::Device device(config);

  test::ScaledClock clock(1);
  test::ScaledPump pump(clock);
  dravion::bench::QuietDialogs dialogs;
  QuietLog log;
  SilentConnectionView view;
  Language language;
  LinkStack stack(pump, clock, dialogs);
  DeviceCommands commands(stack);
  DeviceInfo record;
  ConnectionCore core(stack, commands, record, view, dialogs, clock, log, language);
  pump.heartbeat = [&] { core.manager.OnHeartbeatTimer(); };

  std::mutex mutex;
  std::vector<Cycle> plugged;
  std::vector<Steady::time_point> identified;
  core.manager.ShowDeviceInformation = [&] {
    if (!core.manager.Identified) return;
    std::lock_guard lock(mutex);
    identified.push_back(Steady::now());
  };

  // Ports present at the manager's first look are not candidates: plug in after it.
  while (core.ports.FirstRefresh)
    Delay(pump, clock, 50);
  std::atomic<bool> done{false};
  std::thread plugger([&] {
    for (int i = 0; i < cycles; ++i) {
      if (!device.Plug()) {
        std::fprintf(stderr, "replug_figures: cannot plug the emulator in\n");
        break;
      }
      const Steady::time_point in = Steady::now();
      std::this_thread::sleep_until(in + std::chrono::milliseconds(pluggedMs));
      device.Unplug();
      const Steady::time_point out = Steady::now();
      {
        std::lock_guard lock(mutex);
        plugged.push_back({in, out});
      }
      std::this_thread::sleep_until(out + std::chrono::milliseconds(awayMs));
    }
    done = true;
  });
  while (!done)
    Delay(pump, clock, 50);
  plugger.join();
  pump.heartbeat = nullptr;
  stack.port.Close();

  std::vector<double> seconds;
  int missed = 0;
  std::printf("plugged %d ms, away %d ms, %d cycles\n", pluggedMs, awayMs, cycles);
  for (size_t i = 0; i < plugged.size(); ++i) {
    const auto it = std::find_if(identified.begin(), identified.end(), [&](auto at) {
      return at >= plugged[i].pluggedAt && at <= plugged[i].unpluggedAt;
    });
    if (it == identified.end()) {
      ++missed;
      std::printf("  cycle %2zu: not identified\n", i + 1);
      continue;
    }
    seconds.push_back(std::chrono::duration<double>(*it - plugged[i].pluggedAt).count());
    std::printf("  cycle %2zu: identified %.3f s after plug-in\n", i + 1, seconds.back());
  }
  std::sort(seconds.begin(), seconds.end());
  if (seconds.empty()) {
    std::printf("identified 0 of %zu plug-ins\n", plugged.size());
    return 1;
  }
  const size_t n = seconds.size();
  const double median = n % 2 ? seconds[n / 2] : (seconds[n / 2 - 1] + seconds[n / 2]) / 2;
  std::printf(
      "identified %zu of %zu plug-ins; plug-in to identified: median %.3f s, worst %.3f s\n", n,
      plugged.size(), median, seconds.back());
  return missed == 0 ? 0 : 1;
}
