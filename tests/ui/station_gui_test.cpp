#include <signal.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QTableWidget>

#include "cli/cli_process.h"
#include "log/session_log.h"
#include "sim/device.h"
#include "support/pty.h"
#include "support/scratch_folder.h"
#include "ui/device_session.h"
#include "ui/gui_support.h"
#include "ui/qt_services.h"

namespace dravion::test {
namespace {

using cli_test::FileText;
using cli_test::Lines;
using cli_test::Occurrences;

// A monitoring station (dravion-cli monitor, a process of its own) holds the device when the
// window starts: the window names it instead of waiting for a device, shows its readings and
// never opens its port, even when told to use that port; once the station stops, the window
// takes the device over.
TEST(StationGui, TheWindowShowsARunningStationLeavesItsPortAloneAndTakesOverWhenItStops) {
  ScratchFolder scratch("station-gui");
  // The station and the window share an archive of this test's own; the station's configuration
  // (none: the template it writes) stays here too.
  struct Environment {
    Environment(const char* name, const std::string& value) : name(name) {
      const char* before = std::getenv(name);
      had = before != nullptr;
      saved = had ? before : "";
      ::setenv(name, value.c_str(), 1);
    }
    ~Environment() { had ? ::setenv(name, saved.c_str(), 1) : ::unsetenv(name); }
    const char* name;
    bool had;
    std::string saved;
  };
  Environment archive("DRAVION_ARCHIVE", scratch.Utf8() + "/archive.sqlite3");
  Environment config("XDG_CONFIG_HOME", scratch.Utf8());
  TempPortFolder folder;
  sim::DeviceConfig device;
  device.portFolder = folder.path();
  sim::Device emulator(device);
  ASSERT_TRUE(emulator.Plug());
  const std::string out = scratch.Utf8() + "/readings.txt";
  const std::string err = scratch.Utf8() + "/notes.txt";
  const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const pid_t monitor = cli_test::SpawnCli({"--port", "7", "monitor", "--interval", "1"}, fd, err);
  ::close(fd);
  ASSERT_GT(monitor, 0);
  struct Stop {
    pid_t pid;
    ~Stop() {
      if (pid > 0 && ::kill(pid, SIGKILL) == 0) cli_test::ExitStatus(pid);
    }
  } stop{monitor};
  auto readings = [&] { return Lines(FileText(out)); };
  ASSERT_TRUE(WaitUntil([&] { return readings() >= 2; }, 30000)) << FileText(err);

  Window window;
  ui::QtClock clock;
  ui::QtEventPump pump(clock);
  ScriptedDialogs dialogs;
  SessionLog log;
  ui::DeviceSession session(window.form, pump, clock, dialogs, log, window.language);
  window.form.SetLog(&log);
  session.Start();
  auto status = [&] { return window.Get<QLabel>("Panel_Bottom_Info_Text")->text().toStdString(); };
  const std::string holding =
      "Прибор 214-36587 (COM 7) занят станцией наблюдения, процесс " + std::to_string(monitor);
  ASSERT_TRUE(WaitUntil([&] { return status() == holding; }, 20000)) << status();

  auto* box = window.Get<QGroupBox>("GroupBox_Measure_Station");
  auto* table = window.Get<QTableWidget>("Table_Measure_Station_Readings");
  ASSERT_TRUE(WaitUntil([&] { return !box->isHidden() && table->rowCount() >= 2; }, 20000));
  EXPECT_EQ(window.Get<QLabel>("Label_Measure_Station")->text().toStdString(),
            "Станция наблюдения (dravion-cli monitor, процесс " + std::to_string(monitor) +
                ") читает прибор 214-36587 на COM 7 каждые 1 с");
  EXPECT_EQ(table->item(0, 1)->text(), QStringLiteral("214-36587"));
  EXPECT_TRUE(table->item(0, 2)->text().endsWith(QString::fromUtf8(" мкЗв/ч")))
      << table->item(0, 2)->text().toStdString();
  // Nothing configured: the readings went nowhere but the archive.
  EXPECT_EQ(table->item(0, 5)->text(), QString::fromUtf8("—"));

  // Told to use the station's port, the window still leaves it alone, and says so once.
  ConnectionManager& manager = session.Manager();
  manager.ConnectionMode = kManualPort;
  manager.ManualPortNumber = manager.SelectedPort = 7;
  const int before = readings();
  ASSERT_TRUE(WaitUntil([&] { return readings() >= before + 3; }, 30000)) << FileText(err);
  EXPECT_FALSE(manager.Connected);
  EXPECT_EQ(status(), holding);
  size_t said = 0;
  for (const std::string& line : log.Lines())
    said += Occurrences(line, holding);
  EXPECT_EQ(said, 1u);
  // The station's requests never met the window's: it read on without a gap.
  EXPECT_EQ(Occurrences(FileText(err), "waiting for it"), 0u) << FileText(err);

  // Stopped, the station withdraws: the window takes the device over.
  ASSERT_EQ(::kill(monitor, SIGTERM), 0);
  EXPECT_EQ(cli_test::ExitStatus(monitor), 143) << FileText(err);  // as the shell reports it
  stop.pid = 0;
  ASSERT_TRUE(WaitUntil([&] { return status().rfind("Dravion", 0) == 0; }, 20000)) << status();
  EXPECT_TRUE(manager.Connected);
  EXPECT_TRUE(WaitUntil([&] { return box->isHidden(); }, 5000));
}

}  // namespace
}  // namespace dravion::test
