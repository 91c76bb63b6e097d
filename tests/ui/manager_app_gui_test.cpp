#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <csignal>

#include "ui/gui_support.h"

namespace dravion::test {
namespace {

// The manager as a user runs it: started, ended by a signal (a logout, Ctrl+C), it still takes
// its exit steps: the page option, the log footer and log.txt.
TEST(ManagerApp, SignalEndsTheRunThroughTheNormalExitSteps) {
  GuiApp();
  const QString program =
      QCoreApplication::applicationDirPath() + QStringLiteral("/../src/app/dravion-manager");
  if (!QFileInfo::exists(program)) GTEST_SKIP() << "dravion-manager is not built";
  QTemporaryDir home;
  const QString work = home.path() + QStringLiteral("/tqv8_dravion_explorer");
  for (int signal : {SIGTERM, SIGINT}) {
    QProcess manager;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("TMPDIR", home.path());
    env.insert("XDG_RUNTIME_DIR", home.path());
    env.insert("XDG_CONFIG_HOME", home.path() + "/config");
    env.insert("DRAVION_SYSTEM_PORTS", "0");
    for (const char* name : {"DRAVION_FTP_HOST", "FTPHOST"})
      env.remove(name);
    manager.setProcessEnvironment(env);
    manager.start(program, {});
    ASSERT_TRUE(manager.waitForStarted(5000));
    QElapsedTimer waited;
    waited.start();
    while (!QFileInfo::exists(work) && waited.elapsed() < 10000)
      QTest::qWait(20);
    QTest::qWait(500);  // the window is up and its heartbeat runs
    ::kill(static_cast<pid_t>(manager.processId()), signal);
    ASSERT_TRUE(manager.waitForFinished(10000)) << signal;
    EXPECT_EQ(manager.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(manager.exitCode(), 0);

    QFile log(work + QStringLiteral("/log.txt"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly)) << signal;
    const QByteArray text = log.readAll();
    EXPECT_TRUE(text.startsWith(QByteArray(42, '#') + "\n# START: "));
    EXPECT_TRUE(text.contains("# APP VERSION = 1.9\n"));
    EXPECT_TRUE(text.contains("# END: "));
    QSettings options(home.path() + "/config/TARVO/TQV8.conf", QSettings::IniFormat);
    EXPECT_EQ(options.value("MANAGER/OPTIONS/PAGENUM").toInt(), 0);
  }
}

}  // namespace
}  // namespace dravion::test
