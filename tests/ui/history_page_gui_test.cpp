#include "ui/pages/history_page.h"

#include <gtest/gtest.h>

#include <qpa/qwindowsysteminterface.h>
#include <QAction>
#include <QCheckBox>
#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <QWindow>

#include "log/session_log.h"
#include "sim/device.h"
#include "support/pty.h"
#include "ui/device_session.h"
#include "ui/gui_support.h"
#include "ui/history_chart.h"
#include "ui/qt_services.h"

namespace dravion::test {
namespace {

// The window with its device session and an emulated device holding a small ring.
struct HistorySession {
  HistorySession() : pump(clock), device(window.form, pump, clock, dialogs, log, window.language) {
    window.language.Set(Lang::English);
    window.form.ApplyLanguage();
    window.form.SetLog(&log);
    device.Start();
  }
  bool WaitFor(const std::function<bool()>& done, int ms) { return WaitUntil(done, ms); }
  bool Connect(sim::DeviceConfig config) {
    if (!WaitFor([&] { return device.connection.ports.FirstRefresh == 0; }, 4000)) return false;
    config.portFolder = folder.path();
    emulator = std::make_unique<sim::Device>(config);
    return emulator->Plug() &&
           WaitFor([&] { return device.Manager().Connected && device.Manager().Identified; }, 6000);
  }
  ui::HistoryPage* Page() { return window.Get<ui::HistoryPage>("TabSheet_DevHistory"); }
  QPushButton* Button(const char* name) { return window.Get<QPushButton>(name); }

  TempPortFolder folder;
  Window window;
  ui::QtClock clock;
  ui::QtEventPump pump;
  ScriptedDialogs dialogs;
  SessionLog log;
  ui::DeviceSession device;
  std::unique_ptr<sim::Device> emulator;
};

TEST(HistoryPageGui, ReadTurnsIntoCancelHoldsThePageAndDrawsTheChart) {
  HistorySession s;
  sim::DeviceConfig config;
  config.historySize = 3000;
  ASSERT_TRUE(s.Connect(config));
  auto* tabs = s.window.Get<QTabWidget>("PageControl1");
  tabs->setCurrentIndex(1);
  QPushButton* read = s.Button("BitBtn_HIS_Read");
  auto* progress = s.window.Get<QProgressBar>("ProgressBar_HIS_Read");
  ui::HistoryChart* chart = s.Page()->Chart();

  // While the download runs: Cancel on the button, the other buttons off, the page kept.
  bool seenReading = false;
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    // Once the ring's sectors are being read.
    if (!s.window.form.HistoryReading() || seenReading || progress->maximum() != 12) return;
    seenReading = true;
    EXPECT_EQ(read->text(), QStringLiteral("Cancel"));
    // It looks like Cancel too, and the page says how far the download is.
    EXPECT_EQ(read->icon().pixmap(16).toImage(),
              read->style()->standardIcon(QStyle::SP_DialogCancelButton).pixmap(16).toImage());
    EXPECT_TRUE(s.window.Get<QLabel>("Label_HIS_Summary")->text().startsWith("Read "));
    EXPECT_FALSE(s.Button("BitBtn_HIS_Delete")->isEnabled());
    EXPECT_FALSE(s.Button("BitBtn_HIS_Save_CSV")->isEnabled());
    EXPECT_EQ(chart->TitleLines(), QStringList{QStringLiteral("Waiting of reading History")});
    QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(2).center());
    EXPECT_EQ(tabs->currentIndex(), 1);
  });
  probe.start(1);
  QTest::mouseClick(read, Qt::LeftButton);
  probe.stop();
  EXPECT_TRUE(seenReading);
  EXPECT_TRUE(s.dialogs.boxes.empty()) << s.dialogs.boxes.front().text;
  EXPECT_EQ(read->text(), QStringLiteral("Read"));
  EXPECT_TRUE(s.window.Get<QWidget>("Panel_HIS_Buttons")->isEnabled());
  ASSERT_EQ(chart->TitleLines().size(), 2);
  EXPECT_TRUE(chart->TitleLines()[0].startsWith(QStringLiteral("History for Minute : ")));
  EXPECT_EQ(chart->TitleLines()[1], QStringLiteral("uR/h  K = 1.27"));
  ASSERT_EQ(chart->Bars(2).size(), 6u);
  EXPECT_EQ(chart->Bars(2)[1].label, QStringLiteral("10"));

  // Up to the hour of the newest record: sixty bars, the controller's values and colours as they
  // are. (The hour of the device's clock holds no record yet in its first minute.)
  s.Page()->Controller()->OnNewestClicked();
  QTest::mouseClick(s.Button("BitBtn_HIS_Up"), Qt::LeftButton);
  const HistoryChartData& model = s.Page()->Controller()->LastChart;
  ASSERT_EQ(chart->Bars(3).size(), 60u);
  for (size_t i = 0; i < 60; ++i) {
    EXPECT_EQ(chart->Bars(2)[i].value, static_cast<double>(model.Rate[i].Value));
    EXPECT_EQ(chart->Bars(3)[i].colour, QColor(QRgb(model.Coverage[i].Colour)));
  }
  // "Show maximum" through a screen reader's toggle action (no click): the chart follows it.
  auto* showMaximum = s.window.Get<QCheckBox>("CheckBox_HIS_Show_MaxVal");
  auto yellowBars = [&] {
    const auto& bars = s.Page()->Controller()->LastChart.Maximum;
    return std::count_if(bars.begin(), bars.end(),
                         [](const ChartPoint& bar) { return bar.Colour == kChartYellow; });
  };
  EXPECT_EQ(yellowBars(), 0);
  ASSERT_TRUE(ActLikeAScreenReader(showMaximum));
  EXPECT_TRUE(showMaximum->isChecked());
  EXPECT_GT(yellowBars(), 0);
  ASSERT_TRUE(ActLikeAScreenReader(showMaximum));
  EXPECT_EQ(yellowBars(), 0);

  // A double click into minute 0 comes back to the minute view.
  emit chart->BarDoubleClicked(2, 0);
  EXPECT_EQ(chart->Bars(1).size(), 6u);
  // The title is redrawn in the language switched to.
  s.window.form.OnLanguageTriggered();
  ASSERT_EQ(chart->TitleLines().size(), 2);
  EXPECT_TRUE(chart->TitleLines()[0].startsWith(QString::fromUtf8("История за минуту : ")));
  EXPECT_EQ(chart->TitleLines()[1], QString::fromUtf8("мкР/час  K = 1,27"));
  tabs->setCurrentIndex(2);  // free to leave now
  EXPECT_EQ(tabs->currentIndex(), 2);
}

