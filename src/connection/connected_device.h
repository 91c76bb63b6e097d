#pragma once

#include <cstdint>
#include <string>

namespace dravion {

// The device behind the open port, as the connection manager needs it: the link test, the
// identification into the identity record, and forgetting what was read from it.
class ConnectedDevice {
 public:
  virtual ~ConnectedDevice() = default;
  // The connection test on the main channel, silent, with resends: 1 when the device echoed the
  // bytes, 0 no answer or a wrong echo, -1 no main channel, -2 port closed.
  virtual int ConnectionTest(const uint8_t* bytes, int count) = 0;
  // Whether another exchange with the device waits for its answer now: the link is in use, and a
  // link test would find its channel busy.
  virtual bool ExchangeWaiting() const { return false; }
  // Identifies the device into the identity record (which it clears first).
  virtual bool IdentifyDevice() = 0;
  // Forgets the cached device records.
  virtual void ForgetDeviceData() = 0;
  // Clears the identity record.
  virtual void ClearDeviceInfo() = 0;
  // The record's device name, and its serial number as "214-36587".
  virtual std::string DeviceName() const = 0;
  virtual std::string SerialText() const = 0;
};

}  // namespace dravion
