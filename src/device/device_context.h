#pragma once

#include <string>

#include "connection/device_mode.h"

namespace dravion {

class Clock;
class ConnectionManager;
class DeviceCommands;
class Dialogs;
class EventPump;
class Language;
class LogSink;
class DeviceInfo;
struct LocalDateTime;

// What a device operation may change on the window's frame while it runs. The window implements
// it with its page control and busy animation; a terminal program and the tests implement it
// with nothing or a recorder.
class DeviceFrame {
 public:
  virtual ~DeviceFrame() = default;
  // The page control (and so every page's buttons) enabled or not.
  virtual void SetPagesEnabled(bool enabled) = 0;
  // The busy animation over the window; interval in milliseconds.
  virtual void ShowBusy(int interval) = 0;
  virtual void HideBusy() = 0;
  // The progress bar of the window's bottom panel, 0-100.
  virtual void SetProgress(int /*percent*/) {}
  // An operation that must not be cut short (a flash being written) runs: the end of the
  // Windows session (sign-out, restart, shut-down) is held off, with `reason` shown to the user,
  // until ReleaseSessionEnd.
  virtual void HoldSessionEnd(const std::string& /*reason*/) {}
  virtual void ReleaseSessionEnd() {}
};

// Everything the device functions reach: the command set of the open port, the identity record
// and the connection manager that keeps them current, and the services of the user-interface
// thread. One instance lives as long as the manager's device session; controllers keep a
// reference to it.
struct DeviceContext {
  DeviceCommands& commands;
  DeviceInfo& device;
  ConnectionManager& connection;
  LogSink& log;
  Dialogs& dialogs;
  const Language& language;
  Clock& clock;
  EventPump& pump;
  DeviceFrame& frame;

  // What a mode check or a restart of this device works with.
  RestartLink Link() const { return {commands, device, connection, log, clock, pump}; }
};

// The serial number of the identified device ("214-36587"); empty without one.
std::string IdentifiedSerial(const DeviceInfo& device);
// The name a save dialog offers: "Dravion_<serial>_<what>_<yyyy-mm-dd>.<suffix>" on the day
// given, without the serial part when it is empty.
std::string SuggestedFileName(const std::string& serial, const std::string& what,
                              const LocalDateTime& day, const std::string& suffix);

// The one sentence a handler that needs a device says when none is connected.
std::string NoDeviceText(const Language& language);
// True when a device is connected; otherwise shows NoDeviceText in an information box.
bool RequireConnectedDevice(DeviceContext& context);

// Held by a device handler for its duration: the pages are disabled and the connection manager's
// LinkWatch is cleared, so that no link test runs between the handler's requests; both are given
// back on every path out of the handler.
class DeviceOperation {
 public:
  explicit DeviceOperation(DeviceContext& context);
  ~DeviceOperation();
  DeviceOperation(const DeviceOperation&) = delete;
  DeviceOperation& operator=(const DeviceOperation&) = delete;

 private:
  DeviceContext& context_;
  bool linkWatch_;
};

}  // namespace dravion
