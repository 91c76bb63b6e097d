#pragma once

#include <array>
#include <string>
#include <vector>

#include "device/settings_controller.h"
#include "services/language.h"

namespace dravion::cli {

class CliSession;

// A setting as the command line names it: a list of the settings page, a check box, or the
// calibration coefficient.
struct SettingName {
  enum class Kind { List, Box, Calibration };
  const char* name;
  Kind kind;
  SettingsList list;
  SettingsBox box;
};
const std::vector<SettingName>& SettingNames();

// NAME=VALUE with VALUE as the device stores it: a list position, 0/1 for a check box (the
// sound's 1 is off), the calibration as K x 100.
struct SettingChange {
  const SettingName* setting;
  int value;
};
// Parses the words after `settings set`; false with `error` for an unknown name, a value that
// is not a number, or one outside the setting's range.
bool ParseSettingChanges(const std::vector<std::string>& words, std::vector<SettingChange>& changes,
                         std::string& error);

// The settings page on a terminal: what the controller shows is kept, and printed by the
// commands.
class TextSettingsView : public SettingsView {
 public:
  int Selection(SettingsList list) const override;
  void Select(SettingsList list, int position) override;
  void FillThresholdLists(int unit) override;
  bool Checked(SettingsBox box) const override { return checked_[static_cast<int>(box)]; }
  void SetChecked(SettingsBox box, bool checked) override {
    checked_[static_cast<int>(box)] = checked;
  }
  void ShowTime(const std::string& text) override { time = text; }
  std::string CalibrationText() const override { return calibration; }
  void SetCalibrationText(const std::string& text) override { calibration = text; }
  void SetRestartEnabled(bool) override {}

  // The value stored in the device for a setting, as the page holds it now (-1: none).
  int StoredValue(const SettingName& setting) const;
  // The text the page shows for it, in the interface language.
  std::string ShownText(const SettingName& setting, const Language& language) const;
  void Apply(const SettingChange& change);

  std::string time;
  std::string calibration = kFactoryCalibrationText;

 private:
  std::array<int, kSettingsListCount> positions_{-1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
  std::array<bool, 5> checked_{};
  int unit_ = 0;
};

}  // namespace dravion::cli
