#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdlib>

#include "archive/history_archive.h"
#include "log/session_log.h"
#include "sim/device.h"
#include "support/pty.h"
#include "ui/device_session.h"
#include "ui/gui_support.h"
#include "ui/history_chart.h"
#include "ui/pages/history_page.h"
#include "ui/qt_services.h"

namespace dravion::test {
namespace {

// The window with its device session, an archive of its own and an emulated device.
struct ReadNewSession {
  ReadNewSession() : pump(clock), device(window.form, pump, clock, dialogs, log, window.language) {
    window.language.Set(Lang::English);
    window.form.ApplyLanguage();
    window.form.SetLog(&log);
    device.Start();
  }
  bool Connect(sim::DeviceConfig config) {
    if (!WaitUntil([&] { return device.connection.ports.FirstRefresh == 0; }, 4000)) return false;
    config.portFolder = folder.path();
    emulator = std::make_unique<sim::Device>(config);
    return emulator->Plug() &&
           WaitUntil([&] { return device.Manager().Connected && device.Manager().Identified; },
                     6000);
  }
  QPushButton* Button(const char* name) { return window.Get<QPushButton>(name); }
  ui::HistoryPage* Page() { return window.Get<ui::HistoryPage>("TabSheet_DevHistory"); }

  // The archive lives as long as the session (set before the page first opens it).
  struct ArchiveFile {
    ArchiveFile() {
      const char* environment = std::getenv("DRAVION_ARCHIVE");
      saved = environment ? environment : "";
      ::setenv("DRAVION_ARCHIVE", dir.filePath("archive.sqlite3").toUtf8().constData(), 1);
    }
    ~ArchiveFile() { ::setenv("DRAVION_ARCHIVE", saved.c_str(), 1); }
    QTemporaryDir dir;
    std::string saved;
  } archive;
  TempPortFolder folder;
  Window window;
  ui::QtClock clock;
  ui::QtEventPump pump;
  ScriptedDialogs dialogs;
  SessionLog log;
  ui::DeviceSession device;
  std::unique_ptr<sim::Device> emulator;
};

// Read new is offered once the archive holds the connected device; it reads only what the ring
// grew by, with Read's cancel button and page guard, merges it, and shows the archive with it.
TEST(HistoryReadNewGui, ReadNewReadsWhatTheArchiveLacksAndShowsTheArchive) {
  ReadNewSession s;
  sim::DeviceConfig config;
  config.historySize = 600;
  ASSERT_TRUE(s.Connect(config));
  auto* tabs = s.window.Get<QTabWidget>("PageControl1");
  tabs->setCurrentIndex(1);
  QPushButton* readNew = s.Button("BitBtn_HIS_Read_New");
  EXPECT_EQ(readNew->text(), QStringLiteral("Read new"));
  EXPECT_FALSE(readNew->isEnabled());  // nothing of this device in the archive yet

  QTest::mouseClick(s.Button("BitBtn_HIS_Read"), Qt::LeftButton);
  ASSERT_TRUE(s.dialogs.boxes.empty()) << s.dialogs.boxes.front().text;
  EXPECT_TRUE(readNew->isEnabled());

  s.emulator->AddHistoryRecords(300);
  const int readsBefore = s.emulator->Requests(2, 0x02);
  bool seenReading = false;
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (!s.window.form.HistoryReading() || seenReading) return;
    seenReading = true;
    EXPECT_EQ(s.Button("BitBtn_HIS_Read")->text(), QStringLiteral("Cancel"));
    EXPECT_FALSE(readNew->isEnabled());
    QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(2).center());
    EXPECT_EQ(tabs->currentIndex(), 1);
  });
  probe.start(1);
  QTest::mouseClick(readNew, Qt::LeftButton);
  probe.stop();
  EXPECT_TRUE(seenReading);
  ASSERT_TRUE(s.dialogs.boxes.empty()) << s.dialogs.boxes.front().text;
  EXPECT_LE(s.emulator->Requests(2, 0x02) - readsBefore, 300 / 2 + 4);
  const QString message = s.window.Get<QLabel>("Label_HIS_Archive_Msg")->text();
  EXPECT_TRUE(message.endsWith(QStringLiteral(
      " new records, 0 already in the archive; 300 of 900 records of the ring read")))
      << message.toStdString();
  EXPECT_EQ(s.window.Get<QComboBox>("ComboBox_HIS_Source")->currentIndex(), 1);
  ASSERT_FALSE(s.Page()->Chart()->TitleLines().isEmpty());
  EXPECT_TRUE(s.Page()->Chart()->TitleLines()[0].startsWith(QStringLiteral("History archive of")));
  EXPECT_EQ(s.Button("BitBtn_HIS_Read")->text(), QStringLiteral("Read"));
  EXPECT_TRUE(readNew->isEnabled());

  s.window.form.OnLanguageTriggered();
  EXPECT_EQ(readNew->text(), QString::fromUtf8("Прочитать новые"));
}

