#include <windows.h>

#include <csignal>

#include "cli/interrupt.h"
#include "cli/interrupt_state.h"

namespace dravion::cli {
namespace {

// Set when the watch goes: a console close waits for it, since Windows ends the process as soon
// as the handler returns from a close event.
HANDLE finished = nullptr;
constexpr DWORD kCloseGraceMs = 4500;

BOOL WINAPI OnConsoleEvent(DWORD type) {
  int number;
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      number = SIGINT;
      break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      number = SIGTERM;
      break;
    default:
      return FALSE;
  }
  int none = 0;
  interruptSignal.compare_exchange_strong(none, number);
  // The system runs this handler on a thread of its own, so the pump can be woken from here.
  RunInterruptWake();
  if (number == SIGTERM && finished != nullptr) ::WaitForSingleObject(finished, kCloseGraceMs);
  return TRUE;
}

}  // namespace

InterruptWatch::InterruptWatch() {
  interruptSignal = 0;
  finished = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

// The console's own read ends when Ctrl+C is pressed, so an answer is read directly.
bool InterruptWatch::WaitReadable(int) {
  return interruptSignal.load() == 0;
}

InterruptWatch::~InterruptWatch() {
  ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  if (finished != nullptr) ::SetEvent(finished);
  interruptSignal = 0;
}

}  // namespace dravion::cli