// Without a device the buttons that need one say so in one sentence, and the About-device page
// asks for the Dravion; with one, a view without records says so and offers the newest.
TEST(HistoryPageGui, SaysWhatThereIsAndWhatThereIsNot) {
  HistorySession s;
  s.window.Get<QTabWidget>("PageControl1")->setCurrentIndex(1);
  QTest::mouseClick(s.Button("BitBtn_HIS_Read"), Qt::LeftButton);
  QTest::mouseClick(s.Button("BitBtn_HIS_Delete"), Qt::LeftButton);
  ASSERT_EQ(s.dialogs.boxes.size(), 2u);
  for (const auto& box : s.dialogs.boxes) {
    EXPECT_EQ(box.text, NoDeviceText(s.window.language));
    EXPECT_EQ(box.kind, BoxKind::Information);
  }
  EXPECT_TRUE(s.dialogs.questions.empty());
  auto* memo = s.window.Get<QTextEdit>("Memo_Info");
  EXPECT_TRUE(memo->toPlainText().startsWith("No device connected"))
      << memo->toPlainText().toStdString();
  EXPECT_TRUE(memo->toPlainText().contains("Plug in the Dravion"));

  std::vector<uint8_t> records(200 * 16);
  for (uint32_t i = 0; i < 200; ++i) {
    uint8_t* r = records.data() + 16 * i;
    r[0] = 0xFE, r[1] = 0;
    const uint32_t start = 131371200 + 60 * i, pulses = 1000 + i;
    for (int b = 0; b < 4; ++b)
      r[4 + b] = uint8_t(start >> (8 * b)), r[8 + b] = uint8_t(pulses >> (8 * b));
    r[12] = 60;
  }
  sim::DeviceConfig config;
  config.historyRecords = records;
  ASSERT_TRUE(s.Connect(config));
  EXPECT_TRUE(memo->toPlainText().startsWith("Connected Device Information"));
  s.dialogs.boxes.clear();
  QTest::mouseClick(s.Button("BitBtn_HIS_Read"), Qt::LeftButton);
  ASSERT_TRUE(s.Page()->Controller()->Ring.Loaded);
  EXPECT_EQ(s.window.Get<QLabel>("Label_HIS_Summary")->text(),
            "200 records read, newest at 29.02.2004 15:19:00");
  ui::HistoryChart* chart = s.Page()->Chart();
  EXPECT_TRUE(chart->Note().startsWith("No records in this minute."));
  EXPECT_TRUE(chart->NoRecordsAt(0));
  QPushButton* newest = s.Button("BitBtn_HIS_Newest");
  ASSERT_FALSE(newest->isHidden());
  QTest::mouseClick(newest, Qt::LeftButton);
  EXPECT_EQ(chart->Note(), "");
  EXPECT_TRUE(newest->isHidden());
  EXPECT_FALSE(chart->NoRecordsAt(0));
}

