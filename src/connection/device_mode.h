#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "protocol/device_records.h"

namespace dravion {

class Clock;
class ConnectionManager;
class DeviceCommands;
class EventPump;
class Language;
class LogSink;
class DeviceInfo;

// Which device this is: its processor's unique identifier and its serial number.
struct DeviceIdentity {
  UidBlock Uid{};
  std::array<uint8_t, 4> Serial{};
  bool operator==(const DeviceIdentity&) const = default;
};

// The identity of an identified device; nothing while the record is not valid.
std::optional<DeviceIdentity> IdentityOf(const DeviceInfo& record);

// What a mode check and a restart work with: the command set, the identity record and the
// connection manager that finds and identifies the device again, the log, and the waits.
struct RestartLink {
  DeviceCommands& commands;
  DeviceInfo& device;
  ConnectionManager& connection;
  LogSink& log;
  Clock& clock;
  EventPump& pump;
  // The device that must come back; without it, the one identified when the restart begins.
  std::optional<DeviceIdentity> expected = std::nullopt;
};

// What the device runs now: 1 its main program, 0 its boot loader, -1 no answer. Logs the two
// version lines.
int CheckDeviceMode(const RestartLink& link);

// Restart into the boot loader / the main program and wait (processing events, so that the
// connection manager's heartbeat finds and identifies the device again) at most 1 + 30 + 1
// seconds (the wait ends early when the program is asked to end, QuitRequested, giving -1).
// 0 the device came back in the program wanted; -1 the restart command failed, the
// device did not come back or its mode could not be read; -2 it came back in the other program;
// kRestartOtherDevice another device (other identifier or serial number) came back.
// A restart command without an answer is followed by one silent link test: a device that still
// answers did not restart (-1); a silent one may have dropped its answer as it reset, so the
// normal wait for its return follows and the mode check decides.
// LinkWatch is set during the wait and given back its earlier value before the mode check or at
// the time-out.
int ResetToBoot(const RestartLink& link);
int ResetToMain(const RestartLink& link);
inline constexpr int kRestartOtherDevice = -3;

// The message of an operation that ended because another device came back after a restart:
// what came back and what was expected (their serial numbers, or their identifiers when those
// are all that differ).
std::string OtherDeviceText(const Language& language, const DeviceIdentity& expected,
                            const std::optional<DeviceIdentity>& found);

// Waits of a restart, in milliseconds.
inline constexpr int kRestartFirstWaitMs = 1000;
inline constexpr int kRestartPollMs = 1000;
inline constexpr int kRestartPolls = 30;
inline constexpr int kRestartSettleMs = 1000;
inline constexpr int kRestartWaitMs =
    kRestartFirstWaitMs + kRestartPolls * kRestartPollMs + kRestartSettleMs;

}  // namespace dravion
