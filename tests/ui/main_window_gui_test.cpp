#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>

#include <QTemporaryDir>
#include <QTest>

#include "lifecycle/app_lifecycle.h"
#include "log/report_upload.h"
#include "log/session_log.h"
#include "ui/captions.h"
#include "ui/gui_support.h"
#include "ui/history_chart.h"
#include "ui/window_connection_view.h"

namespace dravion::test {
namespace {

using ui::CaptionOf;

struct Expected {
  const char* object;
  const char* english;
  const char* russian;
};

// What the user must read on each control, as the product defines it.
const Expected kCaptions[] = {
    {"Form1", "Tarvo Device Manager 2.5.1.9 (09.11.2022)",
     "Tarvo Менеджер устройств 2.5.1.9 (09.11.2022)"},
    {"Action_Menu_File", "File", "Файл"},
    {"Action_Menu_Connection", "Connection", "Соединение"},
    {"Action_Menu_Help", "Help", "Помощь"},
    {"Action_Exit", "Exit", "Выход"},
    {"Action_Log_Visible", "Hide//Show Report", "Скрыть//Показать ЛОГ"},
    {"Action_LOG_Clear", "Clear Report", "Очистить лог"},
    {"Action_Connection_Auto", "Auto", "Автоматическое"},
    {"Action_Connection_Manual", "Manual", "Вручную"},
    {"Action_Connection_Manual_Number", "Port Number :", "Номер порта :"},
    {"Action_Connection_Manual_List", "Choose from the List :", "Выбрать из списка :"},
    {"Action_Help_About", "About Program", "О программе"},
    {"BitBtn_ReNewDeviceInfo", "Upgrade", "Обновление"},
    {"N_Nastroiki", "Settings", "Настройки"},
    {"TabSheet_Measuring", "Measurement", "Измерение"},
    {"TabSheet_DevHistory", "History", "История"},
    {"TabSheet_DevControl", "Settings", "Настройки"},
    {"TabSheet_DevInfo", "About Device", "О приборе"},
    {"TabSheet_Log", "Log", "Лог"},
    {"Label_Setup_Language", "Language of Device", "Язык интерфейса прибора"},
    {"Label_Setup_Units", "Units of Measurement", "Единицы измерения"},
    {"Label_Setup_Fon_Level", "Threshold of Background", "Порог радиационного фона"},
    {"Label_Setup_Dose_Level", "Threshold of Radiation Dose", "Порог накопленной дозы"},
    {"GroupBox_Setup_Sound", "Sound Settings", "Настройка звука"},
    {"CheckBox_Setup_Sound_EN", "Sound ON", "Звук включен"},
    {"CheckBox_Setup_Sound_BTN", "Button Click", "Щелчки кнопок"},
    {"CheckBox_Setup_Sound_Sensor", "Sensor", "Щелчки датчика"},
    {"CheckBox_Setup_Sound_Threshold", "Background Threshold", "Превышение порога фона"},
    {"Label_Setup_Screen_Bright", "Display Brightness", "Яркость экрана"},
    {"Label_Setup_Screen_TOff", "Time to Display OFF", "Время до отключения экрана"},
    {"Label_Setup_Power_TOff", "Time to Device OFF", "Время до выключения"},
    {"Label_Setup_History_M", "History Saving Method", "Метод сохранения истории"},
    {"GroupBox_Setup_Time", "Time in Device", "Время в приборе"},
    {"GroupBox_Setup_Alarm", "Alarm Settings", "Установка будильника"},
    {"CheckBox_Setup_Alarm_En", "Alarm ON", "Будильник включен"},
    {"Label_Setup_Alarm_H", "Hour", "Часов"},
    {"Label_Setup_Alarm_M", "Minutes", "Минут"},
    {"BitBtn_Setup_Read", "Read", "Прочитать"},
    {"BitBtn_Setup_Write", "Save", "Сохранить"},
    {"BitBtn_Setup_Default", "Default", "По умолчанию"},
    {"BitBtn_Setup_Time", "Write Time", "Записать время"},
    {"BitBtn_Setup_Reset", "Restart", "Перезапустить"},
    {"Group_Setup_Calibr", "Calibration Coefficient", "Калибровочный коэффициент"},
    {"BitBtn_Setup_Calibr_Save", "Save Calibration", "Записать калибровку"},
    {"GroupBox_Measure_Fon", "Radiation Background", "Радиационный фон"},
    {"GroupBox_Measure_Dose", "Accumulated Dose", "Накопленная доза"},
    {"CheckBox_Measure_AutoRead", "AutoRead", "Авто"},
    {"BitBtn_Measure_Read", "Read", "Прочитать"},
    {"BitBtn_Measure_Dose_Reset", "Dose Reset", "Сброс дозы"},
    {"BitBtn_HIS_Read", "Read", "Прочитать"},
    {"BitBtn_HIS_Delete", "Delete History", "Удалить историю"},
    {"BitBtn_HIS_Back", "Back", "Назад"},
    {"BitBtn_HIS_Up", "Up", "Вверх"},
    {"BitBtn_HIS_Vpered", "Forward", "Вперед"},
    {"BitBtn_HIS_To_Last", "Last", "В конец"},
    {"CheckBox_HIS_Show_MaxVal", "Show maximum", "Показывать всплески"},
    {"BitBtn_HIS_Save_CSV", "Save CSV", "Сохранить CSV"},
};

QStringList Items(QComboBox* combo) {
  QStringList items;
  for (int i = 0; i < combo->count(); ++i)
    items << combo->itemText(i);
  return items;
}

QString U(const char* text) {
  return QString::fromUtf8(text);
}

// Every caption a control shows, with the items of every list.
std::map<std::string, std::string> Snapshot(Window& w) {
  std::map<std::string, std::string> all;
  for (const Expected& e : kCaptions)
    all[e.object] = CaptionOf(&w.form, e.object).toStdString();
  for (QComboBox* combo : w.form.findChildren<QComboBox*>())
    all[combo->objectName().toStdString()] =
        (Items(combo).join('|') + "#" + QString::number(combo->currentIndex())).toStdString();
  all["Action_Language"] = w.form.ActionByName("Action_Language")->text().toStdString();
  return all;
}

class Captions : public ::testing::TestWithParam<Lang> {};

TEST_P(Captions, EveryControlReadsItsTextAfterASwitch) {
  Window w;
  const Lang lang = GetParam();
  w.options.ints["LANGUAGE"] = lang == Lang::English ? 2 : 1;
  w.LoadLanguage();
  for (const Expected& e : kCaptions)
    EXPECT_EQ(CaptionOf(&w.form, e.object).toStdString(),
              lang == Lang::English ? e.english : e.russian)
        << e.object;
  const bool en = lang == Lang::English;
  EXPECT_EQ(w.form.ActionByName("Action_Language")->text(), en ? "ENG" : "RUS");
  EXPECT_EQ(w.form.ActionByName("Action_Language")->property("imageIndex").toInt(), en ? 11 : 10);

  EXPECT_EQ(Items(w.Combo("ComboBox_Setup_Language")),
            en ? QStringList({"Russian", "English", "Deutsch", "Polish"})
               : QStringList({U("Русский"), U("Английский"), U("Немецкий"), U("Польский")}));
  EXPECT_EQ(Items(w.Combo("ComboBox_Setup_Units")),
            en ? QStringList({"Sievert", "Roentgen", "CPM"})
               : QStringList({U("Зиверт"), U("Рентген"), "CPM"}));
  EXPECT_EQ(Items(w.Combo("ComboBox_Setup_Screen_Bright")), QStringList({"1", "2", "3", "4"}));
  for (const char* name : {"ComboBox_Setup_Screen_TOff", "ComboBox_Setup_Power_TOff"}) {
    const QStringList items = Items(w.Combo(name));
    ASSERT_EQ(items.size(), 61);
    EXPECT_EQ(items[0], en ? "Always ON" : U("Всегда ВКЛ"));
    EXPECT_EQ(items[1], en ? "1 minute" : U("1 минута"));
    EXPECT_EQ(items[3], en ? "3 minutes" : U("3 минуты"));
    EXPECT_EQ(items[11], en ? "11 minutes" : U("11 минут"));
    EXPECT_EQ(items[21], en ? "21 minutes" : U("21 минута"));
    EXPECT_EQ(items[60], en ? "60 minutes" : U("60 минут"));
  }
  EXPECT_EQ(Items(w.Combo("ComboBox_Setup_History_M")),
            en ? QStringList({"On Time", "On Change"})
               : QStringList({U("По времени"), U("По изменению")}));
  EXPECT_EQ(Items(w.Combo("ComboBox_Setup_Alarm_H")).size(), 24);
  EXPECT_EQ(Items(w.Combo("ComboBox_Setup_Alarm_H")).last(), "23");
  EXPECT_EQ(Items(w.Combo("ComboBox_Setup_Alarm_M")).size(), 60);
  EXPECT_EQ(Items(w.Combo("ComboBox_Setup_Alarm_M")).first(), "0");

  // The idle update then names the show/hide action after the log tab's state.
  QApplication::processEvents();
  EXPECT_EQ(CaptionOf(&w.form, "Action_Log_Visible"), en ? "Show Report" : U("Показать лог"));
  // Texts that exist only in Russian.
  EXPECT_EQ(w.form.ActionByName("Action_Language")->toolTip(), U("Выбор языка"));
  EXPECT_EQ(w.form.findChild<QAction*>("N_Log_Save")->text(), U("Сохранить"));
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, Captions, ::testing::Values(Lang::Russian, Lang::English),
                         [](const auto& info) {
                           return info.param == Lang::English ? "English" : "Russian";
                         });

TEST(LanguageSwitch, TwiceRestoresEveryCaptionAndTheOptionAndKeepsChoices) {
  Window w;
  w.LoadLanguage();
  EXPECT_EQ(w.language.Current(), Lang::Russian);  // no option stored: Russian
  w.Combo("ComboBox_Setup_Screen_TOff")->setCurrentIndex(45);
  w.Combo("ComboBox_Setup_Units")->setCurrentIndex(1);
  w.form.FillBackgroundThresholds(1);
  w.form.FillDoseThresholds(1);
  w.Combo("ComboBox_Setup_Fon_Level")->setCurrentIndex(13);
  w.Combo("ComboBox_Setup_History_M")->setCurrentIndex(1);
  const auto before = Snapshot(w);

  w.form.OnLanguageTriggered();
  EXPECT_EQ(w.options.ints["LANGUAGE"], 2);
  EXPECT_EQ(w.Combo("ComboBox_Setup_Screen_TOff")->currentText(), "45 minutes");
  EXPECT_EQ(w.Combo("ComboBox_Setup_Fon_Level")->currentText(), "3 mR/h");
  EXPECT_EQ(w.Combo("ComboBox_Setup_History_M")->currentIndex(), 1);
  EXPECT_EQ(w.Combo("ComboBox_Setup_Language")->currentIndex(), -1);  // still no choice

  w.form.OnLanguageTriggered();
  EXPECT_EQ(w.options.ints["LANGUAGE"], 1);
  EXPECT_EQ(w.options.writes, 2);  // written at each switch
  EXPECT_EQ(w.Combo("ComboBox_Setup_Fon_Level")->currentText(), U("3  мР/ч"));
  const auto after = Snapshot(w);
  ASSERT_EQ(after.size(), before.size());
  for (const auto& [name, text] : before)
    EXPECT_EQ(after.at(name), text) << name;
}

// The buttons of the pages' left columns show their whole captions: the column stays 130 pixels
// while they fit and widens only for a caption that does not (a wider font, another language).
TEST(LanguageSwitch, ColumnButtonsShowTheirWholeCaptionsAndTheColumnWidensOnlyWhenNeeded) {
  Window w;
  w.LoadLanguage();  // Russian
  w.form.resize(844, 384);
  w.form.show();
  auto* tabs = w.Get<QTabWidget>("PageControl1");
  const char* kColumnButtons[] = {
      "BitBtn_Measure_Read", "BitBtn_Measure_Dose_Reset", "BitBtn_Measure_Record",
      "BitBtn_HIS_Read",     "BitBtn_HIS_Save_CSV",       "BitBtn_HIS_Delete",
      "BitBtn_Setup_Read",   "BitBtn_Setup_Write",        "BitBtn_Setup_Default",
      "BitBtn_Setup_Time",   "BitBtn_Setup_Reset"};
  // The widest column after every page was laid out; each button at least as wide as its caption.
  const auto columnWidth = [&](const char* when) {
    int widest = 0;
    for (int page = 0; page < 3; ++page) {
      tabs->setCurrentIndex(page);
      QApplication::processEvents();
      QApplication::processEvents();
    }
    for (const char* name : kColumnButtons) {
      auto* button = w.Get<QPushButton>(name);
      EXPECT_GE(button->width(), button->sizeHint().width()) << name << " " << when;
      widest = std::max(widest, button->parentWidget()->width());
    }
    return widest;
  };
  EXPECT_GE(columnWidth("Russian"), 130);  // "Удалить историю" needs more with some fonts
  w.form.OnLanguageTriggered();
  EXPECT_EQ(columnWidth("English"), 130);  // back to 130 where every caption fits

  QFont large = w.form.font();
  large.setPixelSize(QFontInfo(large).pixelSize() * 8 / 5);
  w.form.setFont(large);
  EXPECT_GT(columnWidth("English, large font"), 130);
  w.form.OnLanguageTriggered();
  EXPECT_GT(columnWidth("Russian, large font"), 130);
}

TEST(LanguageSwitch, ManualCaptionGoesBackAndReadButtonSaysCancelDuringADownload) {
  Window w;
  w.LoadLanguage();
  w.form.ActionByName("Action_Connection_Manual")->setText("Manual COM5");
  w.form.SetHistoryReading(true);
  EXPECT_EQ(CaptionOf(&w.form, "BitBtn_HIS_Read"), U("Отмена"));
  w.form.OnLanguageTriggered();
  EXPECT_EQ(CaptionOf(&w.form, "Action_Connection_Manual"), "Manual");
  EXPECT_EQ(CaptionOf(&w.form, "BitBtn_HIS_Read"), "Cancel");
  w.form.OnLanguageTriggered();
  EXPECT_EQ(CaptionOf(&w.form, "Action_Connection_Manual"), U("Вручную"));
  EXPECT_EQ(CaptionOf(&w.form, "BitBtn_HIS_Read"), U("Отмена"));
  w.form.SetHistoryReading(false);
  EXPECT_EQ(CaptionOf(&w.form, "BitBtn_HIS_Read"), U("Прочитать"));
  w.form.OnLanguageTriggered();
  EXPECT_EQ(CaptionOf(&w.form, "BitBtn_HIS_Read"), "Read");
}

TEST(Thresholds, ListsFollowTheUnitAndKeepTheirPositions) {
  Window w;
  w.options.ints["LANGUAGE"] = 2;
  w.LoadLanguage();
  QComboBox* fon = w.Combo("ComboBox_Setup_Fon_Level");
  QComboBox* dose = w.Combo("ComboBox_Setup_Dose_Level");
  EXPECT_EQ(fon->count(), 16);
  EXPECT_EQ(dose->count(), 15);
  EXPECT_EQ(fon->currentIndex(), -1);

  w.form.FillBackgroundThresholds(0);
  w.form.FillDoseThresholds(0);
  fon->setCurrentIndex(8);
  dose->setCurrentIndex(6);
  EXPECT_EQ(fon->currentText(), "1.2 uSv/h");  // English: a decimal point
  EXPECT_EQ(dose->currentText(), "10.0 mSv");

  // The user picks CPM: the positions stay and read in counts.
  QComboBox* units = w.Combo("ComboBox_Setup_Units");
  units->setCurrentIndex(2);
  emit units->activated(2);
  EXPECT_EQ(fon->currentText(), "240 CPM");
  EXPECT_EQ(dose->currentIndex(), 6);
  EXPECT_EQ(dose->currentText(), "100e6 PULSES");
  dose->setCurrentIndex(0);
  EXPECT_EQ(dose->currentText(), "100e3 PULSES");

  w.form.FillBackgroundThresholds(1);
  w.form.FillDoseThresholds(5);  // above 2: the counts list, and 2 is now remembered
  EXPECT_EQ(fon->itemText(13), "3 mR/h");
  EXPECT_EQ(dose->itemText(0), "100e3 PULSES");
  w.form.FillBackgroundThresholds(-1);  // the unit used last
  EXPECT_EQ(fon->itemText(13), "6000 CPM");
  EXPECT_EQ(fon->count(), 16);
  EXPECT_EQ(dose->count(), 15);
  EXPECT_EQ(fon->currentIndex(), 8);

  // A language switch rebuilds them for the selected unit (CPM).
  w.form.OnLanguageTriggered();
  EXPECT_EQ(fon->currentText(), "240 CPM");
  EXPECT_EQ(dose->currentText(), U("100e3 ИМП"));
}

TEST(PageControl, RefusesToLeaveTheHistoryPageWhileADownloadRuns) {
  Window w;
  w.form.show();
  auto* pages = w.Get<QTabWidget>("PageControl1");
  QTabBar* bar = pages->tabBar();
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
  ASSERT_EQ(pages->currentIndex(), 1);
  w.form.SetHistoryReading(true);
  EXPECT_FALSE(w.form.OnPageChanging());
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(2).center());
  QTest::keyClick(pages, Qt::Key_Tab, Qt::ControlModifier);
  QTest::keyClick(bar, Qt::Key_Right);
  EXPECT_EQ(pages->currentIndex(), 1);
  w.form.SetHistoryReading(false);
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(2).center());
  EXPECT_EQ(pages->currentIndex(), 2);
}

