#pragma once

#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/cli_services.h"
#include "connection/connection_core.h"
#include "device/device_context.h"
#include "log/session_log.h"
#include "protocol/commands.h"
#include "protocol/identification.h"
#include "protocol/link_stack.h"
#include "services/clock.h"
#include "services/language.h"

namespace dravion::cli {

// One run of dravion-cli: the manager's serial stack, command set, identity record and
// connection manager, with terminal services, driven by the heartbeat while the program waits.
class CliSession {
 public:
  // `clock` and `waits` replace the system clock and a thread pump (tests run on faster time).
  CliSession(CliIo& io, const CliOptions& options, Clock* clock = nullptr,
             EventPump* waits = nullptr);
  ~CliSession();
  CliSession(const CliSession&) = delete;
  CliSession& operator=(const CliSession&) = delete;

  // The listed ports, in list order.
  std::vector<int> ListedPorts();
  // The connection manager's link test on port `number` (its manual-port tick); true when the
  // device answered there. The port stays open on success.
  bool TryPort(int number);
  // Finds the device (on --port, else on the first listed port that answers) and waits for its
  // identification: kExitDone, kExitNoDevice, or kExitFailed for a device that is not a
  // supported one. Messages go to stderr.
  int Connect();
  // Waits until the device on the connected port is identified (or found unsupported), is lost,
  // or does not finish within the identification's time.
  void WaitForIdentification();
  // Lets go of the port: no more connection ticks, the port closed.
  void Release();
  // Waits `ms` with the heartbeat running.
  void Wait(int ms);
  // Writes the log file when one was asked for (with the run's end lines); false on failure.
  bool Finish();

  CliIo& io;
  const CliOptions& options;
  Language language;

 private:
  SystemClock systemClock_;
  ThreadEventPump threadPump_{systemClock_};

 public:
  Clock& clock;
  HeartbeatPump pump;
  TerminalDialogs dialogs;
  SessionLog log;
  // What the log file held of earlier runs, written before this run's lines (the monitor's).
  std::string logEarlier;
  LinkStack stack{pump, clock, dialogs};
  DeviceCommands commands{stack};
  DeviceInfo record;
  SilentConnectionView view;
  ConnectionCore core{stack, commands, record, view, dialogs, clock, log, language};
  TerminalFrame frame{io};
  DeviceContext context{commands, record, core.manager, log, dialogs, language, clock, pump, frame};

 private:
  LogEcho echo_;
  bool finished_ = false;
};

}  // namespace dravion::cli
