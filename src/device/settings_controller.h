#pragma once

#include <cstdint>
#include <string>

namespace dravion {

struct DeviceContext;

// The lists of the settings page; each holds the position the device stores.
enum class SettingsList {
  Language,         // the device's own language
  Units,            // 0 Sievert, 1 Roentgen, 2 counts
  BackgroundLevel,  // background threshold (16 positions)
  DoseLevel,        // accumulated-dose threshold (15 positions)
  Brightness,
  ScreenTimeOff,
  PowerTimeOff,
  HistoryMode,
  AlarmHour,
  AlarmMinute,
};
inline constexpr int kSettingsListCount = 10;

// The check boxes of the settings page.
enum class SettingsBox { Sound, ButtonClick, SensorClick, ThresholdSound, Alarm };

// What the settings page shows and edits, by meaning. The window implements it with its
// drop-down lists, check boxes and edits; tests with a recorder.
class SettingsView {
 public:
  virtual ~SettingsView() = default;
  // The selected position of a list, -1 for none.
  virtual int Selection(SettingsList list) const = 0;
  // Selects a position; one outside the list leaves the list without selection.
  virtual void Select(SettingsList list, int position) = 0;
  // Rebuilds both threshold lists for a unit (above 2: counts; negative: the unit used last),
  // keeping their selected positions.
  virtual void FillThresholdLists(int unit) = 0;
  virtual bool Checked(SettingsBox box) const = 0;
  virtual void SetChecked(SettingsBox box, bool checked) = 0;
  // The device clock's text.
  virtual void ShowTime(const std::string& text) = 0;
  // The calibration coefficient as the user typed it.
  virtual std::string CalibrationText() const = 0;
  virtual void SetCalibrationText(const std::string& text) = 0;
  // The restart button.
  virtual void SetRestartEnabled(bool enabled) = 0;
};

// The settings page's sequences: read, write, defaults, restart, units change, the clock and
// the calibration coefficient. Each device sequence disables the pages and the connection's link
// tests for its duration.
class SettingsController {
 public:
  SettingsController(DeviceContext& context, SettingsView& view) : context_(context), view_(view) {}

  // Reads every setting, the clock and the calibration into the view; stops at the first
  // failure with "Error reading Parameters" (what was read before stays shown).
  void Read();
  // Writes every setting after a confirmation, then offers a restart. Refused without traffic
  // while any list has no selection.
  void Write();
  // The factory settings into the view, without traffic (the device language is left alone).
  void Default();
  // Restarts the device into its main program; the result is not shown.
  void Restart();
  // The user picked a unit: the threshold lists follow, their positions stay.
  void UnitsChanged(int unit);
  // Sets the device clock from the computer's after a confirmation and shows the clock read back.
  void WriteTime();
  // Checks and saves the typed calibration coefficient after a confirmation.
  void SaveCalibration();

 private:
  bool ReadSettings();
  bool WriteSettings();
  // ResetToMain; another device coming back is reported in a box.
  int RestartDevice();
  std::string Text(const char* russian, const char* english) const;

  DeviceContext& context_;
  SettingsView& view_;
};

// The calibration edit takes digits, "," and "." and control characters (backspace); it holds at
// most kCalibrationTextMax characters and starts with the factory value.
bool CalibrationKeyAccepted(char32_t key);
inline constexpr int kCalibrationTextMax = 10;
inline constexpr const char* kFactoryCalibrationText = "1,27";

// The coefficient K as K x 100: "1,27" and "1.27" give 127, "2" and "2," give 200; -1 for a
// format error (no integer part, more than two decimals, anything but digits, an integer part
// beyond 2147483647).
int64_t ParseCoefficient(const std::string& text);
// K x 100 as "1,27".
std::string FormatCoefficient(int value);
inline constexpr int kCalibrationMin = 10;
inline constexpr int kCalibrationMax = 999;

}  // namespace dravion
