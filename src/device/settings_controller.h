#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "protocol/device_records.h"
#include "services/clock.h"

namespace dravion {

struct DeviceContext;
class Language;

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
  // The device clock against the computer's (lines of text); empty when it is not known.
  virtual void ShowClockDrift(const std::string& /*text*/) {}
};

// Seconds the device clock is ahead of the computer's local time (negative: behind).
int64_t ClockDrift(const TimeRecord& device, const LocalDateTime& computer);
// "Device  07.12.2026 14:31:17\nComputer  07.12.2026 14:31:20\nThe device is 3 s behind" in the
// interface language.
std::string ClockDriftText(int64_t drift, const LocalDateTime& computer, const Language& language);
// The device clock read back a time that cannot be (month 13, day 0, a year past 2099): the bytes
// as read, the computer's time, and the verdict, in the interface language.
std::string InvalidClockText(const TimeRecord& device, const LocalDateTime& computer,
                             const Language& language);
// "+3 s" / "-3 s" / "0 s".
std::string SignedSeconds(int64_t seconds, const Language& language);

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
  // Sets the device clock from the computer's after a confirmation and shows the clock read back;
  // the box and the log say how far the clock was corrected (from a read just before).
  void WriteTime();
  // One read of the device clock (no box when it fails), compared with the computer's clock at
  // that moment; the drift is kept and shown. Nothing when the device cannot be read or its clock
  // holds an invalid time (then DeviceTimeInvalid, and that is shown).
  std::optional<int64_t> ReadClockDrift();
  // The last read found a time that cannot be: the clock needs writing.
  bool DeviceTimeInvalid() const { return invalidTime_.has_value(); }
  const std::optional<TimeRecord>& InvalidDeviceTime() const { return invalidTime_; }
  // Shows the kept drift against the computer's clock now (the device's time moves with it), or
  // nothing when none is known. For a refresh while the page is open, without traffic.
  void ShowClockDrift();
  // Forgets the drift (another device, or none).
  void ForgetClockDrift();
  // Called every second while the page is open: the drift of the device connected now, read once
  // (again at most every kDriftRetryMs while reads fail), shown against the computer's clock. A
  // change of the computer's clock or of its offset from UTC has the drift read again.
  void ClockTick();
  static constexpr uint32_t kDriftRetryMs = 10000;
  // How far the computer's clock may move from its own tick before it counts as set anew.
  static constexpr int64_t kClockJumpS = 2;
  std::optional<int64_t> KnownDrift() const { return drift_; }
  // Checks and saves the typed calibration coefficient after a confirmation.
  void SaveCalibration();
  // Told when a read found the device's units (0 Sievert, 1 Roentgen, 2 counts) and its
  // background alarm threshold (the position in its list).
  std::function<void(uint32_t units, uint32_t backgroundLevel)> AlarmSettingsRead;

 private:
  bool ReadSettings();
  // Whether the computer's clock or its UTC offset changed since the drift was read.
  bool ComputerClockMoved();
  bool WriteSettings();
  // ResetToMain; another device coming back is reported in a box.
  int RestartDevice();
  std::string Text(const char* russian, const char* english) const;

  DeviceContext& context_;
  SettingsView& view_;
  std::optional<int64_t> drift_;
  std::optional<TimeRecord> invalidTime_;
  std::string driftDevice_;  // whose clock the drift is of
  // The computer's time and tick when the drift was read.
  LocalDateTime readComputer_;
  uint32_t readTick_ = 0;
  bool driftTried_ = false;
  uint32_t driftTriedTick_ = 0;
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
