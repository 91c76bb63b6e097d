// Figures of the request/answer engine over a real pty pair:
//  1. host turnaround: with a minimal responder on the far side, the time from the responder
//     writing an answer to it receiving the next request, over back-to-back Transact calls and
//     with the responder taking a device's time before each answer; next to the same round trip
//     by one plain thread on the pty, which is the machine's own share;
//  2. CPU while waiting: user+sys time spent during one Transact to a silent device.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_views.h"
#include "protocol/link_stack.h"
#include "pty_round_trip.h"
#include "services/clock.h"
#include "services/dialogs.h"
#include "services/event_pump.h"
#include "support/pty.h"

namespace {

using Clock = std::chrono::steady_clock;
using dravion::bench::flashWriteRequest;
using dravion::bench::Quantile;
using dravion::bench::RawTurnaround;
using dravion::bench::Responder;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The serial stack: back-to-back Transact calls (reader thread, frame queue, event pump).
std::vector<double> StackTurnaround(dravion::LinkStack& stack, int master, int exchanges,
                                    int delayUs, int& failures) {
  Responder responder(master, delayUs);
  for (int i = 0; i < exchanges; ++i) {
    flashWriteRequest[2] = static_cast<uint8_t>(i);
    if (!stack.link.Transact(&stack.dataFlash, flashWriteRequest, sizeof flashWriteRequest, true,
                             "")) {
      ++failures;
    }
  }
  return responder.Stop();
}

void Print(const char* name, const std::vector<double>& t) {
  double sum = 0;
  for (double x : t)
    sum += x;
  std::printf("  %-42s mean %6.1f, median %6.1f, p90 %6.1f, p99 %7.1f us (%zu)\n", name,
              t.empty() ? 0.0 : sum / t.size(), Quantile(t, 0.5), Quantile(t, 0.9),
              Quantile(t, 0.99), t.size());
}

}  // namespace

// Usage: transact_figures [exchanges] [device us]
int main(int argc, char** argv) {
  const int exchanges = argc > 1 ? std::atoi(argv[1]) : 10000;
  // A paced exchange lets the machine go idle while the device works, as a history read does
  // (about 2.84 ms of line and device time); waking from idle costs more than back to back.
  const int deviceUs = argc > 2 ? std::atoi(argv[2]) : 2840;
  const int pacedExchanges = std::max(1, exchanges / 4);
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

  int failures = 0;
  const auto start = Clock::now();
  const auto stackFast = StackTurnaround(stack, pty.master(), exchanges, 0, failures);
  const double total = std::chrono::duration<double>(Clock::now() - start).count();
  const auto stackPaced = StackTurnaround(stack, pty.master(), pacedExchanges, deviceUs, failures);
  const auto rawFast = RawTurnaround(exchanges, 0);
  const auto handOffFast = RawTurnaround(exchanges, 0, true);
  const auto rawPaced = RawTurnaround(pacedExchanges, deviceUs);
  const auto handOffPaced = RawTurnaround(pacedExchanges, deviceUs, true);

  std::printf("Host turnaround, from an answer written to the next request read (%d failed):\n",
              failures);
  Print("serial stack, back to back", stackFast);
  Print("pty and one thread alone, back to back", rawFast);
  Print("pty, a reader thread handing over", handOffFast);
  std::printf("  with the device taking %d us before each answer:\n", deviceUs);
  Print("serial stack, paced", stackPaced);
  Print("pty and one thread alone, paced", rawPaced);
  Print("pty, a reader thread handing over, paced", handOffPaced);
  std::printf("  back to back: %.1f exchanges/s\n", exchanges / total);
  // At 230400 baud a byte takes 10/230400 s: a 32-byte flash write is about 50 bytes on the line
  // each way with framing and escapes, about 2.7 ms per exchange.
  std::printf(
      "share of a %d us exchange added (paced medians): serial stack %.2f%%; the machine's own "
      "pty round trip %.2f%%, with a reader thread %.2f%%\n",
      deviceUs, Quantile(stackPaced, 0.5) / deviceUs * 100.0,
      Quantile(rawPaced, 0.5) / deviceUs * 100.0, Quantile(handOffPaced, 0.5) / deviceUs * 100.0);

  // CPU while waiting: nothing answers now.
  const double cpuBefore = CpuSeconds();
  const auto waitStart = Clock::now();
  const bool answered = stack.link.Transact(&stack.main, flashWriteRequest, 2, true, "");
  const double waited = std::chrono::duration<double>(Clock::now() - waitStart).count();
  const double cpu = CpuSeconds() - cpuBefore;
  std::printf("silent device: Transact %s after %.3f s using %.4f s CPU (%.2f%% of a core)\n",
              answered ? "answered" : "failed", waited, cpu, cpu / waited * 100.0);
  return failures == 0 ? 0 : 1;
}
