#pragma once

#include <string>
#include <vector>

#include "connection/connected_device.h"
#include "connection/connection_manager.h"
#include "connection/connection_port.h"
#include "connection/connection_view.h"
#include "device/device_context.h"
#include "protocol/identification.h"
#include "serial/port_list.h"
#include "services/language.h"
#include "support/fakes.h"

namespace dravion::device_test {

// Records what a device operation did to the window's frame.
class RecordingFrame : public DeviceFrame {
 public:
  void SetPagesEnabled(bool enabled) override { pages.push_back(enabled); }
  void ShowBusy(int) override { ++busy; }
  void HideBusy() override { --busy; }
  void SetProgress(int percent) override { progress.push_back(percent); }
  void HoldSessionEnd(const std::string& reason) override {
    ++sessionEndHolds;
    sessionEndReason = reason;
  }
  void ReleaseSessionEnd() override { --sessionEndHolds; }

  std::vector<bool> pages;  // every change, in order
  int busy = 0;
  std::vector<int> progress;  // every value of the progress bar, in order
  int sessionEndHolds = 0;    // held while above 0
  std::string sessionEndReason;
};

// A connection manager that is never driven: the tests set its flags.
struct IdleConnection {
  class NoPort : public ConnectionPort {
   public:
    void SetPortNumber(int) override {}
    int PortNumber() const override { return 0; }
    bool Open(uint32_t) override { return false; }
    bool Close() override { return false; }
    bool IsOpen() const override { return false; }
  };
  class NoDevice : public ConnectedDevice {
   public:
    int ConnectionTest(const uint8_t*, int) override { return -2; }
    bool IdentifyDevice() override { return false; }
    void ForgetDeviceData() override {}
    void ClearDeviceInfo() override {}
    std::string DeviceName() const override { return {}; }
    std::string SerialText() const override { return {}; }
  };
  IdleConnection(Dialogs& dialogs, Clock& clock, LogSink& log, const Language& language)
      : manager(port, ports, device, view, dialogs, clock, log, language) {}

  NoPort port;
  PortList ports{PortListing([](PortEntry*, int& count) { count = 0; })};
  NoDevice device;
  SilentConnectionView view;
  ConnectionManager manager;
};

// A supported, identified device record (model 740, revision 41, main program 12.6).
inline DeviceInfo SupportedDevice() {
  DeviceInfo info;
  info.Valid = 1;
  info.Board = {740, 41, 3};
  info.Soft = {0x0410, 0x0C06, 0x08001F00};
  return info;
}

}  // namespace dravion::device_test