TEST(MainWindow, StartsWithTheControlsInTheirFirstState) {
  Window w;
  w.form.show();
  QApplication::processEvents();
  // The least size counts the frame.
  const QSize frame = w.form.frameGeometry().size() - w.form.size();
  EXPECT_EQ(w.form.minimumSize() + frame, QSize(768, 272));
  EXPECT_EQ(w.form.centralWidget()->width(), 844);
  EXPECT_EQ(w.form.centralWidget()->height(), 362);
  auto* pages = w.Get<QTabWidget>("PageControl1");
  EXPECT_EQ(pages->count(), 5);
  EXPECT_FALSE(pages->isTabVisible(4));
  EXPECT_FALSE(w.Get<QWidget>("BitBtn_Measure_Read")->isEnabled());
  EXPECT_TRUE(w.Get<QCheckBox>("CheckBox_Measure_AutoRead")->isChecked());
  EXPECT_FALSE(w.Get<QWidget>("Panel_HIS_Buttons")->isEnabled());
  EXPECT_FALSE(w.Get<QWidget>("BitBtn_ReNewDeviceInfo")->isEnabled());
  EXPECT_EQ(w.Get<QLabel>("Label_Measure_Fon")->text(), "----");
  EXPECT_EQ(w.Get<QLabel>("Panel_COM")->text(), "----");
  EXPECT_EQ(w.Get<QLabel>("Panel_Bottom_Info_Text")->text(), U("Ожидание соединения"));
  EXPECT_EQ(w.Get<QWidget>("Panel_Bottom")->height(), 29);
  EXPECT_EQ(w.Get<QWidget>("ProgressBar_Bottom_Info")->width(), 167);
  EXPECT_TRUE(w.Get<QTimer>("Timer_Proc")->isActive());
  EXPECT_EQ(w.Get<QTimer>("Timer_Proc")->interval(), 100);
  EXPECT_FALSE(w.Get<QTimer>("Timer_Connection")->isActive());
  EXPECT_TRUE(w.form.ActionByName("Action_Connection_Auto")->isChecked());
  EXPECT_FALSE(w.form.ActionByName("Action_Connection_Manual")->isChecked());
  EXPECT_FALSE(w.form.ActionByName("Action_Connection_Manual_List")->isEnabled());
  EXPECT_FALSE(w.form.ActionByName("Action_LOG_Clear")->isEnabled());
  EXPECT_EQ(w.form.ActionByName("Action_Language")->text(), U("РУС"));
  for (const char* combo : {"ComboBox_Setup_Language", "ComboBox_Setup_Alarm_M"})
    EXPECT_EQ(w.Combo(combo)->currentIndex(), -1) << combo;
}

