#pragma once

#include <string>
#include <vector>

namespace dravion {

class Language;
class LogSink;
class DeviceInfo;

// The lines that describe the identified device in the interface language: name, serial number,
// boot-loader and main-program versions, then whether the carried release would be an upgrade
// or the boot loader runs. None when the record is not valid.
std::vector<std::string> DeviceInformationLines(const DeviceInfo& record, const Language& language);
// What the memo says instead while no device is connected, or when the one connected was not
// recognised.
std::vector<std::string> NoDeviceLines(const Language& language);
std::vector<std::string> UnrecognisedDeviceLines(const Language& language);

// The About-device page's memo (Memo_Info).
class DeviceInformationView {
 public:
  virtual ~DeviceInformationView() = default;
  // Replaces the memo's lines; an empty list empties it.
  virtual void ShowInformationLines(const std::vector<std::string>& lines) = 0;
};

// Keeps the memo in step with the identity record: refilled after each identification, told
// what to do when the device goes away (or before one came), rebuilt in the other language
// after a language switch.
class DeviceInformationPage {
 public:
  DeviceInformationPage(const DeviceInfo& record, const Language& language,
                        DeviceInformationView& view)
      : record_(record), language_(language), view_(view) {}

  // After an identification: rebuilds the memo from the record (the not-recognised lines when
  // the record is not valid).
  void ShowDeviceInformation();
  // No device: the memo asks for the Dravion to be plugged in.
  void ClearDeviceInformation();
  // The interface language changed: the lines follow it.
  void LanguageChanged() { Show(); }

 private:
  void Show();
  bool deviceSeen_ = false;
  const DeviceInfo& record_;
  const Language& language_;
  DeviceInformationView& view_;
};

}  // namespace dravion
