#include "ui/pages/settings_page.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <regex>

#include "log/session_log.h"
#include "sim/device.h"
#include "support/pty.h"
#include "ui/device_session.h"
#include "ui/gui_support.h"
#include "ui/qt_services.h"

namespace dravion::test {
namespace {

// The settings page of the real window, run by the device session's controller, with the
// emulated device plugged in once the manager watches the ports.
struct SettingsWindow {
  SettingsWindow() : pump(clock), device(window.form, pump, clock, dialogs, log, window.language) {
    window.language.Set(Lang::English);
    window.form.SetCaptions();
    window.form.SetLog(&log);
    device.Start();
  }
  bool WaitFor(const std::function<bool()>& done, int ms) { return WaitUntil(done, ms); }
  bool Connect() {
    if (!WaitFor([&] { return device.connection.ports.FirstRefresh == 0; }, 4000)) return false;
    sim::DeviceConfig config;
    config.portFolder = folder.path();
    emulator = std::make_unique<sim::Device>(config);
    return emulator->Plug() &&
           WaitFor([&] { return device.Manager().Connected && device.Manager().Identified; }, 8000);
  }
  void Click(const char* name) { QTest::mouseClick(window.Get<QPushButton>(name), Qt::LeftButton); }
  QCheckBox* Box(const char* name) { return window.Get<QCheckBox>(name); }

  TempPortFolder folder;
  Window window;
  ui::QtClock clock;
  ui::QtEventPump pump;
  ScriptedDialogs dialogs;
  SessionLog log;
  ui::DeviceSession device;
  std::unique_ptr<sim::Device> emulator;
};

TEST(SettingsPageGui, DefaultSaveRefusalAndTheCalibrationKeyFilter) {
  SettingsWindow w;
  w.Click("BitBtn_Setup_Write");  // lists still empty: refused without a device question
  ASSERT_EQ(w.dialogs.boxes.size(), 1u);
  EXPECT_EQ(w.dialogs.boxes[0].text, NoDeviceText(w.window.language));

  w.window.Combo("ComboBox_Setup_Units")->setCurrentIndex(2);
  emit w.window.Combo("ComboBox_Setup_Units")->activated(2);
  w.Click("BitBtn_Setup_Default");
  EXPECT_EQ(w.window.Combo("ComboBox_Setup_Units")->currentIndex(), 0);
  EXPECT_EQ(w.window.Combo("ComboBox_Setup_Fon_Level")->currentText(), "1.2 uSv/h");
  EXPECT_EQ(w.window.Combo("ComboBox_Setup_Dose_Level")->currentText(), "100 Sv");
  EXPECT_EQ(w.window.Combo("ComboBox_Setup_Power_TOff")->currentText(), "10 minutes");
  EXPECT_TRUE(w.Box("CheckBox_Setup_Sound_EN")->isChecked());
  EXPECT_FALSE(w.Box("CheckBox_Setup_Alarm_En")->isChecked());

  auto* edit = w.window.Get<QLineEdit>("Edit_Setup_Calibr");
  EXPECT_EQ(edit->text(), "1.27");  // the interface language's decimal separator
  edit->clear();
  QTest::keyClicks(edit, "1a-,5 ");
  EXPECT_EQ(edit->text(), "1,5");
  QTest::keyClick(edit, Qt::Key_Backspace);
  QTest::keyClicks(edit, "99999999999");
  EXPECT_EQ(edit->text().size(), 10);
}

TEST(SettingsPageGui, ReadShowsTheDeviceSettingsAndGivesThePagesBack) {
  SettingsWindow w;
  ASSERT_TRUE(w.Connect());
  w.emulator->SetParameter(9, 1);
  w.emulator->SetParameter(7, 13);
  w.emulator->SetParameter(3, 1);
  w.emulator->SetParameter(4, 215);
  w.Click("BitBtn_Setup_Read");
  EXPECT_TRUE(w.dialogs.boxes.empty());
  EXPECT_EQ(w.window.Combo("ComboBox_Setup_Units")->currentText(), "Roentgen");
  EXPECT_EQ(w.window.Combo("ComboBox_Setup_Fon_Level")->currentText(), "3 mR/h");
  EXPECT_FALSE(w.Box("CheckBox_Setup_Sound_EN")->isChecked());
  EXPECT_EQ(w.window.Get<QLineEdit>("Edit_Setup_Calibr")->text(), "2.15");
  EXPECT_TRUE(w.window.Get<QLineEdit>("Edit_Setup_Time")->text().startsWith("["));
  EXPECT_TRUE(w.window.Get<QTabWidget>("PageControl1")->isEnabled());
  EXPECT_TRUE(w.device.Manager().LinkWatch);

  // Units picked by the user: the threshold position stays.
  auto* units = w.window.Combo("ComboBox_Setup_Units");
  units->setCurrentIndex(2);
  emit units->activated(2);
  EXPECT_EQ(w.window.Combo("ComboBox_Setup_Fon_Level")->currentText(), "6000 CPM");
}

TEST(SettingsPageGui, TheClockDriftIsShownWhileThePageIsOpenAndWriteTimeSaysWhatItCorrected) {
  SettingsWindow w;
  w.window.form.show();
  w.window.form.SetActivePage(0);
  ASSERT_TRUE(w.Connect());
  w.emulator->ShiftClock(42);
  auto* drift = w.window.Get<QLabel>("Label_Setup_Time_Drift");
  EXPECT_FALSE(drift->isVisible());
  const int reads = w.emulator->Requests(1, 0x0C);
  w.window.form.SetActivePage(2);
  const std::regex ahead(R"((.|\n)*The device is (40|41|42|43) s ahead)");
  ASSERT_TRUE(w.WaitFor(
      [&] { return std::regex_match(drift->accessibleName().toStdString(), ahead); }, 5000))
      << drift->accessibleName().toStdString();
  EXPECT_TRUE(drift->accessibleName().startsWith("Device:"))
      << drift->accessibleName().toStdString();
  EXPECT_TRUE(drift->isVisible());
  // Refreshed from the computer's clock, not from more reads of the device.
  const QString shown = drift->accessibleName();
  ASSERT_TRUE(w.WaitFor([&] { return drift->accessibleName() != shown; }, 3000));
  EXPECT_EQ(w.emulator->Requests(1, 0x0C), reads + 1);

  w.Click("BitBtn_Setup_Time");
  ASSERT_FALSE(w.dialogs.boxes.empty());
  const std::string box = w.dialogs.boxes.back().text;
  EXPECT_TRUE(std::regex_search(
      box,
      std::regex(
          R"(Time written to Device\n\r\[.*\]\n\rDevice clock corrected by -(40|41|42|43) s$)")))
      << box;
  const auto& lines = w.log.Lines();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
    return std::regex_search(line, std::regex("^Device clock corrected by -4[0123] s$"));
  }));
  EXPECT_TRUE(
      std::regex_search(drift->accessibleName().toStdString(),
                        std::regex("The device clock is right|The device is 1 s (ahead|behind)")))
      << drift->accessibleName().toStdString();
  // Another page: no more refreshes.
  w.window.form.SetActivePage(0);
  const QString left = drift->accessibleName();
  const int linkTests = w.emulator->Requests(1, 0x00);
  ASSERT_TRUE(w.WaitFor([&] { return w.emulator->Requests(1, 0x00) >= linkTests + 2; }, 20000));
  EXPECT_EQ(drift->accessibleName(), left);
}

}  // namespace
}  // namespace dravion::test
