#include "connection/device_mode.h"

#include <algorithm>

#include "connection/connection_manager.h"
#include "protocol/commands.h"
#include "protocol/device_format.h"
#include "protocol/identification.h"
#include "services/event_pump.h"
#include "services/language.h"
#include "services/log_sink.h"

namespace dravion {

namespace {

struct RestartKind {
  uint16_t mode;
  const char* logLine;
  const char* commandError;
  int modeWanted;  // what CheckDeviceMode gives when the device came back as asked
};

std::string SerialText(const DeviceIdentity& identity) {
  return FormatSerial(identity.Serial, "-");
}

std::string Describe(const DeviceIdentity& identity) {
  return "S/N " + SerialText(identity) + ", UID " + FormatUid(identity.Uid);
}

// After an unanswered restart command: true when the device still answers a link test, so it did
// not restart. A silent device may have dropped its answer as it reset.
bool StillAnswers(const RestartLink& link) {
  const int result =
      link.commands.ConnectionTest(reinterpret_cast<const uint8_t*>(kLinkTestPayload),
                                   static_cast<int>(sizeof kLinkTestPayload - 1), false);
  return result > 0;
}

int Restart(const RestartLink& link, const RestartKind& kind) {
  link.log.LogLine(kind.logLine);
  const std::optional<DeviceIdentity> expected =
      link.expected ? link.expected : IdentityOf(link.device);
  // Nothing can have reached a device behind a closed port.
  const bool sendable = link.commands.PortOpen();
  const bool answered = link.commands.ResetCommand(kind.mode, false);
  if (!answered) {
    if (!sendable || StillAnswers(link)) {
      link.log.LogError(kind.commandError);
      return -1;
    }
    link.log.LogLine("==> No answer to RESET CMD, none to a link test: waiting for the device");
  }
  ConnectionManager& connection = link.connection;
  const bool linkWatch = connection.LinkWatch;
  connection.LinkWatch = true;
  Delay(link.pump, link.clock, kRestartFirstWaitMs);
  connection.ReconnectDevice();
  for (int poll = 0; poll < kRestartPolls && !link.pump.QuitRequested(); ++poll) {
    Delay(link.pump, link.clock, kRestartPollMs);
    if (!connection.Connected || !connection.Identified) continue;
    connection.LinkWatch = linkWatch;
    const std::optional<DeviceIdentity> found = IdentityOf(link.device);
    if (expected && found != expected) {
      link.log.LogError(
          "Another device after restart: " + (found ? Describe(*found) : std::string("unknown")) +
          " instead of " + Describe(*expected));
      return kRestartOtherDevice;
    }
    Delay(link.pump, link.clock, kRestartSettleMs);
    const int mode = CheckDeviceMode(link);
    if (mode < 0) return -1;
    return mode == kind.modeWanted ? 0 : -2;
  }
  connection.LinkWatch = linkWatch;
  if (!answered) link.log.LogError(kind.commandError);
  return -1;
}

}  // namespace

std::optional<DeviceIdentity> IdentityOf(const DeviceInfo& record) {
  if (record.Valid == 0) return std::nullopt;
  DeviceIdentity identity;
  identity.Uid = record.Uid;
  const auto serial = SerialBytes(record.Factory);
  std::copy(serial.begin(), serial.end(), identity.Serial.begin());
  return identity;
}

std::string OtherDeviceText(const Language& language, const DeviceIdentity& expected,
                            const std::optional<DeviceIdentity>& found) {
  std::string label = "S/N ";
  std::string now = "?";
  std::string before = SerialText(expected);
  if (found) {
    now = SerialText(*found);
    if (found->Serial == expected.Serial) {
      label = "UID ";
      now = FormatUid(found->Uid);
      before = FormatUid(expected.Uid);
    }
  }
  const std::string what = "(" + label + now;
  return language.Text("После перезапуска ответил другой прибор\n\r" + what + " вместо " + before +
                           ")\n\rОперация прервана",
                       "Another device answered after the restart\n\r" + what + " instead of " +
                           before + ")\n\rThe operation was stopped");
}

int CheckDeviceMode(const RestartLink& link) {
  link.log.LogLine("==> Check - Device is in Boot or TQV8");
  SoftInfo soft;
  if (!link.commands.ReadProgramInfo(soft, false)) {
    link.log.LogError("Reading SoftInfo");
    return -1;
  }
  link.log.LogLine("BOOT  : " + FormatVersion(soft.BootVersion));
  link.log.LogLine("TQV8  : " + FormatVersion(soft.MainVersion));
  return soft.MainVersion != 0 ? 1 : 0;
}

int ResetToBoot(const RestartLink& link) {
  return Restart(link, {kResetToBoot, "==> Device Reset to BOOT", "Error when RESET CMD", 0});
}

int ResetToMain(const RestartLink& link) {
  return Restart(link, {kResetToMain, "==> Device Reset to TQV8", "RESET CMD not completed", 1});
}

}  // namespace dravion
