#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "archive/archive_pane.h"
#include "archive/archive_stats.h"
#include "archive/archive_support.h"
#include "archive/history_archive.h"
#include "archive/station_store.h"
#include "log/session_log.h"
#include "support/pty.h"
#include "ui/device_session.h"
#include "ui/gui_support.h"
#include "ui/history_chart.h"
#include "ui/pages/archive_period_panel.h"
#include "ui/pages/history_page.h"
#include "ui/qt_services.h"

namespace dravion::test {
namespace {

constexpr uint32_t kDayStart = 799977600;  // a day's first second (device seconds)

// The window with its device session and no device: the history page shows the archive.
struct ArchiveSession {
  ArchiveSession() : pump(clock), device(window.form, pump, clock, dialogs, log, window.language) {
    window.language.Set(Lang::English);
    window.form.ApplyLanguage();
    window.form.SetLog(&log);
    device.Start();
  }
  ui::HistoryPage* Page() { return window.Get<ui::HistoryPage>("TabSheet_DevHistory"); }
  // The history page shows the archive at `path`; true when it holds a device to show.
  bool ShowArchive(const std::string& path) {
    Page()->Archive()->Path = path;
    auto* source = window.Combo("ComboBox_HIS_Source");
    source->setCurrentIndex(1);
    emit source->activated(1);
    return Page()->Archive()->Shown();
  }

