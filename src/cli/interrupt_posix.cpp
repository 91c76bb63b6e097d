#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <thread>
#include <utility>

#include "cli/interrupt.h"
#include "cli/interrupt_state.h"

namespace dravion::cli {
namespace {

// The self-pipe: the handler writes a byte, the watch's thread wakes the session's pump.
int pipeEnds[2] = {-1, -1};
constexpr char kSignalled = 's';
constexpr char kStop = 'q';
struct sigaction previousInt {};
struct sigaction previousTerm {};
std::thread watcher;

void OnSignal(int number) {
  const int saved = errno;
  int none = 0;
  interruptSignal.compare_exchange_strong(none, number);
  [[maybe_unused]] const auto written = ::write(pipeEnds[1], &kSignalled, 1);
  errno = saved;
}

}  // namespace

InterruptWatch::InterruptWatch() {
  interruptSignal = 0;
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return;
  ::fcntl(pipeEnds[1], F_SETFL, O_NONBLOCK);
  watcher = std::thread([readEnd = pipeEnds[0]] {
    for (;;) {
      char byte = 0;
      const ssize_t n = ::read(readEnd, &byte, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0 || byte == kStop) return;
      RunInterruptWake();
    }
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, &previousInt);
  ::sigaction(SIGTERM, &action, &previousTerm);
}

InterruptWatch::~InterruptWatch() {
  if (pipeEnds[0] < 0) return;
  ::sigaction(SIGINT, &previousInt, nullptr);
  ::sigaction(SIGTERM, &previousTerm, nullptr);
  ssize_t written;
  do {
    written = ::write(pipeEnds[1], &kStop, 1);
  } while (written < 0 && errno == EINTR);
  if (watcher.joinable()) watcher.join();
  for (int& end : pipeEnds)
    ::close(std::exchange(end, -1));
  interruptSignal = 0;
}

}  // namespace dravion::cli
