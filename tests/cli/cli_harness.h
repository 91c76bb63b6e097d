#pragma once

#include <stdlib.h>

#include <atomic>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "sim/device.h"
#include "support/answer_on_its_way.h"
#include "support/pty.h"
#include "support/scaled_time.h"

namespace dravion::cli_test {

// Header-only: the test build compiles only *_test.cpp files from this folder.

// What a run of dravion-cli gave.
struct CliResult {
  int status = -1;
  std::string out;
  std::string err;
};

// dravion-cli run in-process against an emulated device in a private port folder, through the
// real serial layer, on manager time running `scale` times faster than real time (restart waits
// and time-outs shrink alike; a wait for an answer the device is sending runs at real speed, see
// ScaledClock). Standard input is not a terminal unless a test says so.
struct CliBench {
  explicit CliBench(sim::DeviceConfig config = {}, bool plug = true, uint32_t scale = 4)
      : clock(scale) {
    ::setenv("DRAVION_SYSTEM_PORTS", "0", 1);
    config.portFolder = folder.path();
    if (config.restartMs == 1500) config.restartMs = 400;
    device = std::make_unique<sim::Device>(config);
    if (plug) device->Plug();
    clock.realSpeed = [this] { return test::AnswerOnItsWay(stack.load(), device.get()); };
  }
  ~CliBench() { clock.realSpeed = nullptr; }

  CliResult Run(const std::vector<std::string>& args, const std::string& input = {},
                bool inTerminal = false) {
    std::ostringstream out;
    std::ostringstream err;
    std::istringstream in(input);
    cli::CliIo io{out, err, in, inTerminal, false};
    CliResult result;
    result.status =
        cli::RunCli(args, io, &clock, &pump, [this](const LinkStack* running) { stack = running; });
    result.out = out.str();
    result.err = err.str();
    return result;
  }

  test::TempPortFolder folder;
  test::ScaledClock clock;
  test::ScaledPump pump{clock};
  std::unique_ptr<sim::Device> device;
  std::atomic<const LinkStack*> stack{nullptr};
};

}  // namespace dravion::cli_test
