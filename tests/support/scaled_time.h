#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "services/clock.h"
#include "services/event_pump.h"

namespace dravion::test {

// Real time running `scale` times faster: every spacing, delay and time-out of the manager
// (ticks, identification delay, the 700 ms answer waits, restart waits) shrinks alike, while the
// emulator answers at its own real speed. While `realSpeed` holds (an answer is on its way), the
// clock runs at real speed instead: a busy machine that is slow to hand an answer over must not
// turn it into a lost one, while a silence on purpose still ends after the scaled time-out.
class ScaledClock : public Clock {
 public:
  explicit ScaledClock(uint32_t scale) : scale_(scale) {
    lastReal_ = real_.TickMs();
    ticks_ = lastReal_ * scale_;
  }
  uint32_t TickMs() override {
    std::lock_guard lock(mutex_);
    const uint32_t real = real_.TickMs();
    ticks_ += (real - lastReal_) * (realSpeed && realSpeed() ? 1 : scale_);
    lastReal_ = real;
    return ticks_;
  }
  LocalDateTime Now() override { return real_.Now(); }
  uint32_t scale() const { return scale_; }

  std::function<bool()> realSpeed;

 private:
  SystemClock real_;
  uint32_t scale_;
  std::mutex mutex_;
  uint32_t lastReal_ = 0;
  uint32_t ticks_ = 0;
};

// Sleeps until woken (a frame was filed) or the deadline of the scaled clock. With a heartbeat
// set, it also runs the heartbeat every `beatTicks` while it waits, as the window's timer does
// during the waits of a device operation (a heartbeat running already is not entered again).
class ScaledPump : public EventPump {
 public:
  explicit ScaledPump(ScaledClock& clock) : clock_(clock) {}
  void ProcessEvents(uint32_t deadlineTick) override {
    if (heartbeat && !inBeat_) {
      const uint32_t now = clock_.TickMs();
      if (static_cast<int32_t>(now - nextBeat_) >= 0) {
        nextBeat_ = now + beatTicks;
        inBeat_ = true;
        heartbeat();
        inBeat_ = false;
        return;
      }
      if (static_cast<int32_t>(deadlineTick - nextBeat_) > 0) deadlineTick = nextBeat_;
    }
    std::unique_lock lock(mutex_);
    if (!woken_) {
      const uint32_t left = deadlineTick - clock_.TickMs();
      if (left == 0 || left > 0x7FFFFFFFu) return;
      const uint32_t realMs = (left + clock_.scale() - 1) / clock_.scale();
      wakeup_.wait_for(lock, std::chrono::milliseconds(realMs), [this] { return woken_; });
    }
    woken_ = false;
  }
  void Wake() override {
    {
      std::lock_guard lock(mutex_);
      woken_ = true;
    }
    wakeup_.notify_one();
  }

  std::function<void()> heartbeat;
  uint32_t beatTicks = 100;

 private:
  ScaledClock& clock_;
  std::mutex mutex_;
  std::condition_variable wakeup_;
  bool woken_ = false;
  bool inBeat_ = false;
  uint32_t nextBeat_ = 0;
};

}  // namespace dravion::test
