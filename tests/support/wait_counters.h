#pragma once

#include <chrono>
#include <functional>
#include <thread>

#include "sim/device.h"

namespace dravion::test {

// Waits, with a generous deadline, until the emulator's counters satisfy `done`. The emulator
// counts on its own thread: what it counts for a request that got no answer (silence, a refusal,
// a spoilt answer) may still be on its way when the manager's exchange has given up.
inline bool WaitCounters(const sim::Device& device,
                         const std::function<bool(const sim::Counters&)>& done, int ms = 20000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done(device.GetCounters())) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace dravion::test
