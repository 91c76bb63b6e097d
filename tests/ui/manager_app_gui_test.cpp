#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <csignal>

#include "ui/gui_support.h"

namespace dravion::test {
namespace {

QString ManagerProgram() {
  return QCoreApplication::applicationDirPath() + QStringLiteral("/../src/app/dravion-manager");
}

// The environment of a manager run in its own temporary home: working folder, options, lock.
QProcessEnvironment ManagerEnvironment(const QTemporaryDir& home) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("TMPDIR", home.path());
  env.insert("XDG_RUNTIME_DIR", home.path());
  env.insert("XDG_CONFIG_HOME", home.path() + "/config");
  env.insert("DRAVION_SYSTEM_PORTS", "0");
  for (const char* name : {"DRAVION_FTP_HOST", "FTPHOST", "DRAVION_TEST_THROW_AFTER_MS"})
    env.remove(name);
  return env;
}

// Whether the process has handlers of its own for SIGTERM and SIGINT (the kernel's caught-signal
// mask in /proc).
bool CatchesTermination(qint64 pid) {
  QFile status(QStringLiteral("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly)) return false;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (!line.startsWith("SigCgt:")) continue;
    const quint64 caught = line.mid(7).trimmed().toULongLong(nullptr, 16);
    const quint64 wanted = (quint64{1} << (SIGTERM - 1)) | (quint64{1} << (SIGINT - 1));
    return (caught & wanted) == wanted;
  }
  return false;
}

// The run's exit steps were taken: log.txt with header and footer, the page option written.
void ExpectExitSteps(const QTemporaryDir& home) {
  QFile log(home.path() + QStringLiteral("/tqv8_dravion_explorer/log.txt"));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  const QByteArray text = log.readAll();
  EXPECT_TRUE(text.startsWith(QByteArray(42, '#') + "\n# START: "));
  EXPECT_TRUE(text.contains("# APP VERSION = 1.9\n"));
  EXPECT_TRUE(text.contains("# END: "));
  QSettings options(home.path() + "/config/TARVO/TQV8.conf", QSettings::IniFormat);
  EXPECT_EQ(options.value("MANAGER/OPTIONS/PAGENUM").toInt(), 0);
}

// The manager as a user runs it: started, ended by a signal (a logout, Ctrl+C), it still takes
// its exit steps: the page option, the log footer and log.txt.
TEST(ManagerApp, SignalEndsTheRunThroughTheNormalExitSteps) {
  GuiApp();
  if (!QFileInfo::exists(ManagerProgram())) GTEST_SKIP() << "dravion-manager is not built";
  QTemporaryDir home;
  const QString work = home.path() + QStringLiteral("/tqv8_dravion_explorer");
  for (int signal : {SIGTERM, SIGINT}) {
    QProcess manager;
    manager.setProcessEnvironment(ManagerEnvironment(home));
    manager.start(ManagerProgram(), {});
    ASSERT_TRUE(manager.waitForStarted(5000));
    // The signal goes once the manager catches it (until then it would end the process at once).
    ASSERT_TRUE(WaitUntil([&] { return CatchesTermination(manager.processId()); }, 20000));
    EXPECT_TRUE(QFileInfo::exists(work));
    ::kill(static_cast<pid_t>(manager.processId()), signal);
    ASSERT_TRUE(manager.waitForFinished(10000)) << signal;
    EXPECT_EQ(manager.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(manager.exitCode(), 0);
    ExpectExitSteps(home);
  }
}

// An exception thrown by an event handler is shown in an error box while the window still
// exists, and the run then ends through its exit steps with a failure status.
TEST(ManagerApp, AnUnexpectedExceptionIsShownAndTheExitStepsStillRun) {
  GuiApp();
  if (!QFileInfo::exists(ManagerProgram())) GTEST_SKIP() << "dravion-manager is not built";
  QTemporaryDir home;
  QProcess manager;
  QProcessEnvironment env = ManagerEnvironment(home);
  env.insert("DRAVION_TEST_THROW_AFTER_MS", "700");
  manager.setProcessEnvironment(env);
  manager.start(ManagerProgram(), {});
  ASSERT_TRUE(manager.waitForStarted(5000));
  ASSERT_TRUE(manager.waitForFinished(20000));
  const QString errors = QString::fromUtf8(manager.readAllStandardError());
  EXPECT_EQ(manager.exitStatus(), QProcess::NormalExit) << errors.toStdString();
  EXPECT_EQ(manager.exitCode(), 1) << errors.toStdString();
  EXPECT_TRUE(
      errors.contains("exception box: DravionExplorer 1.7 | Test exception in the event loop"))
      << errors.toStdString();
  ExpectExitSteps(home);
}

}  // namespace
}  // namespace dravion::test
