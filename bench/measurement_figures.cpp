// Figures of the measuring page against the emulator paced at 230400 baud with a real device's
// processing times, over the manager's real serial stack and connection manager on real time:
//  1. requests and time per reading, with and without the accumulated dose, next to the time
//     the line alone needs for those frames;
//  2. CPU of the manager (its user-interface and reader threads; the emulator runs in a child
//     process) during a minute of automatic reading driven by the 100 ms heartbeat.
// Usage: measurement_figures [seconds of automatic reading, default 60] [readings, default 50]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "device/device_link_harness.h"
#include "device/measurement.h"
#include "device/measurement_fakes.h"
#include "protocol/frame_codec.h"
#include "sim/device.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Request counts of the emulator: all, ReadParameter, WriteParameter, ReadMemory, link test.
struct Counts {
  int total = 0, readParameter = 0, writeParameter = 0, readMemory = 0, linkTest = 0;
  Counts operator-(const Counts& o) const {
    return {total - o.total, readParameter - o.readParameter, writeParameter - o.writeParameter,
            readMemory - o.readMemory, linkTest - o.linkTest};
  }
};

// The emulator in a child process, driven by one-line commands over two pipes.
class ChildEmulator {
 public:
  ChildEmulator() {
    if (::pipe(toChild_) != 0 || ::pipe(fromChild_) != 0) std::exit(2);
    pid_ = ::fork();
    if (pid_ == 0) Serve();
    ::close(toChild_[0]);
    ::close(fromChild_[1]);
  }
  ~ChildEmulator() {
    Ask("quit");
    ::waitpid(pid_, nullptr, 0);
  }
  std::string Ask(const std::string& line) {
    const std::string out = line + "\n";
    if (::write(toChild_[1], out.data(), out.size()) < 0) return {};
    return ReadLine(fromChild_[0]);
  }
  Counts GetCounts() {
    Counts c;
    std::sscanf(Ask("count").c_str(), "%d %d %d %d %d", &c.total, &c.readParameter,
                &c.writeParameter, &c.readMemory, &c.linkTest);
    return c;
  }

 private:
  static std::string ReadLine(int fd) {
    std::string line;
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n')
      line += c;
    return line;
  }
  [[noreturn]] void Serve() {
    ::close(toChild_[1]);
    ::close(fromChild_[0]);
    std::unique_ptr<dravion::sim::Device> device;
    auto reply = [this](const std::string& text) {
      const std::string out = text + "\n";
      [[maybe_unused]] auto n = ::write(fromChild_[1], out.data(), out.size());
    };
    for (;;) {
      const std::string line = ReadLine(toChild_[0]);
      if (line.rfind("plug ", 0) == 0) {
        dravion::sim::DeviceConfig config;
        config.port = 6;
        config.portFolder = line.substr(5);
        config.baud = 230400;
        config.commandTimeUs = dravion::sim::RealisticCommandTimes();
        device = std::make_unique<dravion::sim::Device>(config);
        reply(device->Plug() ? "ok" : "failed");
      } else if (line == "count" && device) {
        const dravion::sim::Counters c = device->GetCounters();
        reply(std::to_string(c.totalRequests) + " " + std::to_string(device->Requests(1, 0x0E)) +
              " " + std::to_string(device->Requests(1, 0x0F)) + " " +
              std::to_string(device->Requests(1, 0x02)) + " " +
              std::to_string(device->Requests(1, 0x00)));
      } else {
        device.reset();
        reply("bye");
        std::_Exit(0);
      }
    }
  }

  int toChild_[2] = {-1, -1};
  int fromChild_[2] = {-1, -1};
  pid_t pid_ = -1;
};

// Bytes on the line for a frame of `payload` bytes (all zero: no escapes).
int LineBytes(int payload) {
  std::vector<uint8_t> bytes(static_cast<size_t>(payload), 0);
  dravion::FrameEncoder tx;
  return tx.Encode(bytes.data(), static_cast<uint16_t>(payload));
}

