#include "cli/cli_settings.h"

#include <ostream>

#include "cli/cli_json.h"
#include "cli/cli_pages.h"
#include "cli/cli_session.h"
#include "device/device_time.h"
#include "device/settings_lists.h"
#include "device/value_tables.h"

namespace dravion::cli {
namespace {

using Kind = SettingName::Kind;

// Lists and boxes unused by a setting of the other kind carry these.
constexpr SettingsList kNoList = SettingsList::Language;
constexpr SettingsBox kNoBox = SettingsBox::Sound;

int ListSize(SettingsList list) {
  static const Language english;
  return static_cast<int>(SettingsListItems(list, kUnitSievert, english).size());
}

bool ParseValue(const std::string& text, int& value) {
  if (text.empty() || text.size() > 9) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

}  // namespace

const std::vector<SettingName>& SettingNames() {
  static const std::vector<SettingName> names = {
      {"language", Kind::List, SettingsList::Language, kNoBox},
      {"units", Kind::List, SettingsList::Units, kNoBox},
      {"background-threshold", Kind::List, SettingsList::BackgroundLevel, kNoBox},
      {"dose-threshold", Kind::List, SettingsList::DoseLevel, kNoBox},
      {"sound", Kind::Box, kNoList, SettingsBox::Sound},
      {"button-click", Kind::Box, kNoList, SettingsBox::ButtonClick},
      {"sensor-click", Kind::Box, kNoList, SettingsBox::SensorClick},
      {"threshold-sound", Kind::Box, kNoList, SettingsBox::ThresholdSound},
      {"brightness", Kind::List, SettingsList::Brightness, kNoBox},
      {"display-off", Kind::List, SettingsList::ScreenTimeOff, kNoBox},
      {"device-off", Kind::List, SettingsList::PowerTimeOff, kNoBox},
      {"history-method", Kind::List, SettingsList::HistoryMode, kNoBox},
      {"alarm", Kind::Box, kNoList, SettingsBox::Alarm},
      {"alarm-hour", Kind::List, SettingsList::AlarmHour, kNoBox},
      {"alarm-minute", Kind::List, SettingsList::AlarmMinute, kNoBox},
      {"calibration", Kind::Calibration, kNoList, kNoBox},
  };
  return names;
}

bool ParseSettingChanges(const std::vector<std::string>& words, std::vector<SettingChange>& changes,
                         std::string& error) {
  changes.clear();
  for (const std::string& word : words) {
    const size_t equals = word.find('=');
    const std::string name = word.substr(0, equals);
    const SettingName* setting = nullptr;
    for (const SettingName& s : SettingNames()) {
      if (name == s.name) setting = &s;
    }
    if (setting == nullptr) {
      error = "unknown setting: " + name;
      return false;
    }
    int value = 0;
    if (equals == std::string::npos || !ParseValue(word.substr(equals + 1), value)) {
      error = "setting " + name + " needs =VALUE, a number";
      return false;
    }
    int low = 0, high = 1;
    if (setting->kind == Kind::List) high = ListSize(setting->list) - 1;
    if (setting->kind == Kind::Calibration) {
      low = kCalibrationMin;
      high = kCalibrationMax;
    }
    if (value < low || value > high) {
      error = "setting " + name + " takes " + std::to_string(low) + " to " + std::to_string(high);
      return false;
    }
    changes.push_back({setting, value});
  }
  return true;
}

int TextSettingsView::Selection(SettingsList list) const {
  const int position = positions_[static_cast<int>(list)];
  return position >= 0 && position < ListSize(list) ? position : -1;
}

void TextSettingsView::Select(SettingsList list, int position) {
  positions_[static_cast<int>(list)] = position < ListSize(list) ? position : -1;
}

void TextSettingsView::FillThresholdLists(int unit) {
  if (unit >= 0) unit_ = unit > kUnitCounts ? kUnitCounts : unit;
}

int TextSettingsView::StoredValue(const SettingName& setting) const {
  switch (setting.kind) {
    case Kind::List:
      return Selection(setting.list);
    case Kind::Box:
      // The device stores the sound as "off".
      return setting.box == SettingsBox::Sound ? !Checked(setting.box) : Checked(setting.box);
    case Kind::Calibration:
      return static_cast<int>(ParseCoefficient(calibration));
  }
  return -1;
}

std::string TextSettingsView::ShownText(const SettingName& setting,
                                        const Language& language) const {
  switch (setting.kind) {
    case Kind::List: {
      const int position = Selection(setting.list);
      if (position < 0) return {};
      return SettingsListItems(setting.list, unit_, language)[static_cast<size_t>(position)];
    }
    case Kind::Box:
      return Checked(setting.box) ? language.Text("вкл", "on") : language.Text("выкл", "off");
    case Kind::Calibration:
      return calibration;
  }
  return {};
}

void TextSettingsView::Apply(const SettingChange& change) {
  const SettingName& setting = *change.setting;
  switch (setting.kind) {
    case Kind::List:
      Select(setting.list, change.value);
      break;
    case Kind::Box:
      SetChecked(setting.box,
                 setting.box == SettingsBox::Sound ? change.value == 0 : change.value != 0);
      break;
    case Kind::Calibration:
      calibration = FormatCoefficient(change.value);
      break;
  }
}

int SettingsGet(CliSession& s) {
  TextSettingsView view;
  SettingsController controller(s.context, view);
  controller.AlarmSettingsRead = [&s](uint32_t units, uint32_t level) {
    RememberAlarmSettings(s, units, level);
  };
  controller.Read();
  if (Outcome(s) != kExitDone) return kExitFailed;
  if (s.options.json) {
    Json settings;
    for (const SettingName& setting : SettingNames()) {
      settings[setting.name] = {{"value", view.StoredValue(setting)},
                                {"text", view.ShownText(setting, s.language)}};
    }
    settings["calibration"]["coefficient"] = JsonNumber(view.calibration);
    PrintJson(s.io, settings);
    return kExitDone;
  }
  for (const SettingName& setting : SettingNames()) {
    s.io.out << setting.name << '=' << view.StoredValue(setting) << "  "
             << view.ShownText(setting, s.language) << '\n';
  }
  return kExitDone;
}

int SettingsSet(CliSession& s) {
  std::vector<SettingChange> changes;
  std::string error;
  const std::vector<std::string> words(s.options.command.begin() + 2, s.options.command.end());
  if (!ParseSettingChanges(words, changes, error)) return kExitUsage;  // checked before already
  TextSettingsView view;
  SettingsController controller(s.context, view);
  controller.AlarmSettingsRead = [&s](uint32_t units, uint32_t level) {
    RememberAlarmSettings(s, units, level);
  };
  controller.Read();
  if (Outcome(s) != kExitDone) return kExitFailed;
  bool settings = false;
  bool calibration = false;
  for (const SettingChange& change : changes) {
    view.Apply(change);
    if (change.setting->kind == Kind::Calibration) {
      calibration = true;
    } else {
      settings = true;
      if (change.setting->kind == Kind::List && change.setting->list == SettingsList::Units)
        controller.UnitsChanged(change.value);
    }
  }
  if (settings) controller.Write();
  if (calibration && Outcome(s) == kExitDone) controller.SaveCalibration();
  return Outcome(s);
}

int SettingsDefault(CliSession& s) {
  TextSettingsView view;
  SettingsController controller(s.context, view);
  // The device language is not among the defaults: it keeps the value read.
  controller.Read();
  if (Outcome(s) != kExitDone) return kExitFailed;
  controller.Default();
  controller.Write();
  return Outcome(s);
}

// The device clock's drift from the computer's, or nothing after saying that it could not be read
// or holds an invalid time (controller.DeviceTimeInvalid tells which).
static std::optional<int64_t> ReadDrift(CliSession& s, SettingsController& controller) {
  std::optional<int64_t> drift = controller.ReadClockDrift();
  if (controller.DeviceTimeInvalid()) {
    s.io.err << s.language.Text("Часы прибора показывают неверное время: ",
                                "The device clock holds an invalid time: ")
             << FormatDeviceTime(*controller.InvalidDeviceTime()) << '\n';
  } else if (!drift) {
    s.io.err << s.language.Text("Не удалось прочитать часы прибора",
                                "Could not read the device clock")
             << '\n';
  }
  return drift;
}

int TimeShow(CliSession& s) {
  TextSettingsView view;
  SettingsController controller(s.context, view);
  const std::optional<int64_t> drift = ReadDrift(s, controller);
  const LocalDateTime computer = s.clock.Now();
  if (!drift && !controller.DeviceTimeInvalid()) return kExitFailed;
  if (s.options.json) {
    Json clock;
    if (drift) {
      std::string device = FormatIsoDateTime(ShiftedBy(computer, *drift));
      device.resize(19);  // the device keeps local time without an offset
      clock["device"] = device;
    } else {
      clock["device"] = nullptr;
    }
    clock["computer"] = FormatIsoDateTime(computer);
    clock["drift"] = drift ? Json(*drift) : Json(nullptr);
    clock["valid"] = drift.has_value();
    PrintJson(s.io, clock);
  } else if (drift) {
    s.io.out << ClockDriftText(*drift, computer, s.language) << '\n';
  } else {
    s.io.out << InvalidClockText(*controller.InvalidDeviceTime(), computer, s.language) << '\n';
  }
  // An invalid time is a clock to be written, not a drift to rely on.
  return drift ? kExitDone : kExitFailed;
}

int TimeSync(CliSession& s) {
  TextSettingsView view;
  SettingsController controller(s.context, view);
  if (s.options.ifDrift >= 0) {
    const std::optional<int64_t> drift = ReadDrift(s, controller);
    if (!drift && !controller.DeviceTimeInvalid()) return kExitFailed;
    if (drift && (*drift < 0 ? -*drift : *drift) <= s.options.ifDrift) {
      s.io.out << s.language.Text("Расхождение ", "Drift ") << SignedSeconds(*drift, s.language)
               << s.language.Text(", не больше ", ", within ") << s.options.ifDrift
               << s.language.Text(" с: время не записано", " s: the time was not written") << '\n';
      return kExitDone;
    }
  }
  controller.WriteTime();
  if (!view.time.empty()) s.io.out << view.time << '\n';
  return Outcome(s);
}

int CalibrationSet(CliSession& s) {
  TextSettingsView view;
  SettingsController controller(s.context, view);
  view.calibration = s.options.command[2];
  controller.SaveCalibration();
  return Outcome(s);
}

}  // namespace dravion::cli