TEST(MainWindow, DataSourceMenuIsNeverShown) {
  Window w;
  w.form.show();
  QAction* source = w.form.ActionByName("Action_Data_Source");
  EXPECT_FALSE(source->isVisible());
  auto* settings = w.Get<QMenu>("N_Nastroiki");
  QStringList shown;
  for (QAction* item : settings->actions())
    if (item->isVisible()) shown << ui::WithoutMnemonic(item->text());
  EXPECT_EQ(shown,
            QStringList({U("Соединение"), U("Загружать новую историю при подключении прибора")}));
  w.form.OnLanguageTriggered();
  w.form.ActionByName("Action_Data_Source_Local")->trigger();
  EXPECT_FALSE(source->isVisible());
  EXPECT_EQ(source->property("imageIndex").toInt(), 8);
  EXPECT_FALSE(w.form.ActionByName("Action_Data_Source_Internet")->isChecked());
}

TEST(MainWindow, CloseWaitsForTheRunningOperation) {
  Window w;
  int closes = 0;
  QObject::connect(&w.form, &ui::MainWindow::Closed, [&] { ++closes; });
  bool exchangeWaiting = true;
  w.form.SetBusyProbe([&] { return exchangeWaiting; });
  w.form.show();
  w.form.close();
  EXPECT_TRUE(w.form.isVisible());
  EXPECT_TRUE(w.form.CloseRequested());
  EXPECT_EQ(closes, 0);
  w.form.OperationEnded();  // a nested wait ended, but the exchange still runs
  QApplication::processEvents();
  EXPECT_TRUE(w.form.isVisible());
  exchangeWaiting = false;
  w.form.OperationEnded();
  QApplication::processEvents();
  EXPECT_FALSE(w.form.isVisible());
  EXPECT_EQ(closes, 1);

  // An operation that ends without telling (a message box closed): the next beat closes.
  w.form.show();
  exchangeWaiting = true;
  w.form.close();
  exchangeWaiting = false;
  EXPECT_TRUE(WaitUntil([&] { return !w.form.isVisible(); }, 10000));
  EXPECT_EQ(closes, 2);
}

