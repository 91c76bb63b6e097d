#pragma once

namespace dravion {

struct DeviceContext;

// What the device runs now: 1 its main program, 0 its boot loader, -1 no answer. Logs the two
// version lines.
int CheckDeviceMode(DeviceContext& context);

// Restart into the boot loader / the main program and wait (processing events, so that the
// connection manager's heartbeat finds and identifies the device again) at most 1 + 30 + 1
// seconds (the wait ends early when the program is asked to end, QuitRequested, giving -1).
// 0 the device came back in the program wanted; -1 the restart command failed, the
// device did not come back or its mode could not be read; -2 it came back in the other program.
// LinkWatch is set during the wait and given back its earlier value before the mode check or at
// the time-out.
int ResetToBoot(DeviceContext& context);
int ResetToMain(DeviceContext& context);

// Waits of a restart, in milliseconds.
inline constexpr int kRestartFirstWaitMs = 1000;
inline constexpr int kRestartPollMs = 1000;
inline constexpr int kRestartPolls = 30;
inline constexpr int kRestartSettleMs = 1000;

}  // namespace dravion
