#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "cli/cancel.h"
#include "services/event_pump.h"

namespace dravion::cli {
namespace {

std::atomic<bool> requested{false};
// The handler only writes to this pipe; a thread of the watch reads it and wakes the pump (waking
// takes a lock, which a signal handler must not).
int wakePipe[2] = {-1, -1};
std::thread waker;
struct sigaction previousInt {};
struct sigaction previousTerm {};

void OnSignal(int) {
  const int saved = errno;
  requested.store(true);
  const char byte = 1;
  (void)!::write(wakePipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

CancelWatch::CancelWatch(EventPump& pump) {
  requested.store(false);
  if (::pipe(wakePipe) != 0) {
    wakePipe[0] = wakePipe[1] = -1;
    return;
  }
  ::fcntl(wakePipe[0], F_SETFD, FD_CLOEXEC);
  ::fcntl(wakePipe[1], F_SETFD, FD_CLOEXEC);
  ::fcntl(wakePipe[1], F_SETFL, O_NONBLOCK);
  waker = std::thread([&pump, readEnd = wakePipe[0]] {
    char byte = 0;
    for (;;) {
      const ssize_t n = ::read(readEnd, &byte, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0 || byte == 0) return;  // the watch ends
      pump.Wake();
    }
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, &previousInt);
  ::sigaction(SIGTERM, &action, &previousTerm);
}

CancelWatch::~CancelWatch() {
  if (wakePipe[1] < 0) return;
  ::sigaction(SIGINT, &previousInt, nullptr);
  ::sigaction(SIGTERM, &previousTerm, nullptr);
  const char end = 0;
  while (::write(wakePipe[1], &end, 1) < 0 && errno == EINTR) {
  }
  if (waker.joinable()) waker.join();
  ::close(wakePipe[0]);
  ::close(wakePipe[1]);
  wakePipe[0] = wakePipe[1] = -1;
}

bool CancelRequested() {
  return requested.load();
}

void RequestCancel() {
  if (wakePipe[1] >= 0) {
    OnSignal(0);
  } else {
    requested.store(true);
  }
}

}  // namespace dravion::cli
