#include "device/device_context.h"

#include <cstdio>

#include "connection/connection_manager.h"
#include "protocol/device_format.h"
#include "protocol/identification.h"
#include "services/clock.h"
#include "services/dialogs.h"
#include "services/language.h"

namespace dravion {

std::string IdentifiedSerial(const DeviceInfo& device) {
  if (!device.Valid) return {};
  return FormatSerial(SerialBytes(device.Factory), "-");
}

std::string SuggestedFileName(const std::string& serial, const std::string& what,
                              const LocalDateTime& day, const std::string& suffix) {
  char date[16];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", day.year, day.month, day.day);
  return "Dravion_" + (serial.empty() ? std::string() : serial + "_") + what + "_" + date + "." +
         suffix;
}

std::string NoDeviceText(const Language& language) {
  return language.Text(
      "Прибор не подключён: подключите Dravion кабелем USB и дождитесь, пока в строке состояния "
      "появится его серийный номер.",
      "No device is connected: plug in the Dravion with its USB cable and wait until the status "
      "bar shows its serial number.");
}

bool RequireConnectedDevice(DeviceContext& context) {
  if (context.connection.Connected) return true;
  context.dialogs.ShowMessage(BoxKind::Information, NoDeviceText(context.language));
  return false;
}

DeviceOperation::DeviceOperation(DeviceContext& context)
    : context_(context), linkWatch_(context.connection.LinkWatch) {
  context_.frame.SetPagesEnabled(false);
  context_.connection.LinkWatch = false;
}

DeviceOperation::~DeviceOperation() {
  context_.connection.LinkWatch = linkWatch_;
  context_.frame.SetPagesEnabled(true);
}

}  // namespace dravion
