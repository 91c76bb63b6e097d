#include "services/event_pump.h"

#include <chrono>

#include "services/clock.h"

namespace dravion {

void Delay(EventPump& pump, Clock& clock, int ms) {
  if (ms <= 0) return;
  const uint32_t start = clock.TickMs();
  const uint32_t wanted = static_cast<uint32_t>(ms);
  while (TicksSince(start, clock.TickMs()) < wanted)
    pump.ProcessEvents(start + wanted);
}

void ThreadEventPump::ProcessEvents(uint32_t deadlineTick) {
  std::unique_lock lock(mutex_);
  for (;;) {
    while (!tasks_.empty()) {
      auto task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();
      lock.lock();
    }
    if (woken_) {
      woken_ = false;
      return;
    }
    // A deadline in the past (seen as a huge unsigned distance) means "do not wait".
    const uint32_t left = deadlineTick - clock_.TickMs();
    if (left == 0 || left > 0x7FFFFFFFu) return;
    wakeup_.wait_for(lock, std::chrono::milliseconds(left),
                     [this] { return woken_ || !tasks_.empty(); });
    if (tasks_.empty() && !woken_) return;
  }
}

void ThreadEventPump::Wake() {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  wakeup_.notify_one();
}

void ThreadEventPump::Post(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  wakeup_.notify_one();
}

}  // namespace dravion