TEST(MainWindow, LogActionShowsAndHidesTheLogTab) {
  Window w;
  w.LoadLanguage();
  auto* pages = w.Get<QTabWidget>("PageControl1");
  QAction* toggle = w.form.ActionByName("Action_Log_Visible");
  toggle->trigger();
  EXPECT_TRUE(pages->isTabVisible(4));
  EXPECT_EQ(ui::WithoutMnemonic(toggle->text()), QString::fromUtf8("Cкрыть лог"));
  EXPECT_EQ(toggle->property("imageIndex").toInt(), 3);
  toggle->trigger();
  EXPECT_FALSE(pages->isTabVisible(4));
  EXPECT_EQ(toggle->property("imageIndex").toInt(), 2);
  EXPECT_TRUE(w.Get<QMenu>("PopupMenu_Log")->actions().contains(toggle));
}

// The saved page through the program's own start-up and shut-down. The log page is hidden at
// every start, so a run that ended on it (or a value past it) opens the last visible page.
TEST(MainWindow, StartOpensAVisiblePageAndExitSavesIt) {
  QTemporaryDir temp;
  LifecycleSettings settings;
  settings.tempFolder = temp.path().toStdString();
  settings.instanceName =
      "dravion_start_page_" + std::to_string(QCoreApplication::applicationPid());
  for (auto [stored, page] : {std::pair<int, int>{4, 3}, {7, 3}, {2, 2}, {-3, 0}}) {
    Window w;
    w.options.ints["PAGENUM"] = stored;
    ScriptedDialogs dialogs;
    SessionLog log;
    FakeClock clock;
    FakePump pump(clock);
    AppLifecycle app(w.options, w.language, dialogs, log, clock, &w.form, settings);
    ASSERT_TRUE(app.StartUp());
    w.form.show();
    auto* pages = w.Get<QTabWidget>("PageControl1");
    EXPECT_EQ(pages->currentIndex(), page) << stored;
    EXPECT_TRUE(pages->isTabVisible(pages->currentIndex())) << stored;
    EXPECT_EQ(pages->tabBar()->currentIndex(), page) << stored;  // its tab is the highlighted one
    EXPECT_TRUE(pages->currentWidget()->isVisible()) << stored;
    ReportUploader uploader(log, pump, clock, nullptr);
    app.ShutDown(uploader, ReportIdentity{});
    EXPECT_EQ(w.options.ints["PAGENUM"], page) << stored;
  }
}

