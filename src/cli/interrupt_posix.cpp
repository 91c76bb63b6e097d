#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>
#include <thread>
#include <utility>

#include "cli/interrupt.h"
#include "cli/interrupt_state.h"

namespace dravion::cli {
namespace {

// The self-pipe: the handler writes a byte, the watch's thread wakes the session's pump. A second
// one stays readable once a signal came, for waits on other descriptors (WaitReadable).
int pipeEnds[2] = {-1, -1};
int signalledEnds[2] = {-1, -1};
constexpr char kSignalled = 's';
constexpr char kStop = 'q';
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
struct sigaction previous[std::size(kSignals)] = {};
std::thread watcher;

void OnSignal(int number) {
  const int saved = errno;
  int none = 0;
  interruptSignal.compare_exchange_strong(none, number);
  [[maybe_unused]] auto written = ::write(pipeEnds[1], &kSignalled, 1);
  written = ::write(signalledEnds[1], &kSignalled, 1);
  errno = saved;
}

}  // namespace

InterruptWatch::InterruptWatch() {
  interruptSignal = 0;
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return;
  if (::pipe2(signalledEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
    for (int& end : pipeEnds)
      ::close(std::exchange(end, -1));
    return;
  }
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
  for (size_t i = 0; i < std::size(kSignals); ++i)
    ::sigaction(kSignals[i], &action, &previous[i]);
}

InterruptWatch::~InterruptWatch() {
  if (pipeEnds[0] < 0) return;
  for (size_t i = 0; i < std::size(kSignals); ++i)
    ::sigaction(kSignals[i], &previous[i], nullptr);
  ssize_t written;
  do {
    written = ::write(pipeEnds[1], &kStop, 1);
  } while (written < 0 && errno == EINTR);
  if (watcher.joinable()) watcher.join();
  for (int& end : pipeEnds)
    ::close(std::exchange(end, -1));
  for (int& end : signalledEnds)
    ::close(std::exchange(end, -1));
  interruptSignal = 0;
}

// Only Windows asks programs before the session ends.
void InterruptWatch::HoldSessionEnd(const std::string&) {}
void InterruptWatch::ReleaseSessionEnd() {}

bool InterruptWatch::WaitReadable(int fd) {
  for (;;) {
    if (interruptSignal.load() != 0) return false;
    pollfd waits[2] = {{fd, POLLIN, 0}, {signalledEnds[0], POLLIN, 0}};
    const int n = ::poll(waits, signalledEnds[0] >= 0 ? 2 : 1, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return true;  // the read that follows reports the failure
    if (waits[1].revents != 0) return false;
    if (waits[0].revents != 0) return true;
  }
}

}  // namespace dravion::cli
