#pragma once

#include <array>
#include <string>
#include <vector>

#include "device/settings_controller.h"
#include "device/value_tables.h"
#include "services/language.h"

namespace dravion::device_test {

// The settings page as lists of item counts, boxes and texts, with the threshold items built as
// the window builds them.
class RecordingSettingsView : public SettingsView {
 public:
  explicit RecordingSettingsView(const Language& language) : language_(language) {
    FillThresholdLists(-1);
  }
  int Selection(SettingsList list) const override { return selection[Index(list)]; }
  void Select(SettingsList list, int position) override {
    selection[Index(list)] = position >= 0 && position < Count(list) ? position : -1;
  }
  void FillThresholdLists(int unit) override {
    unit = thresholdUnit.Resolve(unit);
    background = BackgroundThresholdItems(unit, language_);
    dose = DoseThresholdItems(unit, language_);
    ++fills;
  }
  bool Checked(SettingsBox box) const override { return checked[static_cast<int>(box)]; }
  void SetChecked(SettingsBox box, bool on) override { checked[static_cast<int>(box)] = on; }
  void ShowTime(const std::string& text) override { time = text; }
  void ShowClockDrift(const std::string& text) override { drift = text; }
  std::string CalibrationText() const override { return calibration; }
  void SetCalibrationText(const std::string& text) override { calibration = text; }
  void SetRestartEnabled(bool enabled) override { restartEnabled.push_back(enabled); }

  static int Count(SettingsList list) {
    static constexpr std::array<int, kSettingsListCount> counts{4, 3, 16, 15, 4, 61, 61, 2, 24, 60};
    return counts[Index(list)];
  }
  static int Index(SettingsList list) { return static_cast<int>(list); }
  // The item text a threshold list shows at its selection.
  std::string BackgroundText() const {
    const int at = Selection(SettingsList::BackgroundLevel);
    return at < 0 ? std::string() : background[at];
  }
  std::string DoseText() const {
    const int at = Selection(SettingsList::DoseLevel);
    return at < 0 ? std::string() : dose[at];
  }
  void SelectAll(int position) {
    for (int i = 0; i < kSettingsListCount; ++i)
      Select(static_cast<SettingsList>(i), position);
  }

  std::array<int, kSettingsListCount> selection{-1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
  std::array<bool, 5> checked{};
  std::vector<std::string> background;
  std::vector<std::string> dose;
  ThresholdUnit thresholdUnit;
  int fills = 0;
  std::string time;
  std::string drift;
  std::string calibration = kFactoryCalibrationText;
  std::vector<bool> restartEnabled;

 private:
  const Language& language_;
};

}  // namespace dravion::device_test
