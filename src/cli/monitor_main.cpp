// dravion-monitor: `dravion-cli monitor` without a console window, for the task that starts it at
// the user's logon. It takes monitor's options; its notes go to the run log (by default
// monitor-log.txt beside the archive), written when it stops: at the end of the session, or when
// Task Scheduler or taskkill asks it to close.
#include <exception>
#include <iostream>
#include <sstream>

#include "archive/archive_files.h"
#include "cli/cli.h"
#include "cli/cli_options.h"
#include "cli/interrupt.h"
#include "cli/monitor_task.h"
#include "cli/terminal.h"

int main(int argc, char** argv) {
  using namespace dravion::cli;
  // No console: what would go to the terminal goes nowhere, and nothing is asked.
  std::ostream none(nullptr);
  std::istringstream noAnswers;
  CliIo io{none, none, noAnswers, false, false, -1};
  InterruptWatch stops;
  int status = kExitFailed;
  try {
    status = RunCli(CompanionArguments(CommandLineArguments(argc, argv),
                                       CompanionLogPath(dravion::DefaultArchivePath())),
                    io);
  } catch (const std::exception&) {
    status = kExitFailed;
  }
  // Stopping is how a station ends: not a failure for Task Scheduler to restart it over.
  if (const int signal = InterruptWatch::Signal();
      signal != 0 && status == InterruptWatch::ExitStatus(signal))
    status = kExitDone;
  return status;
}
