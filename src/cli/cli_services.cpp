#include "cli/cli_services.h"

#include "cli/interrupt.h"
#include "cli/terminal.h"

#include <iostream>
#include <istream>
#include <ostream>

#include "services/clock.h"
#include "services/language.h"

namespace dravion::cli {

std::string TerminalText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n' || c == '\r') {
      // One break for "\n\r", "\r\n", "\n" or "\r".
      const char pair = c == '\n' ? '\r' : '\n';
      if (i + 1 < text.size() && text[i + 1] == pair) ++i;
      out += '\n';
    } else {
      out += c;
    }
  }
  return out;
}

void TerminalDialogs::ShowMessage(BoxKind kind, const std::string& text) {
  if (kind == BoxKind::Error) ++errors;
  if (kind == BoxKind::Warning) ++warnings;
  io_.err << TerminalText(text) << '\n' << std::flush;
}

bool TerminalDialogs::Ask(QuestionKind, const std::string& text) {
  io_.err << TerminalText(text);
  // After Ctrl+C nothing more is asked or done: the command ends.
  if (InterruptWatch::Signal() != 0) {
    io_.err << '\n' << std::flush;
    return false;
  }
  if (decide) {
    const int decided = decide(text);
    if (decided >= 0) {
      io_.err << ' '
              << (decided ? language_.Text("[да]", "[yes]") : language_.Text("[нет]", "[no]"))
              << '\n'
              << std::flush;
      if (!decided) answeredNo = true;
      return decided != 0;
    }
  }
  if (yes_) {
    io_.err << ' ' << language_.Text("[да: --yes]", "[yes: --yes]") << '\n' << std::flush;
    return true;
  }
  if (!io_.inTerminal) {
    refused = true;
    io_.err << '\n'
            << language_.Text("Нет терминала для ответа: отказ (ответ Да даёт --yes)",
                              "No terminal to answer on: refused (--yes answers Yes)")
            << '\n'
            << std::flush;
    return false;
  }
  for (;;) {
    io_.err << ' ' << language_.Text("[д/н] ", "[y/n] ") << std::flush;
    std::string line;
    // A descriptor is read so that Ctrl+C ends the wait (POSIX); the program's own console as the
    // console gives it (UTF-16 on Windows); a stream given by a caller, or a redirected input, as
    // bytes. 1: a line, 0: the input ended, -1: a signal came.
    int read = -1;
    if (InterruptWatch::Signal() == 0) {
      if (io_.inDescriptor >= 0) {
        read = ReadAnswerLine(io_.inDescriptor, line);
      } else {
        ConsoleRead console =
            &io_.in == &std::cin ? ReadConsoleLine(line) : ConsoleRead::NotConsole;
        if (console == ConsoleRead::NotConsole)
          console = std::getline(io_.in, line) ? ConsoleRead::Line : ConsoleRead::End;
        read = console == ConsoleRead::Line ? 1 : 0;
      }
    }
    if (read < 0 || InterruptWatch::Signal() != 0) {
      // Ctrl+C while the question waits: the answer is No, and the command ends now.
      io_.err << '\n' << std::flush;
      return false;
    }
    if (read == 0) {
      io_.err << '\n';
      refused = true;
      return false;
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
      line.pop_back();
    if (line == "y" || line == "Y" || line == "yes" || line == "д" || line == "Д" || line == "да") {
      return true;
    }
    if (line == "n" || line == "N" || line == "no" || line == "н" || line == "Н" || line == "нет") {
      answeredNo = true;
      return false;
    }
  }
}

bool TerminalDialogs::AskText(const std::string&, const std::string&, std::string&) {
  refused = true;
  return false;
}

bool HeartbeatPump::QuitRequested() const {
  return InterruptWatch::Signal() != 0;
}

void HeartbeatPump::ProcessEvents(uint32_t deadlineTick) {
  const uint32_t now = clock_.TickMs();
  if (!started_) {
    started_ = true;
    lastBeat_ = now;
  }
  if (heartbeat && !inBeat_ && TicksSince(lastBeat_, now) >= kBeatMs) {
    lastBeat_ = now;
    inBeat_ = true;
    heartbeat();
    inBeat_ = false;
  }
  // Sleeps until the deadline or the next beat, whichever comes first; the caller's loop comes
  // back for the rest of its wait.
  const uint32_t nextBeat = lastBeat_ + kBeatMs;
  const bool beatFirst = heartbeat && !inBeat_ && static_cast<int32_t>(nextBeat - deadlineTick) < 0;
  inner_.ProcessEvents(beatFirst ? nextBeat : deadlineTick);
}

void ProgressBar::Show(long long position, long long total, const std::string& label) {
  if (!io_.errTerminal || total <= 0) return;
  if (position < 0) position = 0;
  if (position > total) position = total;
  const int permille = static_cast<int>(position * 1000 / total);
  if (permille == lastPermille_) return;
  lastPermille_ = permille;
  constexpr int kWidth = 40;
  const int filled = permille * kWidth / 1000;
  std::string bar = "\r" + label + (label.empty() ? "" : " ") + "[";
  bar.append(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kWidth - filled), '.');
  bar += "] " + std::to_string(permille / 10) + "%";
  io_.err << bar << std::flush;
  drawn_ = true;
}

void ProgressBar::Finish() {
  if (drawn_) io_.err << '\n' << std::flush;
  drawn_ = false;
  lastPermille_ = -1;
}

void TerminalFrame::HoldSessionEnd(const std::string& reason) {
  InterruptWatch::HoldSessionEnd(reason);
}

void TerminalFrame::ReleaseSessionEnd() {
  InterruptWatch::ReleaseSessionEnd();
}

void LogEcho::OnLogLineAdded(const std::string& line) {
  err_ << line << '\n' << std::flush;
}

void LogEcho::OnLogLastLineReplaced(const std::string& line) {
  err_ << line << '\n' << std::flush;
}

}  // namespace dravion::cli
