#include "cli/cli_session.h"

#include "cli/cli_pages.h"
#include "cli/interrupt.h"

#include <ostream>

#include "connection/port_help.h"
#include "lifecycle/app_lifecycle.h"
#include "log/run_log_file.h"

namespace dravion::cli {
namespace {

// Identification starts one second into a connection and takes a few exchanges.
constexpr uint32_t kIdentificationWaitMs = 10000;

}  // namespace

CliSession::CliSession(CliIo& io_, const CliOptions& options_, Clock* clock_, EventPump* waits)
    : io(io_),
      options(options_),
      clock(clock_ ? *clock_ : systemClock_),
      pump(clock, waits ? *waits : threadPump_),
      dialogs(io_, language, options_.yes),
      echo_(io_.err) {
  language.Set(options.lang);
  if (options.verbose) log.SetObserver(&echo_);
  stack.port.LogCallback = [this](const std::string& line) { log.LogLine(line); };
  core.manager.ShowInitialState();
  pump.heartbeat = [this] { core.manager.OnHeartbeatTimer(); };
  InterruptWatch::SetWake([this] { pump.Wake(); });
  LogRunStart(log, clock);
}

CliSession::~CliSession() {
  InterruptWatch::SetWake(nullptr);
  pump.heartbeat = nullptr;
  Release();
  Finish();
}

std::vector<int> CliSession::ListedPorts() {
  core.ports.Refresh();
  std::vector<int> ports;
  for (const PortEntry& entry : core.ports.Entries) {
    if (entry.Port == 255) break;
    ports.push_back(entry.Port);
  }
  return ports;
}

bool CliSession::TryPort(int number) {
  ConnectionManager& m = core.manager;
  m.ConnectionMode = kManualPort;
  m.ManualPortNumber = m.SelectedPort = number;
  // A tick with another port connected lets go of it; the next one opens this one.
  if (m.Connected && m.ConnectedPort != number) m.OnConnectionTimer();
  if (!(m.Connected && m.ConnectedPort == number)) m.OnConnectionTimer();
  // The heartbeat's own connection tick comes a full spacing later.
  m.LastConnectionTick = clock.TickMs();
  return m.Connected && m.ConnectedPort == number;
}

int CliSession::Connect() {
  ConnectionManager& m = core.manager;
  bool found = false;
  if (options.port > 0) {
    found = TryPort(options.port);
  } else {
    for (int port : ListedPorts()) {
      if (pump.QuitRequested()) break;
      if (TryPort(port)) {
        found = true;
        break;
      }
    }
  }
  if (!found) {
    Release();
    if (pump.QuitRequested()) return kExitFailed;
    const std::string where = options.port > 0 ? " (COM " + std::to_string(options.port) + ")" : "";
    io.err << language.Text("Прибор не найден", "No device found") << where << '\n';
    // A port that would not open says why (held by another program, no such port).
    const std::string reason =
        options.port > 0 ? PortFailureText(options.port, stack.port.LastOpenFailure(), language)
                         : std::string();
    if (!reason.empty()) io.err << reason << '\n';
    return kExitNoDevice;
  }
  // Found by the search: from now on the manager follows the device as the window's automatic
  // mode does (a restarted device is looked for again, its last port first).
  if (options.port <= 0) m.ConnectionMode = kAutoWatch;
  WaitForIdentification();
  if (pump.QuitRequested()) return kExitFailed;
  if (!m.Connected) {
    io.err << language.Text("Прибор не отвечает", "The device does not answer") << '\n';
    return kExitFailed;
  }
  if (!m.Identified) {
    io.err << m.StatusText << '\n';
    return kExitFailed;
  }
  return kExitDone;
}

void CliSession::WaitForIdentification() {
  ConnectionManager& m = core.manager;
  // The window lets a new connection settle for a second before it identifies the device; a
  // command has just seen the device answer its link test and identifies it at once, in a
  // heartbeat of its own.
  if (m.Connected && !m.IdentificationDone) {
    m.ConnectStartTick = clock.TickMs() - kIdentificationDelayMs;
    m.OnHeartbeatTimer();
  }
  const uint32_t start = clock.TickMs();
  while (!m.IdentificationDone && m.Connected && !pump.QuitRequested() &&
         TicksSince(start, clock.TickMs()) < kIdentificationWaitMs) {
    Wait(50);
  }
}

void CliSession::Release() {
  ConnectionManager& m = core.manager;
  m.ConnectionMode = 0;
  m.SelectedPort = -1;
  if (stack.port.IsOpen()) stack.port.Close();
  m.Connected = false;
  m.ConnectedPort = -1;
}

void CliSession::Wait(int ms) {
  Delay(pump, clock, ms);
}

bool CliSession::Finish() {
  if (finished_) return true;
  finished_ = true;
  LogRunEnd(log, clock);
  if (options.logFile.empty()) return true;
  if (WriteRunLogFile(options.logFile, log.Lines(), logEarlier)) return true;
  io.err << language.Text("Не удалось записать журнал в ", "Could not write the log to ")
         << options.logFile << '\n';
  return false;
}

int Outcome(CliSession& s) {
  return s.dialogs.errors > 0 || s.dialogs.warnings > 0 || s.dialogs.refused ? kExitFailed
                                                                             : kExitDone;
}

}  // namespace dravion::cli
