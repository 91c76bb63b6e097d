#include <unistd.h>

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

}  // namespace dravion::cli
