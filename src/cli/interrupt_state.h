#pragma once

#include <atomic>

namespace dravion::cli {

// Shared by the platform halves of InterruptWatch: the signal that arrived (lock-free, so a
// signal handler may set it) and the session's wake function.
extern std::atomic<int> interruptSignal;
void RunInterruptWake();

}  // namespace dravion::cli