TEST(StatusBar, StylesAndIndicator) {
  Window w;
  w.form.ShowStatus("Dravion", 1);
  auto* info = w.Get<QLabel>("Panel_Bottom_Info_Text");
  EXPECT_TRUE(info->styleSheet().contains("#008000"));
  w.form.ShowStatus("x", 7);  // above 3: neutral
  EXPECT_EQ(info->property("statusStyle").toInt(), 0);
  // The connection manager's marks, through the view it talks to.
  ui::WindowConnectionView view(w.form);
  view.ShowLink(LinkState::ERR, ColourOfLink(LinkState::ERR), TextOfLink(LinkState::ERR, true));
  EXPECT_EQ(w.Get<QLabel>("Panel_Connection")->text(), "= ERR =");
  EXPECT_TRUE(w.Get<QLabel>("Panel_Connection")->styleSheet().contains("#ff0000"));
  view.ShowPortPanel("COM 7");
  EXPECT_EQ(w.Get<QLabel>("Panel_COM")->text(), "COM 7");
  view.ShowLink(LinkState::OK, ColourOfLink(LinkState::OK), TextOfLink(LinkState::OK, false));
  EXPECT_EQ(w.Get<QLabel>("Panel_Connection")->text(), "OK");
  EXPECT_TRUE(w.Get<QLabel>("Panel_Connection")->styleSheet().contains("#00ff00"));
  view.SetAutoChecked(false);
  EXPECT_TRUE(w.form.ActionByName("Action_Connection_Manual")->isChecked());
  EXPECT_FALSE(w.form.ActionByName("Action_Connection_Auto")->isChecked());
  view.SetManualCaption("Manual COM12");
  EXPECT_EQ(w.form.ActionByName("Action_Connection_Manual")->text(), "Manual COM12");
  view.SetUpdateButtonEnabled(true);
  EXPECT_TRUE(w.Get<QWidget>("BitBtn_ReNewDeviceInfo")->isEnabled());
}

