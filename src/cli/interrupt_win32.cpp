#include <windows.h>

#include <atomic>
#include <csignal>
#include <mutex>
#include <string>
#include <thread>

#include "cli/interrupt.h"
#include "cli/interrupt_state.h"
#include "cli/terminal.h"
#include "services/wide_text_win32.h"

namespace dravion::cli {
namespace {

// Set when the watch goes: a console close, a sign-out or a shut-down waits for it, since Windows
// ends the process as soon as the handler returns from such an event.
HANDLE finished = nullptr;
// Windows ends a program that takes more than 5 s over a close, sign-out or shut-down event.
constexpr DWORD kEndGraceMs = 4500;

// Records the stop request, wakes the session and ends a question waiting on the console; for the
// end of the console or the session (`ending`), waits until the program has written what it must.
void Stop(int number, bool ending) {
  int none = 0;
  interruptSignal.compare_exchange_strong(none, number);
  // These run on a thread of their own, so the pump can be woken from here.
  RunInterruptWake();
  CancelConsoleRead();
  if (ending && finished != nullptr) ::WaitForSingleObject(finished, kEndGraceMs);
}

BOOL WINAPI OnConsoleEvent(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      Stop(SIGINT, false);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      Stop(SIGTERM, true);
      return TRUE;
    default:
      return FALSE;
  }
}

// A program that loads user32 (shell32 does) gets no sign-out or shut-down event at its console
// handler; the system tells its top-level windows instead. A hidden window of its own, on a thread
// of its own, receives WM_QUERYENDSESSION and WM_ENDSESSION. (A message-only window would not:
// the session messages are broadcast to top-level windows.)
const wchar_t kWindowClass[] = L"DravionCliSessionWatch";
HWND sessionWindow = nullptr;
std::thread sessionThread;

// The holds of the session's end (a flash being written) and the reason shown meanwhile. The
// reason is given by the window's own thread (ShutdownBlockReasonCreate refuses other threads),
// told by kHoldsChanged.
std::atomic<int> sessionEndHolds{0};
std::mutex reasonMutex;
std::wstring sessionEndReason;
constexpr UINT kHoldsChanged = WM_APP + 1;
// The watch's own end; WM_CLOSE comes from outside.
constexpr UINT kEndWatch = WM_APP + 2;

LRESULT CALLBACK OnSessionMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_QUERYENDSESSION:
      return sessionEndHolds.load() > 0 ? FALSE : TRUE;
    case kHoldsChanged:
      if (sessionEndHolds.load() > 0) {
        std::lock_guard lock(reasonMutex);
        ::ShutdownBlockReasonCreate(window, sessionEndReason.c_str());
      } else {
        ::ShutdownBlockReasonDestroy(window);
      }
      return 0;
    case WM_ENDSESSION:
      // The process ends once this returns: the log is written first.
      if (wParam) Stop(SIGTERM, true);
      return 0;
    case WM_CLOSE:
      // Another program asks this one to close: Task Scheduler ending the task, taskkill without
      // /f. The program stops as it does at SIGTERM; the window stays until it ends.
      Stop(SIGTERM, false);
      return 0;
    case kEndWatch:
      ::DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(window, message, wParam, lParam);
  }
}

void StartSessionWatch() {
  HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  sessionThread = std::thread([ready] {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = OnSessionMessage;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    ::RegisterClassW(&windowClass);
    // Top-level and never shown: no WS_VISIBLE, no task-bar button.
    sessionWindow = ::CreateWindowExW(WS_EX_TOOLWINDOW, kWindowClass, L"dravion-cli", WS_POPUP, 0,
                                      0, 0, 0, nullptr, nullptr, windowClass.hInstance, nullptr);
    ::SetEvent(ready);
    if (sessionWindow == nullptr) return;
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  });
  ::WaitForSingleObject(ready, INFINITE);
  ::CloseHandle(ready);
}

void StopSessionWatch() {
  if (sessionWindow != nullptr) ::PostMessageW(sessionWindow, kEndWatch, 0, 0);
  if (sessionThread.joinable()) sessionThread.join();
  sessionWindow = nullptr;
  ::UnregisterClassW(kWindowClass, ::GetModuleHandleW(nullptr));
}

}  // namespace

InterruptWatch::InterruptWatch() {
  interruptSignal = 0;
  finished = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  StartSessionWatch();
}

void InterruptWatch::HoldSessionEnd(const std::string& reason) {
  {
    std::lock_guard lock(reasonMutex);
    sessionEndReason = WideFromUtf8(reason);
  }
  if (sessionEndHolds++ == 0 && sessionWindow != nullptr)
    ::PostMessageW(sessionWindow, kHoldsChanged, 0, 0);
}

void InterruptWatch::ReleaseSessionEnd() {
  if (sessionEndHolds.load() > 0 && --sessionEndHolds == 0 && sessionWindow != nullptr)
    ::PostMessageW(sessionWindow, kHoldsChanged, 0, 0);
}

// The console's own read ends when Ctrl+C is pressed, so an answer is read directly.
bool InterruptWatch::WaitReadable(int) {
  return interruptSignal.load() == 0;
}

InterruptWatch::~InterruptWatch() {
  // A handler that waits for `finished` is released first: removing a handler waits until the
  // handlers that run have returned, and this one would hold the end of the program for its
  // whole grace time.
  if (finished != nullptr) ::SetEvent(finished);
  ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  StopSessionWatch();
  interruptSignal = 0;
}

}  // namespace dravion::cli
