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

// The About-device page's memo (Memo_Info).
class DeviceInformationView {
 public:
  virtual ~DeviceInformationView() = default;
  // Replaces the memo's lines; an empty list empties it.
  virtual void ShowInformationLines(const std::vector<std::string>& lines) = 0;
};

// Keeps the memo in step with the identity record: refilled after each identification,
// emptied when the device goes away, rebuilt in the other language after a language switch.
class DeviceInformationPage {
 public:
  DeviceInformationPage(const DeviceInfo& record, const Language& language,
                        DeviceInformationView& view)
      : record_(record), language_(language), view_(view) {}

  // Rebuilds the memo from the record (empty when the record is not valid).
  void ShowDeviceInformation();
  void ClearDeviceInformation();
  // The interface language changed: the lines follow it. The memo always shows the record, and
  // the record is cleared with the memo when the device goes away, so rebuilding is enough.
  void LanguageChanged() { ShowDeviceInformation(); }

 private:
  const DeviceInfo& record_;
  const Language& language_;
  DeviceInformationView& view_;
};

}  // namespace dravion
