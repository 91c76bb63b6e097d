#include <atomic>
#include <mutex>

#include "cli/interrupt.h"
#include "cli/interrupt_state.h"

namespace dravion::cli {

std::atomic<int> interruptSignal{0};

namespace {

std::mutex wakeMutex;
std::function<void()> wakeFunction;

}  // namespace

int InterruptWatch::Signal() {
  return interruptSignal.load();
}

void InterruptWatch::SetWake(std::function<void()> wake) {
  std::lock_guard lock(wakeMutex);
  wakeFunction = std::move(wake);
}

void RunInterruptWake() {
  std::lock_guard lock(wakeMutex);
  if (wakeFunction) wakeFunction();
}

}  // namespace dravion::cli
