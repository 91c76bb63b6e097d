// dravion-cli's answer when Windows asks whether the session may end: not while a flash is
// written.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <windows.h>

#include <csignal>

#include "cli/interrupt.h"

namespace dravion::cli {
namespace {

TEST(InterruptWatchWin32, TheSessionMayNotEndWhileAFlashIsWritten) {
  InterruptWatch watch;
  const HWND session = ::FindWindowW(L"DravionCliSessionWatch", nullptr);
  // Wine without a display makes no windows (./test runs the suite so; under Xvfb it does).
  if (session == nullptr) GTEST_SKIP() << "no desktop to make the session window on";
  EXPECT_EQ(::SendMessageW(session, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
  InterruptWatch::HoldSessionEnd("The device's firmware is being written");
  InterruptWatch::HoldSessionEnd("The device's firmware is being written");
  EXPECT_EQ(::SendMessageW(session, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), FALSE);
  InterruptWatch::ReleaseSessionEnd();
  EXPECT_EQ(::SendMessageW(session, WM_QUERYENDSESSION, 0, 0), FALSE);
  InterruptWatch::ReleaseSessionEnd();
  EXPECT_EQ(::SendMessageW(session, WM_QUERYENDSESSION, 0, 0), TRUE);
  // More releases than holds change nothing.
  InterruptWatch::ReleaseSessionEnd();
  InterruptWatch::HoldSessionEnd("again");
  EXPECT_EQ(::SendMessageW(session, WM_QUERYENDSESSION, 0, 0), FALSE);
  InterruptWatch::ReleaseSessionEnd();
}

// Task Scheduler ending the task, and taskkill without /f, ask the program's top-level windows to
// close: the program stops as at the end of the session, and its window stays for the session's
// messages until the program ends.
TEST(InterruptWatchWin32, ACloseRequestStopsTheProgram) {
  InterruptWatch watch;
  const HWND session = ::FindWindowW(L"DravionCliSessionWatch", nullptr);
  if (session == nullptr) GTEST_SKIP() << "no desktop to make the session window on";
  EXPECT_EQ(InterruptWatch::Signal(), 0);
  EXPECT_EQ(::SendMessageW(session, WM_CLOSE, 0, 0), 0);
  EXPECT_EQ(InterruptWatch::Signal(), SIGTERM);
  EXPECT_TRUE(::IsWindow(session));
}

}  // namespace
}  // namespace dravion::cli
#endif
