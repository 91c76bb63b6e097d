#include "ui/device_session.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTextEdit>

#include "log/session_log.h"
#include "sim/device.h"
#include "support/pty.h"
#include "ui/gui_support.h"
#include "ui/qt_services.h"

namespace dravion::test {
namespace {

// The window's status bar and menu driven by the real connection manager, with the emulated
// device plugged in on a pty while the window runs.
struct Session {
  Session() : pump(clock), device(window.form, pump, clock, dialogs, log, window.language) {
    window.form.SetLog(&log);
    device.Start();
  }
  QString Text(const char* name) { return window.Get<QLabel>(name)->text(); }
  bool WaitFor(const std::function<bool()>& done, int ms) { return WaitUntil(done, ms); }

  TempPortFolder folder;
  Window window;
  ui::QtClock clock;
  ui::QtEventPump pump;
  ScriptedDialogs dialogs;
  SessionLog log;
  ui::DeviceSession device;
};

TEST(DeviceSessionGui, PluggedDeviceIsFoundIdentifiedAndShown) {
  Session s;
  // Ports present at the first scan are never candidates: plug in after it.
  ASSERT_TRUE(s.WaitFor([&] { return s.device.connection.ports.FirstRefresh == 0; }, 4000));
  sim::DeviceConfig config;
  config.portFolder = s.folder.path();
  sim::Device emulator(config);
  ASSERT_TRUE(emulator.Plug());

  ASSERT_TRUE(
      s.WaitFor([&] { return s.Text("Panel_Bottom_Info_Text").startsWith("Dravion"); }, 6000))
      << s.Text("Panel_Bottom_Info_Text").toStdString();
  EXPECT_EQ(s.Text("Panel_Bottom_Info_Text"),
            QStringLiteral("Dravion ZAV-740.41.3 S/N: 214-36587"));
  EXPECT_EQ(s.window.Get<QLabel>("Panel_Bottom_Info_Text")->property("statusStyle").toInt(), 1);
  EXPECT_EQ(s.Text("Panel_COM"), QStringLiteral("COM 7"));
  EXPECT_TRUE(s.Text("Panel_Connection").contains(QStringLiteral("OK")));
  EXPECT_TRUE(s.window.Get<QPushButton>("BitBtn_ReNewDeviceInfo")->isEnabled());
  EXPECT_TRUE(s.device.deviceInfo.Valid);

  emulator.Unplug();
  ASSERT_TRUE(s.WaitFor(
      [&] { return s.Text("Panel_Bottom_Info_Text") == QString::fromUtf8("Ожидание соединения"); },
      8000));
  EXPECT_FALSE(s.window.Get<QPushButton>("BitBtn_ReNewDeviceInfo")->isEnabled());
  EXPECT_FALSE(s.device.deviceInfo.Valid);
  EXPECT_EQ(s.Text("Panel_COM"), QStringLiteral("----"));
}

TEST(DeviceSessionGui, AboutDevicePageShowsTheDeviceAndFollowsTheLanguage) {
  Session s;
  ASSERT_TRUE(s.WaitFor([&] { return s.device.connection.ports.FirstRefresh == 0; }, 4000));
  sim::DeviceConfig config;
  config.portFolder = s.folder.path();
  config.mainVersion = 0x0C05;
  sim::Device emulator(config);
  ASSERT_TRUE(emulator.Plug());

  auto* memo = s.window.Get<QTextEdit>("Memo_Info");
  // Before the device is identified the page asks for it.
  EXPECT_TRUE(memo->toPlainText().startsWith(QString::fromUtf8("Прибор не подключён\n")));
  ASSERT_TRUE(s.WaitFor([&] { return s.device.deviceInfo.Valid != 0; }, 6000));
  const QString russian = memo->toPlainText();
  EXPECT_TRUE(
      russian.startsWith(QString::fromUtf8("Информация о подключенном приборе\n"
                                           "Версия прибора: Dravion ZAV-740.41.3\n"
                                           "S/N: 214-36587\n")))
      << russian.toStdString();
  EXPECT_TRUE(russian.endsWith(QString::fromUtf8("Доступно обновление\nдо версии 1.20.12.6")));

  s.window.form.ActionByName(QStringLiteral("Action_Language"))->trigger();
  EXPECT_TRUE(memo->toPlainText().startsWith(QStringLiteral("Connected Device Information\n")));
  EXPECT_TRUE(
      memo->toPlainText().endsWith(QStringLiteral("Upgrade to Version 1.20.12.6\nis available")));

  // Unplugged: the page asks for the device again, in the language of the moment.
  emulator.Unplug();
  ASSERT_TRUE(s.WaitFor(
      [&] { return memo->toPlainText().startsWith(QStringLiteral("No device connected\n")); },
      8000))
      << memo->toPlainText().toStdString();
  s.window.form.ActionByName(QStringLiteral("Action_Language"))->trigger();
  EXPECT_TRUE(memo->toPlainText().startsWith(QString::fromUtf8("Прибор не подключён\n")));
}

TEST(DeviceSessionGui, ManualPortNumberFromTheMenu) {
  Session s;
  s.dialogs.textAnswers = {"251", "12"};
  QAction* number = s.window.form.ActionByName(QStringLiteral("Action_Connection_Manual_Number"));
  // A screen reader presses the menu item by triggering it, and is answered when trigger()
  // returns: the prompt must not have been opened by then, only from the event loop after.
  number->trigger();
  EXPECT_EQ(s.dialogs.textAnswers.size(), 2u);
  ASSERT_TRUE(s.WaitFor([&] { return s.dialogs.boxes.size() == 1; }, 4000));
  EXPECT_EQ(s.dialogs.boxes[0].text, "Ошибка формата номера COM порта");
  EXPECT_TRUE(s.window.form.ActionByName(QStringLiteral("Action_Connection_Auto"))->isChecked());
  number->trigger();
  QAction* manual = s.window.form.ActionByName(QStringLiteral("Action_Connection_Manual"));
  ASSERT_TRUE(s.WaitFor([&] { return manual->isChecked(); }, 4000));
  EXPECT_EQ(manual->text(), QString::fromUtf8("Вручную COM12"));
  EXPECT_EQ(s.device.Manager().ConnectionMode, kManualPort);
  s.window.form.ActionByName(QStringLiteral("Action_Connection_Auto"))->trigger();
  EXPECT_EQ(s.device.Manager().ConnectionMode, kAutoWatch);
}

TEST(DeviceSessionGui, DeviceOperationDisablesThePagesAndLinkWatchUntilItEnds) {
  Session s;
  auto* pages = s.window.Get<QTabWidget>("PageControl1");
  {
    DeviceOperation operation(s.device.context);
    EXPECT_FALSE(pages->isEnabled());
    EXPECT_FALSE(s.device.Manager().LinkWatch);
  }
  EXPECT_TRUE(pages->isEnabled());
  EXPECT_TRUE(s.device.Manager().LinkWatch);
  EXPECT_EQ(&s.device.context.connection, &s.device.Manager());
  EXPECT_EQ(&s.device.context.device, &s.device.deviceInfo);
}

}  // namespace
}  // namespace dravion::test