// The setting "Download new history when the device is connected": after the identification the
// new records are read in the background, with the progress in the status bar and every page
// open. A click on a device button cancels the read (no box) and then does its own work; the
// next connection reads the records again and merges them once.
TEST(HistoryReadNewGui, TheBackgroundReadKeepsThePagesOpenAndGivesWayToADeviceButton) {
  ReadNewSession s;
  sim::DeviceConfig config;
  config.historySize = 600;
  ASSERT_TRUE(s.Connect(config));
  auto* tabs = s.window.Get<QTabWidget>("PageControl1");
  tabs->setCurrentIndex(1);
  QTest::mouseClick(s.Button("BitBtn_HIS_Read"), Qt::LeftButton);
  ASSERT_TRUE(s.dialogs.boxes.empty()) << s.dialogs.boxes.front().text;
  QAction* sync = s.window.form.ActionByName(QStringLiteral("Action_History_Sync"));
  EXPECT_FALSE(sync->isChecked());  // off unless chosen
  EXPECT_EQ(sync->text(), QStringLiteral("Download new &history when the device is connected"));
  sync->trigger();
  ASSERT_TRUE(sync->isChecked());

  auto replug = [&] {
    s.emulator->Unplug();
    if (!WaitUntil([&] { return !s.device.Manager().Connected; }, 6000)) return false;
    return s.emulator->Plug() &&
           WaitUntil([&] { return s.device.Manager().Connected && s.device.Manager().Identified; },
                     6000);
  };
  s.emulator->AddHistoryRecords(1440);
  auto* bottom = s.window.Get<QProgressBar>("ProgressBar_Bottom_Info");
  ui::HistoryPage* page = s.Page();
  bool pressed = false;
  int parametersAtPress = 0;
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (pressed || !page->BackgroundReading() || bottom->value() == 0) return;
    pressed = true;
    tabs->setCurrentIndex(2);  // the settings page, while the history is read
    EXPECT_EQ(tabs->currentIndex(), 2);
    parametersAtPress = s.emulator->Requests(1, 0x0E);
    QTest::mouseClick(s.Button("BitBtn_Setup_Read"), Qt::LeftButton);
  });
  probe.start(1);
  ASSERT_TRUE(replug());
  ASSERT_TRUE(WaitUntil([&] { return pressed && !page->BackgroundReading(); }, 20000));
  probe.stop();
  // The settings were read once the history's read had let go of the line.
  EXPECT_TRUE(
      WaitUntil([&] { return s.emulator->Requests(1, 0x0E) > parametersAtPress + 5; }, 6000));
  EXPECT_TRUE(s.dialogs.boxes.empty()) << s.dialogs.boxes.front().text;
  EXPECT_EQ(bottom->value(), 0);
  const QString before = s.window.Get<QLabel>("Label_HIS_Archive_Msg")->text();
  EXPECT_EQ(before.indexOf(QStringLiteral("1,440 of")), -1) << before.toStdString();

  // The next connection is unplugged in the middle of the read: nothing is merged then; once it
  // is back, the read starts again and merges every record once.
  bool unplugged = false;
  QTimer cut;
  QObject::connect(&cut, &QTimer::timeout, [&] {
    if (unplugged || !page->BackgroundReading() || bottom->value() == 0) return;
    unplugged = true;
    sim::Faults faults;
    faults.unplugAfterRequests = s.emulator->GetCounters().totalRequests + 40;
    faults.replugAfterMs = 300;
    s.emulator->SetFaults(faults);
  });
  cut.start(1);
  ASSERT_TRUE(replug());
  ASSERT_TRUE(WaitUntil(
      [&] {
        return unplugged && !page->BackgroundReading() &&
               s.window.Get<QLabel>("Label_HIS_Archive_Msg")
                   ->text()
                   .contains(QStringLiteral("1,440 of"));
      },
      30000));
  cut.stop();
  EXPECT_EQ(s.emulator->GetCounters().unplugs, 3);  // the test's two and the one in the read
  const QString message = s.window.Get<QLabel>("Label_HIS_Archive_Msg")->text();
  EXPECT_TRUE(message.contains(QStringLiteral(" new records, 0 already in the archive; 1,440 of ")))
      << message.toStdString();
  EXPECT_TRUE(s.dialogs.boxes.empty()) << s.dialogs.boxes.front().text;
  // Every measurement of the device's ring is in the archive once.
  const sim::HistoryDescription h = s.emulator->History();
  const std::vector<uint8_t> flash = s.emulator->ReadExternalFlash(0x100000, 65280 * 16);
  int64_t measurements = 0;
  for (uint32_t l = 0; l < h.count; ++l) {
    const uint8_t kind = flash[(h.first + l) % 65280 * 16];
    measurements += kind == 0xFE || kind == 0xFC;
  }
  HistoryArchive archive;
  ASSERT_TRUE(archive.Open(s.archive.dir.filePath("archive.sqlite3").toStdString()));
  const std::vector<ArchiveDevice> devices = archive.Devices();
  ASSERT_EQ(devices.size(), 1u);
  ArchiveCounts counts;
  ASSERT_TRUE(archive.Count(devices[0].Id, counts));
  EXPECT_EQ(static_cast<int64_t>(counts.Records + counts.Unusable), measurements);
  EXPECT_EQ(counts.Conflicts, 0u);
}

}  // namespace
}  // namespace dravion::test
