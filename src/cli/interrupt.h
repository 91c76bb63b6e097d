#pragma once

#include <functional>
#include <string>

namespace dravion::cli {

// Ctrl+C and termination requests (SIGINT, SIGTERM, SIGHUP when the terminal goes, SIGPIPE when
// the reader of the output goes; on Windows the console's Ctrl+C, Ctrl+Break and close events, the
// end of the session, and another program's request to close the program's windows) as
// a request to stop at the next safe point instead of an abrupt end. The
// handler only records the signal and wakes the program's event pump; the device operations look
// at the request between their exchanges. One watch at a time; it restores the previous handling
// when it goes.
class InterruptWatch {
 public:
  InterruptWatch();
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  // The first signal that arrived while a watch was installed (2 SIGINT, 15 SIGTERM, 1 SIGHUP,
  // 13 SIGPIPE), 0 while none.
  static int Signal();
  // Waits until descriptor `fd` can be read (true) or a signal arrives (false, at once when one
  // arrived before). Where a console read ends by itself at Ctrl+C (Windows), true at once.
  static bool WaitReadable(int fd);
  // Run after a signal arrived, on a thread of the watch (the session wakes its pump here); an
  // empty function removes it. Safe from any thread.
  static void SetWake(std::function<void()> wake);
  // While held (a flash is being written), the end of the Windows session waits: the program's
  // session window answers WM_QUERYENDSESSION with FALSE and gives Windows `reason` to show.
  // Holds nest; nothing elsewhere. Safe from any thread.
  static void HoldSessionEnd(const std::string& reason);
  static void ReleaseSessionEnd();
  // The exit status of a program stopped by `signal`: 128 plus its number.
  static int ExitStatus(int signal) { return 128 + signal; }
};

}  // namespace dravion::cli
