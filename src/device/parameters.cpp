#include "device/parameters.h"

#include <cstdio>

#include "connection/connection_manager.h"
#include "device/device_context.h"
#include "protocol/commands.h"
#include "protocol/identification.h"
#include "services/dialogs.h"
#include "services/language.h"
#include "services/log_sink.h"

namespace dravion {

namespace {

// "0x0009(9)": at least four upper-case hex digits, then the decimal value.
std::string HexAndDecimal(uint32_t value, int width) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%0*X(%u)", width, value, value);
  return text;
}

}  // namespace

bool GetParameter(DeviceCommands& commands, LogSink& log, uint16_t number, uint32_t* value) {
  if (value == nullptr) return false;
  ParameterRecord record;
  record.ParameterId = number;
  if (!commands.ReadParameter(record, false)) {
    *value = 0;
    log.LogError("Read PAR[" + std::to_string(number) + "]");
    return false;
  }
  *value = record.Value32();
  log.LogLine("Read PAR[" + HexAndDecimal(number, 4) + "] : " + HexAndDecimal(*value, 4));
  return true;
}

bool GetParameter(DeviceContext& context, uint16_t number, uint32_t* value) {
  return GetParameter(context.commands, context.log, number, value);
}

bool SetParameter(DeviceCommands& commands, LogSink& log, uint16_t number, uint32_t value,
                  bool show) {
  ParameterRecord record;
  record.ParameterId = number;
  record.SetValue32(value);
  if (!commands.WriteParameter(record, show)) {
    log.LogError("Write PAR[" + std::to_string(number) + "] : " + HexAndDecimal(value, 1));
    return false;
  }
  log.LogLine("Write PAR[" + HexAndDecimal(number, 4) + "] : " + HexAndDecimal(value, 4));
  return true;
}

bool SetParameter(DeviceContext& context, uint16_t number, uint32_t value, bool show) {
  return SetParameter(context.commands, context.log, number, value, show);
}

int DeviceAccessCode(bool connected, bool identified, const DeviceInfo& device) {
  if (!connected) return 1;
  if (!identified) return 2;
  if (device.Board.ModelCode != kModelDosimeter) return 3;
  if (device.Board.HardwareRevision != kHardwareRevisionA &&
      device.Board.HardwareRevision != kHardwareRevisionB) {
    return 4;
  }
  if (device.Soft.MainVersion < kAccessMainVersion) return 5;
  return 0;
}

std::string DeviceAccessMessage(int code, bool russian) {
  switch (code) {
    case 1:
      return russian ? "Соединение не установлено" : "Device not connected";
    case 2:
    case 3:
      return russian ? "Некорректное подключение\n\rили подключен не Dravion"
                     : "Bad connection or\n\rDevice is not Dravion";
    case 4:
      return russian ? "Версия вашего прибора не поддерживается"
                     : "Your Device Version is not supported";
    case 5:
      return russian ? "Требуется обновление прошивки\n\rПожалуйста зайдите на страницу \"О "
                       "приборе\""
                     : "You need Upgrade Firmware\n\rPlease goto Page \"About Device\"";
    default:
      return {};
  }
}

bool CheckDeviceAccess(DeviceContext& context, const std::string& caption, bool show) {
  const int code =
      DeviceAccessCode(context.connection.Connected, context.connection.Identified, context.device);
  if (code == 0) return true;
  std::string text = caption.empty() ? std::string() : caption + "\n\r";
  if (show) text += DeviceAccessMessage(code, context.language.Current() == Lang::Russian);
  // Without a device there is nothing to explain beyond that: one plain sentence.
  if (code == 1 && !text.empty()) text = NoDeviceText(context.language);
  if (!text.empty()) {
    context.dialogs.ShowMessage(code == 1 ? BoxKind::Information : BoxKind::Error, text);
    context.log.LogError("DevAccessCheck Error=" + std::to_string(code));
  }
  return false;
}

bool CheckSettingsAccess(DeviceContext& context, const std::string& caption) {
  const std::string title =
      context.language.Text("Ошибка доступа к настройкам", "Error Settings Access");
  return CheckDeviceAccess(context, caption.empty() ? title : caption + "\n\r" + title, true);
}

}  // namespace dravion
