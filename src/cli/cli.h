#pragma once

#include <string>
#include <vector>

#include "cli/cli_services.h"

namespace dravion {
class Clock;
class EventPump;
}  // namespace dravion

namespace dravion::cli {

// Runs dravion-cli with the arguments after the program name; returns the exit status. `clock`
// and `waits` replace the system clock and a thread pump (tests run on faster time).
int RunCli(const std::vector<std::string>& args, CliIo& io, Clock* clock = nullptr,
           EventPump* waits = nullptr);

}  // namespace dravion::cli
