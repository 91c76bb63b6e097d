#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "connection/connection_view.h"
#include "device/device_context.h"
#include "log/session_log.h"
#include "services/dialogs.h"
#include "services/event_pump.h"

namespace dravion {
class Clock;
class Language;
}  // namespace dravion

namespace dravion::cli {

// The program's standard streams and whether they are terminals.
struct CliIo {
  std::ostream& out;
  std::ostream& err;
  std::istream& in;
  bool inTerminal = false;
  bool errTerminal = false;
  // When set, answers to questions are read from this descriptor instead of `in`, and a signal
  // ends the wait for them.
  int inDescriptor = -1;
};

// Message texts with their line breaks ("\n\r", "\r\n", "\r") as line feeds.
std::string TerminalText(const std::string& text);

// Message boxes as lines on stderr; questions answered by --yes, else asked on the terminal, else
// refused (No) when there is no terminal to ask on.
class TerminalDialogs : public Dialogs {
 public:
  TerminalDialogs(CliIo& io, const Language& language, bool yes)
      : io_(io), language_(language), yes_(yes) {}
  void ShowMessage(BoxKind kind, const std::string& text) override;
  bool Ask(QuestionKind kind, const std::string& text) override;
  bool AskText(const std::string& title, const std::string& prompt, std::string& value) override;

  // Answers a question before --yes and the terminal do: 1 Yes, 0 No, -1 not decided here. A
  // command sets it for questions it answers by its own options (a retry limit).
  std::function<int(const std::string& text)> decide;

  // Error and warning boxes shown so far; whether a question was refused for want of a terminal
  // or answered No.
  int errors = 0;
  int warnings = 0;
  bool refused = false;
  bool answeredNo = false;

 private:
  CliIo& io_;
  const Language& language_;
  bool yes_;
};

// The event pump of a program without a window: the waits of `inner` (a ThreadEventPump), with a
// heartbeat run every 100 ms while the program waits (the window's timer), never nested in itself.
class HeartbeatPump : public EventPump {
 public:
  static constexpr uint32_t kBeatMs = 100;
  HeartbeatPump(Clock& clock, EventPump& inner) : clock_(clock), inner_(inner) {}
  void ProcessEvents(uint32_t deadlineTick) override;
  void Wake() override { inner_.Wake(); }
  // Ctrl+C or a termination signal arrived (see InterruptWatch).
  bool QuitRequested() const override;

  std::function<void()> heartbeat;

 private:
  Clock& clock_;
  EventPump& inner_;
  uint32_t lastBeat_ = 0;
  bool started_ = false;
  bool inBeat_ = false;
};

// A progress bar on stderr, drawn only when stderr is a terminal.
class ProgressBar {
 public:
  explicit ProgressBar(CliIo& io) : io_(io) {}
  ~ProgressBar() { Finish(); }
  void Show(long long position, long long total, const std::string& label = {});
  // Ends the bar's line.
  void Finish();

 private:
  CliIo& io_;
  bool drawn_ = false;
  int lastPermille_ = -1;
};

// The window's frame on a terminal: no page control or busy animation; the progress of a long
// operation as a bar on stderr.
class TerminalFrame : public DeviceFrame {
 public:
  explicit TerminalFrame(CliIo& io) : bar_(io) {}
  void SetPagesEnabled(bool) override {}
  void ShowBusy(int) override {}
  void HideBusy() override { EndProgress(); }
  void SetProgress(int percent) override { bar_.Show(percent, 100); }
  void HoldSessionEnd(const std::string& reason) override;
  void ReleaseSessionEnd() override;
  // Ends the bar's line, if one was drawn.
  void EndProgress() { bar_.Finish(); }

 private:
  ProgressBar bar_;
};

// -v: every log line also on stderr.
class LogEcho : public LogObserver {
 public:
  explicit LogEcho(std::ostream& err) : err_(err) {}
  void OnLogLineAdded(const std::string& line) override;
  void OnLogLastLineReplaced(const std::string& line) override;
  void OnLogCleared() override {}

 private:
  std::ostream& err_;
};

}  // namespace dravion::cli
