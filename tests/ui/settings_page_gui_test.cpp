#include "ui/pages/settings_page.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

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
  EXPECT_EQ(w.dialogs.boxes[0].text,
            "Save Settings\n\rError Settings Access\n\rDevice not connected");

  w.window.Combo("ComboBox_Setup_Units")->setCurrentIndex(2);
  emit w.window.Combo("ComboBox_Setup_Units")->activated(2);
  w.Click("BitBtn_Setup_Default");
  EXPECT_EQ(w.window.Combo("ComboBox_Setup_Units")->currentIndex(), 0);
  EXPECT_EQ(w.window.Combo("ComboBox_Setup_Fon_Level")->currentText(), "1,2 uSv/h");
  EXPECT_EQ(w.window.Combo("ComboBox_Setup_Dose_Level")->currentText(), "100 Sv");
  EXPECT_EQ(w.window.Combo("ComboBox_Setup_Power_TOff")->currentText(), "10 minutes");
  EXPECT_TRUE(w.Box("CheckBox_Setup_Sound_EN")->isChecked());
  EXPECT_FALSE(w.Box("CheckBox_Setup_Alarm_En")->isChecked());

  auto* edit = w.window.Get<QLineEdit>("Edit_Setup_Calibr");
  EXPECT_EQ(edit->text(), "1,27");
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
  EXPECT_EQ(w.window.Get<QLineEdit>("Edit_Setup_Calibr")->text(), "2,15");
  EXPECT_TRUE(w.window.Get<QLineEdit>("Edit_Setup_Time")->text().startsWith("["));
  EXPECT_TRUE(w.window.Get<QTabWidget>("PageControl1")->isEnabled());
  EXPECT_TRUE(w.device.Manager().LinkWatch);

  // Units picked by the user: the threshold position stays.
  auto* units = w.window.Combo("ComboBox_Setup_Units");
  units->setCurrentIndex(2);
  emit units->activated(2);
  EXPECT_EQ(w.window.Combo("ComboBox_Setup_Fon_Level")->currentText(), "6000 CPM");
}

}  // namespace
}  // namespace dravion::test
