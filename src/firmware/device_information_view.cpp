#include "firmware/device_information_view.h"

#include "firmware/firmware_release.h"
#include "protocol/device_format.h"
#include "protocol/identification.h"
#include "services/language.h"

namespace dravion {

std::vector<std::string> DeviceInformationLines(const DeviceInfo& record,
                                                const Language& language) {
  if (!record.Valid) return {};
  const std::string rule(30, '-');
  std::vector<std::string> lines = {
      language.Text("Информация о подключенном приборе", "Connected Device Information"),
      language.Text("Версия прибора: ", "Device: ") + record.Name,
      "S/N: " + FormatSerial(SerialBytes(record.Factory), "-"),
      rule,
      "SW BOOT: " + FormatVersion(record.Soft.BootVersion),
      "SW MAIN: 1.20." + FormatVersion(record.Soft.MainVersion),
      rule,
  };
  const uint16_t main = record.Soft.MainVersion;
  if (RunsBootLoader(main)) {
    lines.push_back(language.Text("Прибор находится в режиме BOOT", "Your Device is in BOOT Mode"));
  } else if (NeedsUpgrade(main)) {
    if (language.Current() == Lang::Russian) {
      lines.push_back("Доступно обновление");
      lines.push_back("до версии 1.20." + ReleaseNumbersText());
    } else {
      lines.push_back("Upgrade to Version 1.20." + ReleaseNumbersText());
      lines.push_back("is available");
    }
  }
  return lines;
}

std::vector<std::string> NoDeviceLines(const Language& language) {
  return {
      language.Text("Прибор не подключён", "No device connected"), "",
      language.Text("Подключите Dravion кабелем USB:", "Plug in the Dravion with its USB cable:"),
      language.Text("он будет найден и опознан сам.", "it is found and identified by itself.")};
}

std::vector<std::string> UnrecognisedDeviceLines(const Language& language) {
  return {
      language.Text("Подключённый прибор не опознан", "The connected device was not recognised"),
      "",
      language.Text("Причина — в логе (Файл → Показать лог).",
                    "The log tells why (File → Show Report)."),
      language.Text("Подключите Dravion заново.", "Plug the Dravion in again.")};
}

void DeviceInformationPage::Show() {
  if (record_.Valid)
    view_.ShowInformationLines(DeviceInformationLines(record_, language_));
  else
    view_.ShowInformationLines(deviceSeen_ ? UnrecognisedDeviceLines(language_)
                                           : NoDeviceLines(language_));
}

void DeviceInformationPage::ShowDeviceInformation() {
  deviceSeen_ = true;
  Show();
}

void DeviceInformationPage::ClearDeviceInformation() {
  deviceSeen_ = false;
  Show();
}

}  // namespace dravion
