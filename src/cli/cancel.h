#pragma once

namespace dravion {
class EventPump;
}

namespace dravion::cli {

// Ctrl+C and SIGTERM (on Windows Ctrl+C, Ctrl+Break and the console's closing) ask the running
// command to end at its next step instead of killing the program, so that files are left complete.
// While a watch is held, such a signal sets the request and wakes `pump`; when it ends, the
// signals' earlier handling comes back. One watch at a time.
class CancelWatch {
 public:
  explicit CancelWatch(EventPump& pump);
  ~CancelWatch();
  CancelWatch(const CancelWatch&) = delete;
  CancelWatch& operator=(const CancelWatch&) = delete;
};

// Whether the end was asked for since the current watch began.
bool CancelRequested();
// What a signal does (tests call it).
void RequestCancel();

}  // namespace dravion::cli
