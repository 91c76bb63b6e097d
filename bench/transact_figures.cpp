
// Figures of the request/answer engine over a real pty pair:
//  1. host turnaround: with a minimal responder on the far side, the time from the responder
//     writing an answer to it receiving the next request, over back-to-back Transact calls;
//  2. CPU while waiting: user+sys time spent during one Transact to a silent device.
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "bench_views.h"
#include "protocol/frame_codec.h"
#include "protocol/link_stack.h"
#include "services/clock.h"
#include "services/dialogs.h"
#include "services/event_pump.h"
#include "support/pty.h"

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  const int exchanges = argc > 1 ? std::atoi(argv[1]) : 10000;
  dravion::test::TempPortFolder folder;
  dravion::test::PtyPair pty;
  folder.Add("COM7", pty.slavePath());

  dravion::SystemClock clock;
  dravion::ThreadEventPump pump(clock);
  dravion::bench::QuietDialogs dialogs;
  dravion::LinkStack stack(pump, clock, dialogs);
  stack.port.PortNumber = 7;
  if (!stack.port.Open(230400)) {
    std::fprintf(stderr, "cannot open the pty\n");
    return 1;
  }

  // The responder: answers each flash-write request (32 data bytes) with its 5-byte echo.
  std::atomic<bool> answering{true};
  std::vector<double> turnaround;
  turnaround.reserve(static_cast<size_t>(exchanges));
  std::thread responder([&] {
    dravion::FrameDecoder decoder;
    dravion::TSlipTx tx;
    Clock::time_point answered{};
    bool haveAnswered = false;
    uint8_t buffer[4096];
    while (answering) {
      pollfd in{pty.master(), POLLIN, 0};
      if (::poll(&in, 1, 50) <= 0) continue;
      const ssize_t n = ::read(pty.master(), buffer, sizeof buffer);
      for (ssize_t i = 0; i < n; ++i) {
        if (!decoder.DecodeByte(buffer[i])) continue;
        const Clock::time_point now = Clock::now();
        if (haveAnswered) {
          turnaround.push_back(std::chrono::duration<double, std::micro>(now - answered).count());
        }
        const uint8_t* request = decoder.Body();
        uint8_t answer[11] = {
            0x00, request[3], 0x00, 0x01, static_cast<uint8_t>(request[4] | 0x40), request[5]};
        std::copy(request + 6, request + 11, answer + 6);
        tx.Encode(answer, sizeof answer);
        answered = Clock::now();
        haveAnswered = true;
        [[maybe_unused]] const auto written = ::write(pty.master(), tx.Buffer, tx.Length);
      }
    }
  });

  uint8_t request[2 + 5 + 32] = {0x02, 0x03, 0x00, 0x00, 0x10, 0x00, 32};
  int failures = 0;
  const auto start = Clock::now();
  for (int i = 0; i < exchanges; ++i) {
    request[2] = static_cast<uint8_t>(i);
    if (!stack.link.Transact(&stack.dataFlash, request, sizeof request, true, "")) ++failures;
  }
  const double total = std::chrono::duration<double>(Clock::now() - start).count();
  answering = false;
  responder.join();

  std::sort(turnaround.begin(), turnaround.end());
  const auto at = [&](double q) {
    return turnaround.empty() ? 0.0 : turnaround[static_cast<size_t>(q * (turnaround.size() - 1))];
  };
  std::printf(
      "host turnaround over %d exchanges (%d failed): median %.1f us, p99 %.1f us, "
      "max %.1f us; %.1f exchanges/s\n",
      exchanges, failures, at(0.5), at(0.99), at(1.0), exchanges / total);
  // At 230400 baud a byte takes 10/230400 s: a 32-byte flash write is about 50 bytes on the line
  // each way with framing and escapes, about 2.7 ms per exchange.
  std::printf("share of a 2.7 ms line exchange added by the host (median): %.2f%%\n",
              at(0.5) / 2700.0 * 100.0);

  // CPU while waiting: nothing answers now.
  const double cpuBefore = CpuSeconds();
  const auto waitStart = Clock::now();
  const bool answered = stack.link.Transact(&stack.main, request, 2, true, "");
  const double waited = std::chrono::duration<double>(Clock::now() - waitStart).count();
  const double cpu = CpuSeconds() - cpuBefore;
  std::printf("silent device: Transact %s after %.3f s using %.4f s CPU (%.2f%% of a core)\n",
              answered ? "answered" : "failed", waited, cpu, cpu / waited * 100.0);
  return failures == 0 ? 0 : 1;
}
