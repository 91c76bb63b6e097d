#include <unistd.h>

#include <cerrno>

#include "cli/interrupt.h"
#include "cli/terminal.h"

namespace dravion::cli {

bool IsTerminal(int stream) {
  return ::isatty(stream) == 1;
}

void PrepareConsole() {}

// A terminal on POSIX is read as the byte stream it is.
ConsoleRead ReadConsoleLine(std::string&) {
  return ConsoleRead::NotConsole;
}

void CancelConsoleRead() {}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

int AnswerDescriptor() {
  return 0;
}

int ReadAnswerLine(int fd, std::string& line) {
  line.clear();
  // Byte by byte, so nothing after the line is taken from the input.
  for (;;) {
    if (!InterruptWatch::WaitReadable(fd)) return -1;
    char c = 0;
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return line.empty() ? 0 : 1;
    if (c == '\n') return 1;
    line += c;
  }
}

}  // namespace dravion::cli