TEST(HistoryChart, BarsArePaintedInTheirColoursAndADoubleClickNamesTheBarUnderThePointer) {
  Window w;
  ui::HistoryChart* chart = w.form.Chart();
  EXPECT_EQ(chart->objectName(), "Chart1");
  EXPECT_EQ(chart->SeriesColour(1), QColor(Qt::blue));
  EXPECT_EQ(chart->SeriesColour(2), QColor(Qt::red));
  EXPECT_EQ(chart->SeriesColour(3), QColor(0, 128, 0));
  chart->TitleAdd("History for Day : 07.12.2026");
  chart->TitleAdd("uR/h  K = 1,27");
  EXPECT_EQ(chart->TitleLines().size(), 2);
  const QColor lime(0, 255, 0), fuchsia(255, 0, 255), yellow(255, 255, 0);
  chart->Add(1, 30, "0", yellow);
  chart->Add(1, 1, "1", fuchsia);
  chart->Add(2, 12, "0", lime);
  chart->Add(2, 1, "1", fuchsia);
  chart->Add(3, 1, "0", lime);
  chart->Add(3, 1, "1", fuchsia);
  chart->Refresh();
  EXPECT_EQ(chart->Bars(2)[1].colour, fuchsia);

  // Painted: each bar in its own colour, the series side by side, heights in proportion.
  chart->resize(400, 240);
  const QImage image = chart->grab().toImage();
  auto colourOf = [&](int series, int bar) {
    return image.pixelColor(chart->BarRect(series, bar).center().toPoint());
  };
  EXPECT_EQ(colourOf(1, 0), yellow);
  EXPECT_EQ(colourOf(2, 0), lime);
  EXPECT_EQ(colourOf(3, 0), lime);
  EXPECT_EQ(colourOf(1, 1), fuchsia);
  EXPECT_EQ(colourOf(2, 1), fuchsia);
  const QRectF high = chart->BarRect(1, 0), average = chart->BarRect(2, 0);
  EXPECT_LT(high.right(), average.left() + 1);
  EXPECT_NEAR(high.height() / average.height(), 30.0 / 12.0, 0.1);
  EXPECT_EQ(chart->BarRect(2, 0).bottom(), chart->BarRect(2, 1).bottom());
  EXPECT_TRUE(chart->BarRect(2, 2).isEmpty());

  // A double click in a bar's column names series and bar; only Maximum and Rate zoom.
  std::vector<int> clicked;
  QObject::connect(&w.form, &ui::MainWindow::BarDoubleClicked,
                   [&](int bar) { clicked.push_back(bar); });
  std::vector<std::pair<int, int>> bars;
  QObject::connect(chart, &ui::HistoryChart::BarDoubleClicked,
                   [&](int series, int bar) { bars.emplace_back(series, bar); });
  const QRectF fuchsiaBar = chart->BarRect(2, 1);
  QTest::mouseDClick(chart, Qt::LeftButton, {}, QPoint(fuchsiaBar.center().x(), 40));
  QTest::mouseDClick(chart, Qt::LeftButton, {}, chart->BarRect(3, 0).center().toPoint());
  QTest::mouseDClick(chart, Qt::LeftButton, {}, QPoint(fuchsiaBar.center().x(), 2));  // title
  EXPECT_EQ(bars, (std::vector<std::pair<int, int>>{{2, 1}, {3, 0}}));
  EXPECT_EQ(clicked, std::vector<int>{1});
  chart->Clear(2);
  chart->TitleClear();
  EXPECT_TRUE(chart->Bars(2).empty());
  EXPECT_TRUE(chart->TitleLines().isEmpty());
}

