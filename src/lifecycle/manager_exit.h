#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "log/remote_folder.h"

namespace dravion {

class AppLifecycle;
class Clock;
class EventPump;
class FtpTransfer;
class Language;
class ReadingRecorder;
class SessionLog;
class UploadStatusView;

// The manager's exit steps, run once: the recording of readings ends (readings that wait for a
// file another program holds go into the file beside it), then the shut-down of AppLifecycle (the
// page option, the log footer, log.txt, the report). They run when the window has closed, or at
// the end of the Windows session (sign-out, restart, shut-down): the process ends then without
// the window closing, soon after, so no box is shown (nobody would answer it; the log says it
// all) and the report upload is bounded.
class ManagerExit {
 public:
  enum class Kind { WindowClosed, SessionEnding };
  // What the upload gets of the time Windows leaves a program at the end of the session.
  static constexpr uint32_t kSessionEndUploadMs = 3000;

  ManagerExit(AppLifecycle& lifecycle, ReadingRecorder& recorder, SessionLog& log, EventPump& pump,
              Clock& clock, const Language& language)
      : lifecycle_(lifecycle),
        recorder_(recorder),
        log_(log),
        pump_(pump),
        clock_(clock),
        language_(language) {}

  // The report server's client (null: none configured), made when the steps run.
  std::function<std::unique_ptr<FtpTransfer>()> makeTransfer;
  // Whose report the log goes to, asked when the steps run.
  std::function<ReportIdentity()> identity;
  UploadStatusView* status = nullptr;

  void Run(Kind kind);
  bool Done() const { return done_; }

 private:
  AppLifecycle& lifecycle_;
  ReadingRecorder& recorder_;
  SessionLog& log_;
  EventPump& pump_;
  Clock& clock_;
  const Language& language_;
  bool done_ = false;
};

}  // namespace dravion
