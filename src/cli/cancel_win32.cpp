#include <windows.h>

#include <atomic>

#include "cli/cancel.h"
#include "services/event_pump.h"

namespace dravion::cli {
namespace {

std::atomic<bool> requested{false};
std::atomic<EventPump*> watchedPump{nullptr};

// Runs on a thread of its own, which may wake the pump directly.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  RequestCancel();
  return TRUE;
}

}  // namespace

CancelWatch::CancelWatch(EventPump& pump) {
  requested.store(false);
  watchedPump.store(&pump);
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

CancelWatch::~CancelWatch() {
  ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  watchedPump.store(nullptr);
}

bool CancelRequested() {
  return requested.load();
}

void RequestCancel() {
  requested.store(true);
  if (EventPump* pump = watchedPump.load()) pump->Wake();
}

}  // namespace dravion::cli
