#pragma once

#include "connection/connected_device.h"

namespace dravion {

class DeviceCommands;
class LogSink;
class DeviceInfo;

// The connected device through the manager's command set and its one identity record.
class CommandDevice : public ConnectedDevice {
 public:
  CommandDevice(DeviceCommands& commands, DeviceInfo& record, LogSink& log)
      : commands_(commands), record_(record), log_(log) {}

  int ConnectionTest(const uint8_t* bytes, int count) override;
  bool ExchangeWaiting() const override;
  bool IdentifyDevice() override;
  void ForgetDeviceData() override;
  void ClearDeviceInfo() override;
  std::string DeviceName() const override;
  std::string SerialText() const override;

 private:
  DeviceCommands& commands_;
  DeviceInfo& record_;
  LogSink& log_;
};

}  // namespace dravion
