#include "device/settings_controller.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "connection/connection_manager.h"
#include "connection/device_mode.h"
#include "device/device_context.h"
#include "device/device_time.h"
#include "device/parameters.h"
#include "protocol/commands.h"
#include "protocol/device_format.h"
#include "protocol/identification.h"
#include "services/clock.h"
#include "services/dialogs.h"
#include "services/language.h"
#include "services/log_sink.h"

namespace dravion {

namespace {

// A read value as a list position; values beyond any list stay beyond it.
int Position(uint32_t value) {
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

bool AllDigits(const std::string& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A decimal integer of digits only, at most 2147483647; -1 otherwise.
int64_t DecimalInteger(const std::string& text) {
  if (!AllDigits(text)) return -1;
  int64_t value = 0;
  for (char c : text) {
    value = value * 10 + (c - '0');
    if (value > INT_MAX) return -1;
  }
  return value;
}

}  // namespace

std::string SettingsController::Text(const char* russian, const char* english) const {
  return context_.language.Current() == Lang::Russian ? russian : english;
}

bool CalibrationKeyAccepted(char32_t key) {
  return (key >= '0' && key <= '9') || key == ',' || key == '.' || key < 32;
}

int64_t ParseCoefficient(const std::string& text) {
  size_t separator = text.find(',');
  if (separator == std::string::npos) separator = text.find('.');
  if (separator == std::string::npos) {
    const int64_t whole = DecimalInteger(text);
    return whole < 0 ? -1 : whole * 100;
  }
  const int64_t whole = DecimalInteger(text.substr(0, separator));
  if (whole < 0) return -1;
  std::string fraction = text.substr(separator + 1);
  if (fraction.size() > 2) return -1;
  if (fraction.empty()) return whole * 100;
  if (fraction.size() == 1) fraction += "0";
  if (!AllDigits(fraction)) return -1;
  return whole * 100 + std::stoi(fraction);
}

std::string FormatCoefficient(int value) {
  char text[32];
  std::snprintf(text, sizeof text, "%d,%02d", value / 100, value % 100);
  return text;
}

void SettingsController::Read() {
  DeviceOperation operation(context_);
  if (!CheckSettingsAccess(context_, Text("Чтение настроек", "Read Settings"))) return;
  if (!ReadSettings())
    context_.dialogs.ShowMessage(BoxKind::Error,
                                 Text("Ошибка получения параметров", "Error reading Parameters"));
}

bool SettingsController::ReadSettings() {
  uint32_t value = 0;
  auto readList = [&](uint16_t number, SettingsList list) {
    if (!GetParameter(context_, number, &value)) return false;
    view_.Select(list, Position(value));
    return true;
  };
  auto readBox = [&](uint16_t number, SettingsBox box) {
    if (!GetParameter(context_, number, &value)) return false;
    view_.SetChecked(box, value != 0);
    return true;
  };
  if (!readList(param::kLanguage, SettingsList::Language)) return false;
  if (!readList(param::kUnits, SettingsList::Units)) return false;
  const uint32_t units = value;
  view_.FillThresholdLists(static_cast<int>(std::min<uint32_t>(value, 2)));
  if (!readList(param::kBackgroundLevel, SettingsList::BackgroundLevel)) return false;
  if (AlarmSettingsRead) AlarmSettingsRead(units, value);
  if (!readList(param::kDoseLevel, SettingsList::DoseLevel)) return false;
  if (!GetParameter(context_, param::kSoundOff, &value)) return false;
  view_.SetChecked(SettingsBox::Sound, value == 0);
  if (!readBox(param::kButtonClick, SettingsBox::ButtonClick)) return false;
  if (!readBox(param::kSensorClick, SettingsBox::SensorClick)) return false;
  if (!readBox(param::kThresholdSound, SettingsBox::ThresholdSound)) return false;
  if (!readList(param::kBrightness, SettingsList::Brightness)) return false;
  if (!readList(param::kScreenTimeOff, SettingsList::ScreenTimeOff)) return false;
  if (!readList(param::kPowerTimeOff, SettingsList::PowerTimeOff)) return false;
  if (!readList(param::kHistoryMode, SettingsList::HistoryMode)) return false;
  if (!readBox(param::kAlarmOn, SettingsBox::Alarm)) return false;
  if (!readList(param::kAlarmHour, SettingsList::AlarmHour)) return false;
  if (!readList(param::kAlarmMinute, SettingsList::AlarmMinute)) return false;

  TimeRecord time;
  const bool timeRead = context_.commands.ReadTime(time);
  if (!timeRead) time = NoTimeRecord();
  view_.ShowTime(FormatDeviceTime(time));
  if (!timeRead) return false;

  if (!GetParameter(context_, param::kCalibration, &value)) return false;
  value = std::clamp<uint32_t>(value, kCalibrationMin, kCalibrationMax);
  view_.SetCalibrationText(FormatCoefficient(static_cast<int>(value)));
  return true;
}

void SettingsController::Write() {
  DeviceOperation operation(context_);
  if (!CheckSettingsAccess(context_, Text("Сохранение настроек", "Save Settings"))) return;
  for (int list = 0; list < kSettingsListCount; ++list) {
    if (view_.Selection(static_cast<SettingsList>(list)) < 0) {
      context_.dialogs.ShowMessage(
          BoxKind::Error, Text("Некоторые настройки не определены\n\rСохранение невозможно",
                               "Some Settings undefined\n\rSaving unavailable"));
      return;
    }
  }
  // Writing the device's settings cannot be undone: No is the default answer.
  if (!context_.dialogs.Ask(QuestionKind::Warning, Text("Будут записаны настройки\n\rПродолжить?",
                                                        "Save Settings\n\rContinue?"))) {
    return;
  }
  if (!WriteSettings()) {
    context_.dialogs.ShowMessage(BoxKind::Error,
                                 Text("Ошибка сохранения настроек", "Error saving Settings"));
    return;
  }
  if (!context_.dialogs.Ask(QuestionKind::Warning,
                            Text("Настройки успешно сохранены\n\rРекомендуется перезагрузить "
                                 "прибор\n\rСделать это сейчас?",
                                 "Settings successfully saved\n\rIt is reccomended Restart "
                                 "Device\n\rDo it Now?"))) {
    return;
  }
  const int result = RestartDevice();
  if (result != 0 && result != kRestartOtherDevice) {
    context_.dialogs.ShowMessage(BoxKind::Error,
                                 Text("Ошибка перезагрузки прибора", "Error restarting Device"));
  }
}

int SettingsController::RestartDevice() {
  const std::optional<DeviceIdentity> before = IdentityOf(context_.device);
  const int result = ResetToMain(context_.Link());
  if (result == kRestartOtherDevice && before) {
    context_.dialogs.ShowMessage(
        BoxKind::Error, OtherDeviceText(context_.language, *before, IdentityOf(context_.device)));
  }
  return result;
}

bool SettingsController::WriteSettings() {
  auto list = [&](uint16_t number, SettingsList which) {
    return SetParameter(context_, number, static_cast<uint32_t>(view_.Selection(which)));
  };
  auto box = [&](uint16_t number, SettingsBox which) {
    return SetParameter(context_, number, view_.Checked(which) ? 1 : 0);
  };
  return list(param::kLanguage, SettingsList::Language) &&
         list(param::kUnits, SettingsList::Units) &&
         list(param::kBackgroundLevel, SettingsList::BackgroundLevel) &&
         list(param::kDoseLevel, SettingsList::DoseLevel) &&
         SetParameter(context_, param::kSoundOff, view_.Checked(SettingsBox::Sound) ? 0 : 1) &&
         box(param::kButtonClick, SettingsBox::ButtonClick) &&
         box(param::kSensorClick, SettingsBox::SensorClick) &&
         box(param::kThresholdSound, SettingsBox::ThresholdSound) &&
         list(param::kBrightness, SettingsList::Brightness) &&
         list(param::kScreenTimeOff, SettingsList::ScreenTimeOff) &&
         list(param::kPowerTimeOff, SettingsList::PowerTimeOff) &&
         list(param::kHistoryMode, SettingsList::HistoryMode) &&
         box(param::kAlarmOn, SettingsBox::Alarm) &&
         list(param::kAlarmHour, SettingsList::AlarmHour) &&
         list(param::kAlarmMinute, SettingsList::AlarmMinute);
}

void SettingsController::Default() {
  view_.Select(SettingsList::Units, 0);
  view_.FillThresholdLists(0);
  view_.Select(SettingsList::BackgroundLevel, 8);  // 1,2 uSv/h
  view_.Select(SettingsList::DoseLevel, 14);       // 100 Sv
  view_.Select(SettingsList::Brightness, 1);       // brightness 2
  view_.Select(SettingsList::ScreenTimeOff, 3);    // 3 minutes
  view_.Select(SettingsList::PowerTimeOff, 10);    // 10 minutes
  view_.Select(SettingsList::HistoryMode, 1);      // on change
  for (SettingsBox box : {SettingsBox::Sound, SettingsBox::ButtonClick, SettingsBox::SensorClick,
                          SettingsBox::ThresholdSound})
    view_.SetChecked(box, true);
  view_.SetChecked(SettingsBox::Alarm, false);
  view_.Select(SettingsList::AlarmHour, 0);
  view_.Select(SettingsList::AlarmMinute, 0);
  view_.SetCalibrationText(kFactoryCalibrationText);
}

void SettingsController::Restart() {
  if (!RequireConnectedDevice(context_)) return;
  view_.SetRestartEnabled(false);
  {
    DeviceOperation operation(context_);
    RestartDevice();  // only another device coming back is worth a box; the log tells the rest
  }
  view_.SetRestartEnabled(true);
  context_.connection.LinkWatch = true;
}

void SettingsController::UnitsChanged(int unit) {
  view_.FillThresholdLists(unit);
}

int64_t ClockDrift(const TimeRecord& device, const LocalDateTime& computer) {
  // Both in local time: device seconds count from 1 January 2000, 10957 days after 1970.
  const int64_t computerSeconds =
      (DaysFromCivil(computer.year, computer.month, computer.day) - DaysFromCivil(2000, 1, 1)) *
          86400 +
      computer.hour * 3600 + computer.minute * 60 + computer.second;
  return static_cast<int64_t>(SecondsFromTimeRecord(device)) - computerSeconds;
}

std::string SignedSeconds(int64_t seconds, const Language& language) {
  return (seconds > 0 ? "+" : "") + std::to_string(seconds) + language.Text(" с", " s");
}

std::string ClockDriftText(int64_t drift, const LocalDateTime& computer, const Language& language) {
  const LocalDateTime device = ShiftedBy(computer, drift);
  const std::string magnitude = std::to_string(drift < 0 ? -drift : drift);
  std::string verdict;
  if (drift == 0) {
    verdict = language.Text("Часы прибора идут верно", "The device clock is right");
  } else if (drift < 0) {
    verdict = language.Text("Прибор отстаёт на ", "The device is ") + magnitude +
              language.Text(" с", " s behind");
  } else {
    verdict = language.Text("Прибор спешит на ", "The device is ") + magnitude +
              language.Text(" с", " s ahead");
  }
  return language.Text("Прибор:    ", "Device:   ") + FormatDateTime(device) + "\n" +
         language.Text("Компьютер: ", "Computer: ") + FormatDateTime(computer) + "\n" + verdict;
}

std::string InvalidClockText(const TimeRecord& device, const LocalDateTime& computer,
                             const Language& language) {
  return language.Text("Прибор:    ", "Device:   ") + FormatDeviceTime(device) + "\n" +
         language.Text("Компьютер: ", "Computer: ") + FormatDateTime(computer) + "\n" +
         language.Text("Часы прибора показывают неверное время",
                       "The device clock holds an invalid time");
}

std::optional<int64_t> SettingsController::ReadClockDrift() {
  TimeRecord time;
  const LocalDateTime before = context_.clock.Now();
  const uint32_t tick = context_.clock.TickMs();
  if (!context_.commands.ReadTime(time, false)) {
    ForgetClockDrift();
    return std::nullopt;
  }
  drift_.reset();
  invalidTime_.reset();
  driftDevice_ = FormatUid(context_.device.Uid);
  readComputer_ = before;
  readTick_ = tick;
  // The first second of 2000 is where a clock that lost its power starts again.
  if (!DeviceTimeValid(time) || SecondsFromTimeRecord(time) == 0) {
    invalidTime_ = time;
    context_.log.LogLine("Device clock invalid: " + FormatDeviceTime(time));
  } else {
    drift_ = ClockDrift(time, before);
  }
  ShowClockDrift();
  return drift_;
}

bool SettingsController::ComputerClockMoved() {
  const LocalDateTime now = context_.clock.Now();
  if (now.utcOffsetMinutes != readComputer_.utcOffsetMinutes) return true;
  const int64_t byClock = SecondsBetween(readComputer_, now);
  const int64_t byTick = TicksSince(readTick_, context_.clock.TickMs()) / 1000;
  return byClock - byTick > kClockJumpS || byTick - byClock > kClockJumpS;
}

void SettingsController::ClockTick() {
  const ConnectionManager& m = context_.connection;
  if (!m.Connected || !m.Identified || context_.device.Soft.MainVersion == 0) {
    if (drift_ || invalidTime_) ForgetClockDrift();
    driftTried_ = false;
    return;
  }
  const uint32_t now = context_.clock.TickMs();
  if ((drift_ || invalidTime_) && driftDevice_ == FormatUid(context_.device.Uid)) {
    if (!ComputerClockMoved()) {
      ShowClockDrift();
      return;
    }
  } else if (driftTried_ && TicksSince(driftTriedTick_, now) < kDriftRetryMs) {
    return;
  }
  driftTried_ = true;
  driftTriedTick_ = now;
  ReadClockDrift();
}

void SettingsController::ShowClockDrift() {
  const LocalDateTime now = context_.clock.Now();
  if (drift_) {
    view_.ShowClockDrift(ClockDriftText(*drift_, now, context_.language));
  } else if (invalidTime_) {
    view_.ShowClockDrift(InvalidClockText(*invalidTime_, now, context_.language));
  } else {
    view_.ShowClockDrift({});
  }
}

void SettingsController::ForgetClockDrift() {
  drift_.reset();
  invalidTime_.reset();
  view_.ShowClockDrift({});
}

void SettingsController::WriteTime() {
  if (!RequireConnectedDevice(context_)) return;
  DeviceOperation operation(context_);
  if (!context_.dialogs.Ask(QuestionKind::Confirmation, Text("Записать время\n\rв прибор из ПК?",
                                                             "Write Time\n\rto Device from PC?"))) {
    return;
  }
  // How far the clock is off before it is set: the correction the box and the log report.
  const std::optional<int64_t> before = ReadClockDrift();
  const std::optional<TimeRecord> invalid = invalidTime_;
  if (!context_.commands.WriteTime(TimeRecordFromClock(context_.clock.Now()))) {
    context_.dialogs.ShowMessage(BoxKind::Error,
                                 Text("Ошибка установки времени", "Error writing Time"));
    return;
  }
  TimeRecord time;
  if (!context_.commands.ReadTime(time)) time = NoTimeRecord();
  const std::string text = FormatDeviceTime(time);
  view_.ShowTime(text);
  std::string correction;
  if (before) {
    correction = Text("Время прибора исправлено на ", "Device clock corrected by ") +
                 SignedSeconds(-*before, context_.language);
  } else if (invalid) {
    correction = Text("Время прибора исправлено с неверного ", "Device clock corrected from ") +
                 FormatDeviceTime(*invalid) + Text("", ", an invalid time");
  }
  if (!correction.empty()) context_.log.LogLine(correction);
  if (DeviceTimeValid(time)) {
    invalidTime_.reset();
    drift_ = ClockDrift(time, context_.clock.Now());
    readComputer_ = context_.clock.Now();
    readTick_ = context_.clock.TickMs();
    ShowClockDrift();
  }
  context_.dialogs.ShowMessage(BoxKind::Information,
                               Text("Время установлено\n\r", "Time written to Device\n\r") + text +
                                   (correction.empty() ? "" : "\n\r" + correction));
}

void SettingsController::SaveCalibration() {
  if (!RequireConnectedDevice(context_)) return;
  DeviceOperation operation(context_);
  if (!context_.dialogs.Ask(QuestionKind::Confirmation,
                            Text("Будет изменен калибровочный коэффициент\n\rПродолжить?",
                                 "Calibration Coefficient will changed\n\rContinue?"))) {
    return;
  }
  const std::string typed = view_.CalibrationText();
  const int64_t value = ParseCoefficient(typed);
  if (value < 0) {
    context_.dialogs.ShowMessage(
        BoxKind::Error, Text("Ошибка формата коэффициента [", "K Format Error [") + typed + "]");
    return;
  }
  if (value < kCalibrationMin || value > kCalibrationMax) {
    context_.dialogs.ShowMessage(BoxKind::Error, Text("Ошибка: K должен быть от 0,1 до 9,99 [",
                                                      "Error: K is to be from 0,1 to 9,99 [") +
                                                     typed + "]");
    return;
  }
  view_.SetCalibrationText(FormatCoefficient(static_cast<int>(value)));
  if (!CheckSettingsAccess(context_, Text("Сохранение калибровки", "Save Calibration"))) return;
  if (SetParameter(context_, param::kCalibration, static_cast<uint32_t>(value))) {
    context_.dialogs.ShowMessage(BoxKind::Information,
                                 Text("Калибровка успешно сохранена\n\rРекомендуется "
                                      "перезагрузить прибор",
                                      "Calibration successfully saved\n\rIt is reccomended "
                                      "Restart Device"));
  } else {
    context_.dialogs.ShowMessage(BoxKind::Error,
                                 Text("Ошибка сохранения калибровки", "Error saving Calibration"));
  }
}

}  // namespace dravion
