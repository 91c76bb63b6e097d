#include "ui/captions.h"
#include "device/settings_lists.h"
#include "device/value_tables.h"
#include "lifecycle/app_lifecycle.h"
#include "ui/qt_services.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QStackedWidget>
#include <QTabWidget>

namespace dravion::ui {

QString WindowTitle(const Language& language) {
  return Q(language.Text("Tarvo Менеджер устройств", "Tarvo Device Manager")) +
         QStringLiteral(" 2.5.") + QString::fromStdString(kAppVersion) +
         QStringLiteral(" (09.11.2022)");
}

const std::vector<CaptionPair>& CaptionsBeforeLists() {
  static const std::vector<CaptionPair> table = {
      // "&" marks the letter that opens a menu or picks an item with Alt (the mnemonic).
      {"Action_Menu_File", "&Файл", "&File"},
      {"Action_Menu_Connection", "&Соединение", "&Connection"},
      {"Action_Menu_Help", "&Помощь", "&Help"},
      {"Action_Exit", "&Выход", "E&xit"},
      {"Action_Log_Visible", "Скрыть//Показать ЛОГ", "Hide//Show Report"},
      {"Action_LOG_Clear", "Очистить лог", "Clear Report"},
      {"Action_Connection_Auto", "&Автоматическое", "&Auto"},
      {"Action_Connection_Manual", "&Вручную", "&Manual"},
      {"Action_Connection_Manual_Number", "&Номер порта :", "Port &Number :"},
      {"Action_Connection_Manual_List", "Вы&брать из списка :", "Choose from the &List :"},
      {"Action_Help_About", "&О программе", "&About Program"},
      {"Action_History_Sync", "Загружать новую &историю при подключении прибора",
       "Download new &history when the device is connected"},
      {"BitBtn_ReNewDeviceInfo", "Обновление", "Upgrade"},
      {"N_Nastroiki", "&Настройки", "&Settings"},
      {"TabSheet_Measuring", "Измерение", "Measurement"},
      {"TabSheet_DevHistory", "История", "History"},
      {"TabSheet_DevControl", "Настройки", "Settings"},
      {"TabSheet_DevInfo", "О приборе", "About Device"},
      {"TabSheet_Log", "Лог", "Log"},
      {"Label_Setup_Language", "Язык интерфейса прибора", "Language of Device"},
      {"Label_Setup_Units", "Единицы измерения", "Units of Measurement"},
      {"Label_Setup_Fon_Level", "Порог радиационного фона", "Threshold of Background"},
      {"Label_Setup_Dose_Level", "Порог накопленной дозы", "Threshold of Radiation Dose"},
      {"GroupBox_Setup_Sound", "Настройка звука", "Sound Settings"},
      {"CheckBox_Setup_Sound_EN", "Звук включен", "Sound ON"},
      {"CheckBox_Setup_Sound_BTN", "Щелчки кнопок", "Button Click"},
      {"CheckBox_Setup_Sound_Sensor", "Щелчки датчика", "Sensor"},
      {"CheckBox_Setup_Sound_Threshold", "Превышение порога фона", "Background Threshold"},
      {"Label_Setup_Screen_Bright", "Яркость экрана", "Display Brightness"},
      {"Label_Setup_Screen_TOff", "Время до отключения экрана", "Time to Display OFF"},
      {"Label_Setup_Power_TOff", "Время до выключения", "Time to Device OFF"},
      {"Label_Setup_History_M", "Метод сохранения истории", "History Saving Method"},
      {"GroupBox_Setup_Time", "Время в приборе", "Time in Device"},
      {"GroupBox_Setup_Alarm", "Установка будильника", "Alarm Settings"},
      {"CheckBox_Setup_Alarm_En", "Будильник включен", "Alarm ON"},
      {"Label_Setup_Alarm_H", "Часов", "Hour"},
      {"Label_Setup_Alarm_M", "Минут", "Minutes"},
  };
  return table;
}

const std::vector<CaptionPair>& CaptionsAfterLists() {
  static const std::vector<CaptionPair> table = {
      {"BitBtn_Setup_Read", "Прочитать", "Read"},
      {"BitBtn_Setup_Write", "Сохранить", "Save"},
      {"BitBtn_Setup_Default", "По умолчанию", "Default"},
      {"BitBtn_Setup_Time", "Записать время", "Write Time"},
      {"BitBtn_Setup_Reset", "Перезапустить", "Restart"},
      {"Group_Setup_Calibr", "Калибровочный коэффициент", "Calibration Coefficient"},
      {"BitBtn_Setup_Calibr_Save", "Записать калибровку", "Save Calibration"},
      {"GroupBox_Measure_Fon", "Радиационный фон", "Radiation Background"},
      {"GroupBox_Measure_Dose", "Накопленная доза", "Accumulated Dose"},
      {"CheckBox_Measure_AutoRead", "Авто", "AutoRead"},
      {"BitBtn_Measure_Read", "Прочитать", "Read"},
      {"BitBtn_Measure_Dose_Reset", "Сброс дозы", "Dose Reset"},
      // BitBtn_HIS_Read is set by the window: it depends on a running download.
      {"BitBtn_HIS_Delete", "Удалить историю", "Delete History"},
      {"BitBtn_HIS_Back", "Назад", "Back"},
      {"BitBtn_HIS_Up", "Вверх", "Up"},
      {"BitBtn_HIS_Vpered", "Вперед", "Forward"},
      {"BitBtn_HIS_To_Last", "В конец", "Last"},
      {"CheckBox_HIS_Show_MaxVal", "Показывать всплески", "Show maximum"},
      {"BitBtn_HIS_Save_CSV", "Сохранить CSV", "Save CSV"},
  };
  return table;
}

namespace {

// A settings list's items as the core gives them.
template <SettingsList list>
QStringList Items(const Language& language) {
  QStringList items;
  for (const std::string& item : SettingsListItems(list, kUnitSievert, language))
    items << Q(item);
  return items;
}

}  // namespace

const std::vector<ListItems>& SettingsListsBeforeThresholds() {
  static const std::vector<ListItems> lists = {
      {"ComboBox_Setup_Language", &Items<SettingsList::Language>},
      {"ComboBox_Setup_Units", &Items<SettingsList::Units>},
  };
  return lists;
}

const std::vector<ListItems>& SettingsListsAfterThresholds() {
  static const std::vector<ListItems> lists = {
      {"ComboBox_Setup_Screen_Bright", &Items<SettingsList::Brightness>},
      {"ComboBox_Setup_Screen_TOff", &Items<SettingsList::ScreenTimeOff>},
      {"ComboBox_Setup_Power_TOff", &Items<SettingsList::PowerTimeOff>},
      {"ComboBox_Setup_History_M", &Items<SettingsList::HistoryMode>},
      {"ComboBox_Setup_Alarm_H", &Items<SettingsList::AlarmHour>},
      {"ComboBox_Setup_Alarm_M", &Items<SettingsList::AlarmMinute>},
  };
  return lists;
}

namespace {

// The tab widget a page belongs to (a page's parent is the tab widget's stack).
QTabWidget* TabsOf(QWidget* page) {
  if (!page || !page->parentWidget()) return nullptr;
  if (!qobject_cast<QStackedWidget*>(page->parentWidget())) return nullptr;
  return qobject_cast<QTabWidget*>(page->parentWidget()->parentWidget());
}

}  // namespace

bool SetCaption(QWidget* root, const QString& object, const QString& text) {
  if (object == QLatin1String("Form1") || root->objectName() == object) {
    root->setWindowTitle(text);
    return true;
  }
  QObject* target = root->findChild<QObject*>(object);
  if (!target) return false;
  if (auto* action = qobject_cast<QAction*>(target)) {
    action->setText(text);
  } else if (auto* menu = qobject_cast<QMenu*>(target)) {
    menu->setTitle(text);
  } else if (auto* group = qobject_cast<QGroupBox*>(target)) {
    group->setTitle(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(target)) {
    button->setText(text);
  } else if (auto* label = qobject_cast<QLabel*>(target)) {
    label->setText(text);
  } else if (auto* page = qobject_cast<QWidget*>(target); QTabWidget* tabs = TabsOf(page)) {
    tabs->setTabText(tabs->indexOf(page), text);
  } else {
    return false;
  }
  return true;
}

QString WithoutMnemonic(const QString& caption) {
  QString text;
  text.reserve(caption.size());
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] == QLatin1Char('&') && i + 1 < caption.size()) ++i;  // "&&" is a plain "&"
    text += caption[i];
  }
  return text;
}

QString CaptionOf(QWidget* root, const QString& object) {
  if (object == QLatin1String("Form1") || root->objectName() == object) return root->windowTitle();
  QObject* target = root->findChild<QObject*>(object);
  if (auto* action = qobject_cast<QAction*>(target)) return WithoutMnemonic(action->text());
  if (auto* menu = qobject_cast<QMenu*>(target)) return WithoutMnemonic(menu->title());
  if (auto* group = qobject_cast<QGroupBox*>(target)) return group->title();
  if (auto* button = qobject_cast<QAbstractButton*>(target)) return button->text();
  if (auto* label = qobject_cast<QLabel*>(target)) return label->text();
  if (auto* page = qobject_cast<QWidget*>(target); QTabWidget* tabs = TabsOf(page))
    return tabs->tabText(tabs->indexOf(page));
  return QString();
}

}  // namespace dravion::ui