  TempPortFolder folder;
  Window window;
  ui::QtClock clock;
  ui::QtEventPump pump;
  ScriptedDialogs dialogs;
  SessionLog log;
  ui::DeviceSession device;
};

std::string PdfText(const QString& pdf) {
  const std::string out = pdf.toStdString() + ".txt";
  const std::string command =
      "pdftotext -layout '" + pdf.toStdString() + "' '" + out + "' 2>/dev/null";
  if (std::system(command.c_str()) != 0) return {};
  std::ifstream in(out);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The archive view: its chart's period and figures under it, a period dragged across the bars
// and one typed, the unit switch (chart and figures), a bar's tooltip, the threshold, and the
// period's report as a PDF whose text holds the figures, in English and Russian.
TEST(ArchivePeriodGui, ThePeriodOfTheArchiveChartHasItsFiguresUnitAndReport) {
  QTemporaryDir dir;
  const std::string path = dir.filePath(QStringLiteral("archive.sqlite3")).toStdString();
  const uint32_t d = kDayStart;
  {
    HistoryArchive archive;
    ASSERT_TRUE(archive.Open(path)) << archive.Error();
    ArchiveBatch batch;
    batch.Serial = "214-36587";
    batch.Uid = "0123456789ABCDEF01234567";
    batch.Coefficient = 100;
    // Hour 10 of the day: 30 uR/h, 60 uR/h, then (after a gap) an hour at 30 uR/h.
    batch.Records = {archive_test::Measurement(d + 36000, 60, 86),
                     archive_test::Measurement(d + 36060, 60, 172),
                     archive_test::Measurement(d + 36240, 3600, 5160)};
    batch.DeviceTime = d + 40000;
    batch.Ring.RecordCount = 3;
    ASSERT_TRUE(archive.Merge(batch).Ok);
  }
  ArchiveSession s;
  ui::HistoryPage* page = s.Page();
  ASSERT_TRUE(s.ShowArchive(path));
  auto* panel = page->Period();
  ASSERT_TRUE(panel->isVisibleTo(page));
  auto* figures = s.window.Get<QLabel>("Label_HIS_Figures");
  auto* from = s.window.Get<QDateTimeEdit>("DateTime_HIS_From");
  auto* to = s.window.Get<QDateTimeEdit>("DateTime_HIS_To");
  ui::HistoryChart* chart = page->Chart();

  // The newest record's minute at first, in uSv/h.
  EXPECT_EQ(from->dateTime().toString("dd.MM.yyyy HH:mm:ss"), "08.05.2025 10:04:00");
  EXPECT_EQ(to->dateTime().toString("dd.MM.yyyy HH:mm:ss"), "08.05.2025 10:04:59");
  EXPECT_TRUE(chart->TitleLines().back().startsWith("uSv/h  K = "))
      << chart->TitleLines().back().toStdString();
  EXPECT_TRUE(figures->text().contains("0.300&nbsp;uSv/h")) << figures->text().toStdString();

  // Up to the hour: dragging across minutes 0 to 1 gives the figures of those two records.
  page->Archive()->OnUpClicked();
  const QRectF first = chart->BarRect(2, 0), second = chart->BarRect(2, 1);
  const int y = static_cast<int>(first.bottom()) - 2;
  // Pressed on minute 0, moved with the button held to minute 1, released there.
  auto mouse = [&](QEvent::Type type, const QRectF& bar, Qt::MouseButton button,
                   Qt::MouseButtons held) {
    const QPointF at(bar.center().x(), y);
    QMouseEvent event(type, at, chart->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(chart, &event);
  };
  mouse(QEvent::MouseButtonPress, first, Qt::LeftButton, Qt::LeftButton);
  mouse(QEvent::MouseMove, second, Qt::NoButton, Qt::LeftButton);
  mouse(QEvent::MouseButtonRelease, second, Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(chart->SelectionFirst(), 0);
  EXPECT_EQ(chart->SelectionLast(), 1);
  EXPECT_EQ(from->dateTime().toString("HH:mm:ss"), "10:00:00");
  EXPECT_EQ(to->dateTime().toString("HH:mm:ss"), "10:01:59");
  EXPECT_TRUE(figures->text().contains("0.450&nbsp;uSv/h"))
      << figures->text().toStdString();  // mean

  // The whole day typed, in uR/h; the time above 50 uR/h.
  s.window.Combo("ComboBox_HIS_Unit")->setCurrentIndex(1);
  emit s.window.Combo("ComboBox_HIS_Unit")->activated(1);
  EXPECT_TRUE(chart->TitleLines().back().startsWith("uR/h  K = "));
  from->setDateTime(QDateTime(QDate(2025, 5, 8), QTime(0, 0), Qt::UTC));
  to->setDateTime(QDateTime(QDate(2025, 5, 8), QTime(23, 59, 59), Qt::UTC));
  emit to->editingFinished();
  auto* above = s.window.Get<QCheckBox>("CheckBox_HIS_Above");
  auto* threshold = s.window.Get<QDoubleSpinBox>("Edit_HIS_Threshold");
  above->setChecked(true);
  threshold->setValue(50);
  emit threshold->editingFinished();
  const std::string text = figures->text().toStdString();
  EXPECT_NE(text.find("Records:&nbsp;<b>3</b>"), std::string::npos) << text;
  EXPECT_NE(text.find("30.5&nbsp;uR/h"), std::string::npos) << text;  // (86 + 172 + 5160) / 3720 s
  EXPECT_NE(text.find("Above&nbsp;50.0&nbsp;uR/h"), std::string::npos) << text;
  EXPECT_NE(text.find("00:01:00"), std::string::npos) << text;
  // The mean and the dose with their 95% intervals, those of the day's own figures.
  ArchiveFigures day;
  {
    HistoryArchive archive;
    ASSERT_TRUE(archive.Open(path)) << archive.Error();
    ASSERT_TRUE(ArchiveStatistics(archive, {archive.Devices().at(0).Id, d, d + 86399, 50}, day));
  }
  auto roentgen = [](double value) {
    Language english;
    english.Set(Lang::English);
    return FigureNumber(value, FigureUnit::Roentgen, english);
  };
  const std::string meanText = "30.5&nbsp;uR/h&nbsp;(" + roentgen(day.MeanInterval().Low) +
                               "&nbsp;to&nbsp;" + roentgen(day.MeanInterval().High) + ")";
  const std::string doseText = roentgen(day.Dose()) + "&nbsp;uR&nbsp;(" +
                               roentgen(day.DoseInterval().Low) + "&nbsp;to&nbsp;" +
                               roentgen(day.DoseInterval().High) + ")";
  EXPECT_NE(text.find(meanText), std::string::npos) << meanText << "\n" << text;
  EXPECT_NE(text.find(doseText), std::string::npos) << doseText << "\n" << text;
  // A bar's tooltip: minute 1 of the hour, in the unit.
  const std::string tip = chart->PositionToolTip(1).toStdString();
  EXPECT_NE(tip.find("08.05.2025 10:01:00 - 08.05.2025 10:01:59"), std::string::npos) << tip;
  EXPECT_NE(tip.find("Highest: 60.0 uR/h"), std::string::npos) << tip;

  // The period as an Excel workbook, through the page's save dialog.
  const QString workbook = dir.filePath(QStringLiteral("history.xlsx"));
  QString title;
  page->RunSaveDialog = [&](QFileDialog* dialog) {
    title = dialog->windowTitle();
    dialog->selectFile(workbook);
    return true;
  };
  QTest::mouseClick(s.window.Get<QPushButton>("BitBtn_HIS_Save_XLSX"), Qt::LeftButton);
  EXPECT_EQ(title, QStringLiteral("Saving as an Excel workbook"));
  QFile xlsx(workbook);
  ASSERT_TRUE(xlsx.open(QIODevice::ReadOnly));
  EXPECT_TRUE(xlsx.read(2) == "PK");

  // The report, in English and in Russian: its text holds the device, period and figures.
  const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
  ASSERT_TRUE(panel->SaveReport(pdf.toStdString()));
  std::string report = PdfText(pdf);
  EXPECT_NE(report.find("Dose rate report"), std::string::npos) << report;
  EXPECT_NE(report.find("214-36587"), std::string::npos) << report;
  EXPECT_NE(report.find("08.05.2025 00:00:00 - 08.05.2025 23:59:59"), std::string::npos);
  EXPECT_NE(report.find("30.5 uR/h (" + roentgen(day.MeanInterval().Low) + " to " +
                        roentgen(day.MeanInterval().High) + ")"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("Page 1"), std::string::npos) << report;
  s.window.form.OnLanguageTriggered();
  const QString russian = dir.filePath(QStringLiteral("report-ru.pdf"));
  ASSERT_TRUE(panel->SaveReport(russian.toStdString()));
  report = PdfText(russian);
  EXPECT_NE(report.find("Отчёт о мощности дозы"), std::string::npos) << report;
  Language russianTexts;
  russianTexts.Set(Lang::Russian);
  auto russianRoentgen = [&](double value) {
    return FigureNumber(value, FigureUnit::Roentgen, russianTexts);
  };
  EXPECT_NE(report.find("30,5 мкР/ч (" + russianRoentgen(day.MeanInterval().Low) + " – " +
                        russianRoentgen(day.MeanInterval().High) + ")"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("Страница 1"), std::string::npos) << report;
}

}  // namespace
}  // namespace dravion::test

namespace dravion::test {
namespace {

// The archive view takes the device's unit and alarm threshold as its settings were last read.
TEST(ArchivePeriodGui, TheViewTakesTheDevicesUnitAndAlarmThreshold) {
  QTemporaryDir dir;
  const std::string path = dir.filePath(QStringLiteral("archive.sqlite3")).toStdString();
  {
    HistoryArchive archive;
    ASSERT_TRUE(archive.Open(path)) << archive.Error();
    ASSERT_TRUE(
        archive
            .Merge(archive_test::DownloadOf({archive_test::Measurement(kDayStart, 60, 172),
                                             archive_test::Measurement(kDayStart + 60, 60, 86)},
                                            100))
            .Ok);
    ASSERT_TRUE(RememberDeviceAlarm(archive, "214-36587", 1, 2));  // uR/h, 50 uR/h
  }
  ArchiveSession s;
  ui::HistoryPage* page = s.Page();
  ASSERT_TRUE(s.ShowArchive(path));
  page->Archive()->OnUpClicked();
  EXPECT_EQ(s.window.Combo("ComboBox_HIS_Unit")->currentIndex(), 1);
  EXPECT_TRUE(page->Chart()->TitleLines().back().startsWith("uR/h  K = "));
  EXPECT_TRUE(s.window.Get<QCheckBox>("CheckBox_HIS_Above")->isChecked());
  EXPECT_DOUBLE_EQ(s.window.Get<QDoubleSpinBox>("Edit_HIS_Threshold")->value(), 50);
  const QString figures = s.window.Get<QLabel>("Label_HIS_Figures")->text();
  EXPECT_TRUE(figures.contains("Above&nbsp;50.0&nbsp;uR/h:&nbsp;<b>00:01:00</b>"))
      << figures.toStdString();
}

// A monitoring station's readings of the device beside its records: a line at each bar's
// time-weighted mean, placed by the computer's local time when each was kept, in the chart's
// unit; none of another device, none without a dose rate; a title line says what the line is.
TEST(ArchivePeriodGui, TheStationsReadingsShowAsALineBesideTheRecords) {
  QTemporaryDir dir;
  const std::string path = dir.filePath(QStringLiteral("archive.sqlite3")).toStdString();
  const uint32_t d = kDayStart;
  {
    HistoryArchive archive;
    ASSERT_TRUE(archive.Open(path)) << archive.Error();
    ASSERT_TRUE(archive
                    .Merge(archive_test::DownloadOf({archive_test::Measurement(d + 36000, 60, 86),
                                                     archive_test::Measurement(d + 36240, 60, 172)},
                                                    100))
                    .Ok);
  }
  {
    StationStore station;
    ASSERT_TRUE(station.Open(path)) << station.Error();
    // Local seconds from 2000 `local`, kept at UTC offset `offset` minutes.
    auto reading = [](uint32_t local, int offset, std::optional<double> usvh, int seconds,
                      const std::string& serial) {
      StationReading r;
      r.time = 946684800 + static_cast<int64_t>(local) - offset * 60;
      r.utcOffsetMinutes = offset;
      r.seconds = r.samples = seconds;
      r.microSievertPerHour = usvh;
      r.cpm = 10;
      r.serial = serial;
      return r;
    };
    // Minute 1 of hour 10: 0.2 for 60 s and 0.5 for 20 s, a mean of 0.275 uSv/h.
    ASSERT_TRUE(station.Add(reading(d + 36090, 0, 0.2, 60, "214-36587")));
    ASSERT_TRUE(station.Add(reading(d + 36110, 0, 0.5, 20, "214-36587")));
    // Minute 2, kept three hours east of UTC.
    ASSERT_TRUE(station.Add(reading(d + 36150, 180, 0.1, 60, "214-36587")));
    // Another device's, and one of a device counting in CPM (no dose rate).
    ASSERT_TRUE(station.Add(reading(d + 36200, 0, 0.9, 60, "214-99999")));
    ASSERT_TRUE(station.Add(reading(d + 36270, 0, std::nullopt, 60, "214-36587")));
  }
  ArchiveSession s;
  ui::HistoryPage* page = s.Page();
  ASSERT_TRUE(s.ShowArchive(path));
  page->Archive()->OnUpClicked();  // the hour, in minutes
  ui::HistoryChart* chart = page->Chart();
  EXPECT_TRUE(chart->StationLine().empty());
  auto* box = s.window.Get<QCheckBox>("CheckBox_HIS_Station");
  ASSERT_TRUE(ActLikeAScreenReader(box));
  ASSERT_TRUE(box->isChecked());
  std::vector<double> line = chart->StationLine();
  ASSERT_EQ(line.size(), 60u);
  EXPECT_NEAR(line[1], 0.275, 1e-9);
  EXPECT_NEAR(line[2], 0.1, 1e-9);
  for (size_t minute : {0u, 3u, 4u, 5u, 59u})
    EXPECT_TRUE(std::isnan(line[minute])) << minute;
  EXPECT_EQ(chart->TitleLines().back(), QStringLiteral("Line: the monitoring station's mean"));

  s.window.Combo("ComboBox_HIS_Unit")->setCurrentIndex(1);
  emit s.window.Combo("ComboBox_HIS_Unit")->activated(1);
  EXPECT_NEAR(chart->StationLine()[1], 27.5, 1e-9);
  page->Archive()->OnForwardClicked();
  EXPECT_EQ(chart->TitleLines().back(), QStringLiteral("No monitoring station readings here"));
  box->setChecked(false);
  EXPECT_TRUE(chart->StationLine().empty());
  EXPECT_TRUE(chart->TitleLines().back().startsWith("uR/h  K = "));
}

}  // namespace
}  // namespace dravion::test

namespace dravion::test {
namespace {

// From a device whose settings were read (uR/h, 50 uR/h) to one whose settings never were: the
// view goes back to the unit and threshold of a device it knows nothing of (uSv/h, none),
// instead of keeping the other device's.
TEST(ArchivePeriodGui, AnotherDeviceWithoutReadSettingsDropsTheUnitAndThresholdOfTheLast) {
  QTemporaryDir dir;
  const std::string first = dir.filePath(QStringLiteral("a.sqlite3")).toStdString();
  const std::string second = dir.filePath(QStringLiteral("b.sqlite3")).toStdString();
  const std::vector<HistoryRecord> records = {archive_test::Measurement(kDayStart, 60, 172),
                                              archive_test::Measurement(kDayStart + 60, 60, 86)};
  {
    HistoryArchive archive;
    ASSERT_TRUE(archive.Open(first)) << archive.Error();
    ASSERT_TRUE(archive.Merge(archive_test::DownloadOf(records, 100)).Ok);
    ASSERT_TRUE(RememberDeviceAlarm(archive, "214-36587", 1, 2));
    HistoryArchive other;
    ASSERT_TRUE(other.Open(second)) << other.Error();
    ArchiveBatch batch = archive_test::DownloadOf(records, 100);
    batch.Serial = "214-40001";
    batch.Uid = "0123456789ABCDEF00000001";
    ASSERT_TRUE(other.Merge(batch).Ok);
  }
  ArchiveSession s;
  ui::HistoryPage* page = s.Page();
  ASSERT_TRUE(s.ShowArchive(first));
  auto* unit = s.window.Combo("ComboBox_HIS_Unit");
  auto* above = s.window.Get<QCheckBox>("CheckBox_HIS_Above");
  EXPECT_EQ(unit->currentIndex(), 1);
  EXPECT_TRUE(above->isChecked());
  // In uSv/h the threshold shows the figures' decimal separator: a point in English, a comma in
  // Russian, whatever the computer's locale.
  unit->setCurrentIndex(0);
  emit unit->activated(0);
  auto* threshold = s.window.Get<QDoubleSpinBox>("Edit_HIS_Threshold");
  EXPECT_EQ(threshold->text(), QStringLiteral("0.50"));
  EXPECT_TRUE(s.window.Get<QLabel>("Label_HIS_Figures")->text().contains("Above&nbsp;0.500"));
  s.window.form.OnLanguageTriggered();
  EXPECT_EQ(threshold->text(), QStringLiteral("0,50"));
  EXPECT_TRUE(s.window.Get<QLabel>("Label_HIS_Figures")->text().contains("0,500"));
  s.window.form.OnLanguageTriggered();

  page->Archive()->Archive()->Close();
  ASSERT_TRUE(s.ShowArchive(second));
  EXPECT_EQ(page->Archive()->Serial(), "214-40001");
  EXPECT_EQ(unit->currentIndex(), 0);
  EXPECT_TRUE(page->Chart()->TitleLines().back().startsWith("uSv/h  K = "));
  EXPECT_FALSE(above->isChecked());
  const QString figures = s.window.Get<QLabel>("Label_HIS_Figures")->text();
  EXPECT_FALSE(figures.contains("Above")) << figures.toStdString();
  EXPECT_TRUE(figures.contains("uSv/h")) << figures.toStdString();
}

}  // namespace
}  // namespace dravion::test