// A click that reaches the window (through the window system, as a user's does) while the
// heartbeat's link test waits for a late answer is held until that exchange ends, then runs.
TEST(HistoryPageGui, ClickDuringTheHeartbeatsLinkTestRunsAfterIt) {
  HistorySession s;
  sim::DeviceConfig config;
  config.historySize = 600;
  ASSERT_TRUE(s.Connect(config));
  s.window.Get<QTabWidget>("PageControl1")->setCurrentIndex(1);
  s.window.form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&s.window.form));
  QPushButton* read = s.Button("BitBtn_HIS_Read");
  QWindow* window = s.window.form.windowHandle();
  const QPointF at = read->mapTo(&s.window.form, read->rect().center());

  const int linkTests = s.emulator->Requests(1, 0x00);
  s.emulator->SetFaults({.delayMs = 300});
  bool clicked = false;
  bool heartbeatAtPress = true;
  QObject::connect(read, &QPushButton::pressed,
                   [&] { heartbeatAtPress = s.device.Manager().HeartbeatRunning(); });
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    // The heartbeat's link test has gone out and waits for its late answer.
    if (clicked || !s.device.Manager().HeartbeatRunning() ||
        s.emulator->Requests(1, 0x00) == linkTests) {
      return;
    }
    clicked = true;
    s.emulator->SetFaults({});  // that answer stays late; the download's come at once
    const QPointF global = window->mapToGlobal(at.toPoint());
    QWindowSystemInterface::handleMouseEvent<QWindowSystemInterface::AsynchronousDelivery>(
        window, at, global, Qt::LeftButton, Qt::LeftButton, QEvent::MouseButtonPress);
    QWindowSystemInterface::handleMouseEvent<QWindowSystemInterface::AsynchronousDelivery>(
        window, at, global, Qt::NoButton, Qt::LeftButton, QEvent::MouseButtonRelease);
  });
  probe.start(1);
  ASSERT_TRUE(s.WaitFor([&] { return clicked; }, 8000));
  probe.stop();
  ASSERT_TRUE(s.WaitFor([&] { return s.Page()->Controller()->Ring.Loaded; }, 10000));
  EXPECT_FALSE(heartbeatAtPress);
  EXPECT_TRUE(s.dialogs.boxes.empty()) << s.dialogs.boxes.front().text;
  EXPECT_EQ(s.emulator->Requests(1, 0x00), linkTests + 1);  // answered on its first send
  EXPECT_TRUE(s.device.Manager().Connected);
}

TEST(HistoryPageGui, SaveDialogWritesTheCsvAndTheChartSavesAsPng) {
  HistorySession s;
  sim::DeviceConfig config;
  config.historySize = 700;
  ASSERT_TRUE(s.Connect(config));
  QTest::mouseClick(s.Button("BitBtn_HIS_Read"), Qt::LeftButton);
  ASSERT_TRUE(s.Page()->Controller()->Ring.Loaded);

  QTemporaryDir dir;
  const QString name = dir.filePath(QStringLiteral("history.csv"));
  QString title, filter, offered;
  s.Page()->RunSaveDialog = [&](QFileDialog* dialog) {
    title = dialog->windowTitle();
    filter = dialog->nameFilters().join(QLatin1Char(';'));
    offered = dialog->selectedFiles().value(0);
    dialog->selectFile(name);
    return true;
  };
  QTest::mouseClick(s.Button("BitBtn_HIS_Save_CSV"), Qt::LeftButton);
  EXPECT_EQ(s.Page()->SaveDialog()->objectName(), QStringLiteral("SaveDialog1"));
  EXPECT_EQ(title, QStringLiteral("CSV History saving"));
  EXPECT_EQ(filter, QStringLiteral("CSV Files(*.csv)"));
  // The first save starts in the Documents folder with the serial number and the date.
  EXPECT_EQ(offered, ui::InDocuments("Dravion_214-36587_history_" +
                                     QDate::currentDate().toString("yyyy-MM-dd") + ".csv"));
  QFile csv(name);
  ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
  EXPECT_EQ(csv.readAll().toStdString(), s.Page()->Controller()->Csv.CsvText);

  // The chart's context menu, in both languages.
  auto* menu = s.window.Get<QMenu>("PopupMenu_Chart");
  ASSERT_EQ(menu->actions().size(), 1);
  EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("Save chart as PNG…"));
  s.window.form.OnLanguageTriggered();
  EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("Сохранить график как PNG…"));
  const QString png = dir.filePath(QStringLiteral("chart.png"));
  EXPECT_TRUE(s.Page()->SaveChartImage(png));
  QFile image(png);
  ASSERT_TRUE(image.open(QIODevice::ReadOnly));
  EXPECT_TRUE(image.read(8).startsWith("\x89PNG"));
  EXPECT_FALSE(s.Page()->SaveChartImage(dir.filePath(QStringLiteral("missing/chart.png"))));
  EXPECT_EQ(s.dialogs.boxes.back().text.rfind("Ошибка записи файла\r\n", 0), 0u);
}

}  // namespace
}  // namespace dravion::test
