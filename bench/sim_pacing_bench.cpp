
// How close the emulator's paced line comes to the line rate: 10,000 ReadMemory exchanges of 16
// bytes through the manager's real serial stack (DecodingPort + DeviceLink::Transact) against the
// emulator on a pty, compared with the time the bytes need on a line at that rate.
//
//   build/bench/sim_pacing_bench
//
// Counters: line_s = the line's own time for all request and answer bytes (10 bits a byte),
// ratio = measured / line_s (1.00 would be a perfect line with a zero-latency host).

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench_views.h"
#include "protocol/frame_codec.h"
#include "protocol/link_stack.h"
#include "services/clock.h"
#include "services/dialogs.h"
#include "services/event_pump.h"
#include "sim/device.h"

namespace {

using namespace dravion;
using namespace dravion::bench;

size_t LineBytes(const std::vector<uint8_t>& payload) {
  FrameEncoder encoder;
  return encoder.Encode(payload.data(), static_cast<uint16_t>(payload.size()));
}

void PacedReads(benchmark::State& state) {
  const uint32_t baud = static_cast<uint32_t>(state.range(0));
  constexpr int kRequests = 10000;
  char pattern[] = "/tmp/dravion-sim-bench.XXXXXX";
  const std::string folder = ::mkdtemp(pattern);
  ::setenv("DRAVION_PORT_DIR", folder.c_str(), 1);

  sim::DeviceConfig config;
  config.portFolder = folder;
  config.port = 9;
  config.baud = baud;
  sim::Device device(config);
  device.Plug();
  SystemClock clock;
  ThreadEventPump pump(clock);
  QuietDialogs dialogs{true};
  LinkStack stack(pump, clock, dialogs);
  stack.port.PortNumber = config.port;
  stack.port.Open(230400);

  const uint32_t address = sim::map::kInfoAddress;
  const std::vector<uint8_t> request{0x01,
                                     0x02,
                                     static_cast<uint8_t>(address),
                                     static_cast<uint8_t>(address >> 8),
                                     static_cast<uint8_t>(address >> 16),
                                     static_cast<uint8_t>(address >> 24),
                                     16};
  std::vector<uint8_t> requestPayload{0x00, 0x01, 0x00, 0x01};
  requestPayload.insert(requestPayload.end(), request.begin(), request.end());
  std::vector<uint8_t> answerPayload{0x00, 0x01, 0x00, 0x01, 0x41, 0x02};
  answerPayload.insert(answerPayload.end(), request.begin() + 2, request.end());
  const auto memory = device.ReadProgramFlash(address, 16);
  answerPayload.insert(answerPayload.end(), memory.begin(), memory.end());
  const size_t bytesPerExchange = LineBytes(requestPayload) + LineBytes(answerPayload);

  int failures = 0;
  double seconds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRequests; ++i) {
      if (!stack.link.Transact(&stack.main, request.data(), static_cast<int>(request.size()), true,
                               "")) {
        ++failures;
      }
    }
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
  }
  const double lineSeconds =
      baud == 0 ? 0 : static_cast<double>(bytesPerExchange) * kRequests * 10 / baud;
  state.counters["requests"] = kRequests;
  state.counters["bytes_per_exchange"] = static_cast<double>(bytesPerExchange);
  state.counters["line_s"] = lineSeconds;
  state.counters["measured_s"] = seconds;
  state.counters["ratio"] = lineSeconds > 0 ? seconds / lineSeconds : 0;
  state.counters["us_per_exchange"] = seconds * 1e6 / kRequests;
  state.counters["failures"] = failures;
  stack.port.Close();
  device.Unplug();
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

// 0 = unpaced (as fast as the pty allows), then the manager's rate.
BENCHMARK(PacedReads)
    ->Arg(0)
    ->Arg(230400)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
