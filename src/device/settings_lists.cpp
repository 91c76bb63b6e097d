#include "device/settings_lists.h"

#include "device/value_tables.h"
#include "services/wording.h"

namespace dravion {
namespace {

std::vector<std::string> Numbers(int first, int last) {
  std::vector<std::string> items;
  for (int i = first; i <= last; ++i)
    items.push_back(std::to_string(i));
  return items;
}

std::vector<std::string> TimeOff(const Language& language) {
  std::vector<std::string> items{language.Text("Всегда ВКЛ", "Always ON")};
  for (int i = 1; i <= 60; ++i)
    items.push_back(CountOf(i, language, "минута", "минуты", "минут", "minute", "minutes"));
  return items;
}

}  // namespace

std::vector<std::string> SettingsListItems(SettingsList list, int unit, const Language& l) {
  switch (list) {
    case SettingsList::Language:
      return {l.Text("Русский", "Russian"), l.Text("Английский", "English"),
              l.Text("Немецкий", "Deutsch"), l.Text("Польский", "Polish")};
    case SettingsList::Units:
      return {l.Text("Зиверт", "Sievert"), l.Text("Рентген", "Roentgen"), "CPM"};
    case SettingsList::BackgroundLevel:
      return BackgroundThresholdItems(unit, l);
    case SettingsList::DoseLevel:
      return DoseThresholdItems(unit, l);
    case SettingsList::Brightness:
      return Numbers(1, 4);
    case SettingsList::ScreenTimeOff:
    case SettingsList::PowerTimeOff:
      return TimeOff(l);
    case SettingsList::HistoryMode:
      return {l.Text("По времени", "On Time"), l.Text("По изменению", "On Change")};
    case SettingsList::AlarmHour:
      return Numbers(0, 23);
    case SettingsList::AlarmMinute:
      return Numbers(0, 59);
  }
  return {};
}

}  // namespace dravion