TEST(ChartFrame, ValuesGetRoundStepsAndLabelsThinOutWhenTheyWouldCollide) {
  GuiApp();  // fonts need the application object, also when this test runs alone
  EXPECT_EQ(ui::ChartFrame::RoundStep(23, 5), 5);
  EXPECT_EQ(ui::ChartFrame::RoundStep(0.7, 5), 0.2);
  EXPECT_EQ(ui::ChartFrame::RoundStep(0, 5), 1);
  ui::ChartFrame frame;
  QStringList labels;
  for (int i = 0; i < 60; ++i)
    labels << QString::number(i);
  frame.Layout(QRectF(0, 0, 300, 200), QFont(), {"a", "b"}, 0, 23, 60, labels);
  EXPECT_EQ(frame.Bottom(), 0);
  EXPECT_EQ(frame.Top(), 25);
  EXPECT_GT(frame.LabelEvery(), 1);
  EXPECT_EQ(frame.Y(0), frame.Plot().bottom());
  EXPECT_EQ(frame.Y(25), frame.Plot().top());
  EXPECT_EQ(frame.Y(1000), frame.Plot().top());  // clamped
  EXPECT_EQ(frame.SlotAt(frame.X(59)), 59);
  EXPECT_EQ(frame.SlotAt(frame.Plot().left() - 1), -1);
  frame.Layout(QRectF(0, 0, 2000, 200), QFont(), {}, -3, 4, 6, labels.mid(0, 6));
  EXPECT_EQ(frame.LabelEvery(), 1);
  EXPECT_LT(frame.Bottom(), -2.9);
}

}  // namespace
}  // namespace dravion::test
