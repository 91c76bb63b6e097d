#include "firmware/device_mode.h"

#include "connection/connection_manager.h"
#include "device/device_context.h"
#include "protocol/commands.h"
#include "protocol/device_format.h"
#include "services/event_pump.h"
#include "services/log_sink.h"

namespace dravion {

namespace {

struct RestartKind {
  uint16_t mode;
  const char* logLine;
  const char* commandError;
  int modeWanted;  // what CheckDeviceMode gives when the device came back as asked
};

int Restart(DeviceContext& context, const RestartKind& kind) {
  context.log.LogLine(kind.logLine);
  if (!context.commands.ResetCommand(kind.mode, false)) {
    context.log.LogError(kind.commandError);
    return -1;
  }
  ConnectionManager& connection = context.connection;
  const bool linkWatch = connection.LinkWatch;
  connection.LinkWatch = true;
  Delay(context.pump, context.clock, kRestartFirstWaitMs);
  connection.Connected = false;
  for (int poll = 0; poll < kRestartPolls && !context.pump.QuitRequested(); ++poll) {
    Delay(context.pump, context.clock, kRestartPollMs);
    if (!connection.Connected || !connection.Identified) continue;
    connection.LinkWatch = linkWatch;
    Delay(context.pump, context.clock, kRestartSettleMs);
    const int mode = CheckDeviceMode(context);
    if (mode < 0) return -1;
    return mode == kind.modeWanted ? 0 : -2;
  }
  connection.LinkWatch = linkWatch;
  return -1;
}

}  // namespace

int CheckDeviceMode(DeviceContext& context) {
  context.log.LogLine("==> Check - Device is in Boot or TQV8");
  SoftInfo soft;
  if (!context.commands.ReadProgramInfo(soft, false)) {
    context.log.LogError("Reading SoftInfo");
    return -1;
  }
  context.log.LogLine("BOOT  : " + FormatVersion(soft.BootVersion));
  context.log.LogLine("TQV8  : " + FormatVersion(soft.MainVersion));
  return soft.MainVersion != 0 ? 1 : 0;
}

int ResetToBoot(DeviceContext& context) {
  return Restart(context, {kResetToBoot, "==> Device Reset to BOOT", "Error when RESET CMD", 0});
}

int ResetToMain(DeviceContext& context) {
  return Restart(context, {kResetToMain, "==> Device Reset to TQV8", "RESET CMD not completed", 1});
}

}  // namespace dravion
