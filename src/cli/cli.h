#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/cli_services.h"

namespace dravion {
class Clock;
class EventPump;
class LinkStack;
}  // namespace dravion

namespace dravion::cli {

// Called with the run's serial stack once it exists and with nullptr before it goes.
using StackWatch = std::function<void(const LinkStack*)>;

// Runs dravion-cli with the arguments after the program name; returns the exit status. `clock`
// and `waits` replace the system clock and a thread pump, and `watch` is shown the serial stack
// (tests run on faster time, and see when a request waits for its answer).
int RunCli(const std::vector<std::string>& args, CliIo& io, Clock* clock = nullptr,
           EventPump* waits = nullptr, const StackWatch& watch = {});

}  // namespace dravion::cli