// Line time in milliseconds of one reading's frames at 230400 baud (10 bits a byte).
double LineMs(bool withDose, bool addresses) {
  // Request: 4-byte header, 2 command bytes, parameters; answer: the same header and command
  // bytes, then the data.
  // ReadParameter: the unit setting, after the five addresses when they are not known yet.
  int bytes = (addresses ? 6 : 1) * (LineBytes(6 + 2) + LineBytes(6 + 6));
  bytes += LineBytes(6 + 5) + LineBytes(6 + 5 + 4);  // ReadMemory, rate word
  bytes += LineBytes(6 + 5) + LineBytes(6 + 5 + 1);  // ReadMemory, level byte
  if (withDose) {
    bytes += LineBytes(6 + 6) + LineBytes(6 + 6);             // WriteParameter PrepareDoseText
    bytes += 2 * (LineBytes(6 + 5) + LineBytes(6 + 5 + 10));  // ReadMemory, two texts
  }
  return bytes * 10.0 / 230400.0 * 1000.0;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  const int readings = argc > 2 ? std::atoi(argv[2]) : 50;
  ChildEmulator emulator;  // before any thread exists

  dravion::device_test::DeviceLinkHarness h({}, 1);
  if (!h.WaitUntil([&] { return !h.core.ports.FirstRefresh; }) ||
      emulator.Ask("plug " + h.folder.path()) != "ok" ||
      !h.WaitUntil([&] { return h.core.manager.Connected && h.core.manager.Identified; })) {
    std::fprintf(stderr, "the emulated device was not found\n");
    return 1;
  }
  dravion::device_test::RecordingMeasurementView view;
  view.pageActive = false;
  dravion::MeasurementController controller(h.context, view);

  std::printf("emulator paced at 230400 baud with device processing times\n");
  {
    dravion::DeviceOperation operation(h.context);  // no link tests in between
    auto measure = [&](const char* name, bool withDose, bool addresses, int count) {
      const Counts before = emulator.GetCounts();
      const auto start = SteadyClock::now();
      int failed = 0;
      for (int i = 0; i < count; ++i)
        failed += controller.ReadMeasurement(withDose) ? 0 : 1;
      const double ms =
          std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count() / count;
      const Counts d = emulator.GetCounts() - before;
      std::printf(
          "%-26s %5.2f requests (%d ReadParameter, %d WriteParameter, %d ReadMemory over %d), "
          "%6.2f ms per reading, line alone %5.2f ms%s\n",
          name, static_cast<double>(d.total) / count, d.readParameter, d.writeParameter,
          d.readMemory, count, ms, LineMs(withDose, addresses), failed ? " (FAILURES)" : "");
    };
    measure("first reading (addresses):", true, true, 1);
    measure("reading with the dose:", true, false, readings);
    measure("reading without the dose:", false, false, readings);
  }

  // Automatic reading from the heartbeat, as on the open page.
  h.core.manager.MeasurementTick = [&] { controller.MeasurementTick(); };
  view.pageActive = true;
  view.rates.clear();
  const Counts before = emulator.GetCounts();
  const double cpuBefore = CpuSeconds();
  const auto start = SteadyClock::now();
  dravion::Delay(h.pump, h.clock, seconds * 1000);
  const double wall = std::chrono::duration<double>(SteadyClock::now() - start).count();
  const double cpu = CpuSeconds() - cpuBefore;
  const Counts d = emulator.GetCounts() - before;
  h.core.manager.MeasurementTick = nullptr;
  std::printf(
      "automatic reading for %.1f s: %zu readings, %d requests (%d link tests), last \"%s\" / "
      "\"%s\"; manager CPU %.3f s = %.2f%% of a core\n",
      wall, view.Values().size(), d.total, d.linkTest, view.rate.c_str(), view.dose.c_str(), cpu,
      cpu / wall * 100.0);
  return 0;
}
