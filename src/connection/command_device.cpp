#include "connection/command_device.h"

#include "protocol/commands.h"
#include "protocol/device_format.h"
#include "protocol/identification.h"

namespace dravion {

int CommandDevice::ConnectionTest(const uint8_t* bytes, int count) {
  return commands_.ConnectionTest(bytes, count, false);
}

bool CommandDevice::ExchangeWaiting() const {
  return commands_.ExchangeWaiting();
}

bool CommandDevice::IdentifyDevice() {
  return dravion::IdentifyDevice(record_, commands_, log_);
}

void CommandDevice::ForgetDeviceData() {
  commands_.ForgetDeviceData();
}

void CommandDevice::ClearDeviceInfo() {
  record_.Clear();
}

std::string CommandDevice::DeviceName() const {
  return record_.Name;
}

std::string CommandDevice::SerialText() const {
  return FormatSerial(SerialBytes(record_.Factory), "-");
}

}  // namespace dravion
