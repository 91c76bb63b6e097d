// dravion-cli: the manager's device functions from a terminal.
#include <exception>
#include <iostream>

#include "cli/cli.h"
#include "cli/cli_options.h"
#include "cli/interrupt.h"
#include "cli/terminal.h"

int main(int argc, char** argv) {
  using namespace dravion::cli;
  PrepareConsole();
  CliIo io{std::cout, std::cerr, std::cin, IsTerminal(0), IsTerminal(2), AnswerDescriptor()};
  // Ctrl+C, SIGTERM, SIGHUP and SIGPIPE stop the command at a safe point; the log is still written.
  InterruptWatch interrupts;
  try {
    return RunCli(CommandLineArguments(argc, argv), io);
  } catch (const std::exception& error) {
    std::cerr << "dravion-cli: " << error.what() << '\n';
  } catch (...) {
    std::cerr << "dravion-cli: unexpected failure\n";
  }
  return kExitFailed;
}
