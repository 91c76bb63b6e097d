#include "ui/pages/measurement_page.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>

#include <regex>

#include "log/session_log.h"
#include "sim/device.h"
#include "support/comma_locale.h"
#include "support/pty.h"
#include "ui/device_session.h"
#include "ui/gui_support.h"
#include "ui/qt_services.h"

namespace dravion::test {
namespace {

// The window with its device session on the emulator, the measuring page open.
struct MeasuringWindow {
  MeasuringWindow() : pump(clock), device(window.form, pump, clock, dialogs, log, window.language) {
    window.form.SetLog(&log);
    window.form.SetActivePage(0);
    device.Start();
  }
  QString Text(const char* name) { return window.Get<QLabel>(name)->text(); }
  bool WaitFor(const std::function<bool()>& done, int ms) { return WaitUntil(done, ms); }
  bool Lit(const char* name) { return window.Get<QLabel>(name)->property("lit").toBool(); }

  TempPortFolder folder;
  Window window;
  ui::QtClock clock;
  ui::QtEventPump pump;
  ScriptedDialogs dialogs;
  SessionLog log;
  ui::DeviceSession device;
};

TEST(MeasurementPageGui, ReadsOnItsOwnWhileOpenAndOnRequestWhenTheBoxIsClear) {
  MeasuringWindow w;
  ASSERT_TRUE(w.WaitFor([&] { return w.Text("Label_Measure_Fon") == "--------"; }, 1000));
  EXPECT_EQ(w.Text("Label_Measure_Dose"), "--------");
  ASSERT_TRUE(w.WaitFor([&] { return w.device.connection.ports.FirstRefresh == 0; }, 4000));
  sim::DeviceConfig config;
  config.portFolder = w.folder.path();
  config.background = 0.3;
  sim::Device emulator(config);
  ASSERT_TRUE(emulator.Plug());

  // Automatic readings: the rate with its Russian unit, the bar, the dose, blinking indicators.
  ASSERT_TRUE(w.WaitFor(
      [&] { return w.Text("Label_Measure_Fon").endsWith(QString::fromUtf8(" мкЗв/ч")); }, 9000))
      << w.Text("Label_Measure_Fon").toStdString();
  EXPECT_TRUE(w.Text("Label_Measure_Dose").endsWith(QStringLiteral(" uSv")))
      << w.Text("Label_Measure_Dose").toStdString();
  EXPECT_GT(w.window.Get<QProgressBar>("ProgressBar_Measure_Fon")->value(), 0);
  // One decimal separator on the page, the language's: the device writes its dose with a point.
  const QRegularExpression point(QStringLiteral("\\d\\.\\d")), comma(QStringLiteral("\\d,\\d"));
  EXPECT_TRUE(w.Text("Label_Measure_Fon").contains(comma))
      << w.Text("Label_Measure_Fon").toStdString();
  EXPECT_TRUE(w.Text("Label_Measure_Dose").contains(comma))
      << w.Text("Label_Measure_Dose").toStdString();
  EXPECT_FALSE(w.Text("Label_Measure_Dose").contains(point));
  w.window.form.OnLanguageTriggered();  // English: points, at once and with the next reading
  EXPECT_TRUE(w.Text("Label_Measure_Dose").contains(point))
      << w.Text("Label_Measure_Dose").toStdString();
  EXPECT_FALSE(w.Text("Label_Measure_Fon").contains(comma));
  ASSERT_TRUE(w.WaitFor([&] { return w.Text("Label_Measure_Fon").endsWith(" uSv/h"); }, 3000));
  EXPECT_TRUE(w.Text("Label_Measure_Fon").contains(point))
      << w.Text("Label_Measure_Fon").toStdString();
  EXPECT_FALSE(w.window.Get<QLabel>("Label_Measure_Trend_Stats")->text().contains(comma));
  w.window.form.OnLanguageTriggered();  // back to Russian
  const bool lit = w.Lit("Label_Measure_Indicator_Fon");
  ASSERT_TRUE(w.WaitFor([&] { return w.Lit("Label_Measure_Indicator_Fon") != lit; }, 2000));

  // Another page: the labels are dashed and reading stops.
  w.window.form.SetActivePage(2);
  ASSERT_TRUE(w.WaitFor([&] { return w.Text("Label_Measure_Fon") == "--------"; }, 1000));
  EXPECT_EQ(w.window.Get<QProgressBar>("ProgressBar_Measure_Fon")->value(), 0);
  EXPECT_FALSE(w.Lit("Label_Measure_Indicator_Fon"));
  // Two link tests later the heartbeat has run for a second and more, and read nothing.
  const int reads = emulator.Requests(1, 0x02);
  int linkTests = emulator.Requests(1, 0x00);
  ASSERT_TRUE(w.WaitFor([&] { return emulator.Requests(1, 0x00) >= linkTests + 2; }, 20000));
  EXPECT_EQ(emulator.Requests(1, 0x02), reads);

  // Back, box cleared: Read becomes the way to read.
  w.window.form.SetActivePage(0);
  auto* box = w.window.Get<QCheckBox>("CheckBox_Measure_AutoRead");
  auto* read = w.window.Get<QPushButton>("BitBtn_Measure_Read");
  box->click();
  ASSERT_TRUE(w.WaitFor([&] { return read->isEnabled(); }, 4000));
  linkTests = emulator.Requests(1, 0x00);
  ASSERT_TRUE(w.WaitFor([&] { return emulator.Requests(1, 0x00) >= linkTests + 2; }, 20000));
  EXPECT_EQ(w.Text("Label_Measure_Fon"), "--------");
  EXPECT_EQ(emulator.Requests(1, 0x02), reads);
  read->click();
  EXPECT_TRUE(w.Text("Label_Measure_Fon").endsWith(QString::fromUtf8(" мкЗв/ч")))
      << w.Text("Label_Measure_Fon").toStdString();
  EXPECT_TRUE(read->isEnabled());
  EXPECT_TRUE(w.window.Get<QTabWidget>("PageControl1")->isEnabled());
  box->click();
  ASSERT_TRUE(w.WaitFor([&] { return !read->isEnabled(); }, 4000));

  // The dose reset: asked, sent by the heartbeat, reported.
  w.window.Get<QPushButton>("BitBtn_Measure_Dose_Reset")->click();
  ASSERT_EQ(w.dialogs.boxes.size(), 1u);
  EXPECT_EQ(w.dialogs.boxes[0].text, "Накопленная доза\n\rСброшена");
  EXPECT_GE(emulator.Requests(1, 0x0F), 1);
  EXPECT_TRUE(w.window.Get<QTabWidget>("PageControl1")->isEnabled());
}

TEST(MeasurementPageGui, VersionMessageShowsItsLinesWithoutTheCarriageReturns) {
  Window window;
  auto* page = window.form.MeasuringPage();
  page->ShowVersionMessage("In BOOT\n\rMode is\n\rUnavailable");
  EXPECT_EQ(window.Get<QLabel>("Label_Measure_Version_Msg")->text(),
            QStringLiteral("In BOOT\nMode is\nUnavailable"));
  page->ShowLevel(500);
  EXPECT_EQ(window.Get<QProgressBar>("ProgressBar_Measure_Fon")->value(), kLevelMax);
  window.form.SetActivePage(0);
  EXPECT_TRUE(page->PageActive());
  window.form.SetActivePage(1);
  EXPECT_FALSE(page->PageActive());
}

TEST(MeasurementPageGui, TheTrendFollowsTheReadingsSavesThemAndTheToggleRecordsEachOne) {
  MeasuringWindow w;
  QTemporaryDir files;
  auto* page = w.window.form.MeasuringPage();
  QString asked;
  page->AskSaveFileName = [&](const QString& title, const QString&, bool) {
    asked = title;
    return files.filePath(title.contains("PNG")   ? "chart.png"
                          : title.contains("CSV") ? "readings.csv"
                                                  : "recording.csv");
  };
  ASSERT_TRUE(w.WaitFor([&] { return w.device.connection.ports.FirstRefresh == 0; }, 4000));
  sim::DeviceConfig config;
  config.portFolder = w.folder.path();
  sim::Device emulator(config);
  ASSERT_TRUE(emulator.Plug());

  // Recording from the first reading on.
  auto* record = w.window.Get<QPushButton>("BitBtn_Measure_Record");
  EXPECT_EQ(record->text(), QString::fromUtf8("Запись в файл…"));
  record->click();
  EXPECT_TRUE(record->isChecked());
  ASSERT_TRUE(w.WaitFor([&] { return w.device.recorder.Recording(); }, 4000));
  EXPECT_EQ(record->text(), QString::fromUtf8("Остановить запись"));
  ASSERT_TRUE(w.WaitFor([&] { return w.device.trend.Readings().size() >= 3; }, 12000));
  const QString stats = w.Text("Label_Measure_Trend_Stats");
  EXPECT_TRUE(stats.startsWith(QString::fromUtf8("Мин. ")) &&
              stats.contains(QString::fromUtf8("Макс. ")))
      << stats.toStdString();
  record->click();
  EXPECT_FALSE(record->isChecked());
  ASSERT_TRUE(w.WaitFor([&] { return !w.device.recorder.Recording(); }, 4000));
  QFile recording(files.filePath("recording.csv"));
  ASSERT_TRUE(recording.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = recording.readAll().split('\n');
  EXPECT_EQ(lines.front(), "time,rate,rate_unit,level,dose,dose_unit,serial");
  EXPECT_EQ(lines.size() - 2, w.device.recorder.Lines());
  EXPECT_GE(w.device.recorder.Lines(), 3);

  // The span's choice reaches the model; the statistics follow the interface language.
  auto* span = w.window.Combo("ComboBox_Measure_Trend_Span");
  span->setCurrentIndex(1);
  emit span->activated(1);
  EXPECT_EQ(w.device.trend.Span(), MeasurementTrend::kLongSpanS);
  w.window.form.OnLanguageTriggered();
  EXPECT_TRUE(w.Text("Label_Measure_Trend_Stats").startsWith("Min "))
      << w.Text("Label_Measure_Trend_Stats").toStdString();
  EXPECT_EQ(span->currentText(), "1 hour");

  // Both saves write complete files.
  w.window.Get<QPushButton>("BitBtn_Measure_Save_Readings")->click();
  QFile saved(files.filePath("readings.csv"));
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  EXPECT_TRUE(saved.readAll().startsWith("time,rate,rate_unit,level,dose,dose_unit,serial\n2"));
  w.window.Get<QPushButton>("BitBtn_Measure_Save_PNG")->click();
  EXPECT_EQ(asked, "Save chart as PNG…");
  EXPECT_FALSE(QImage(files.filePath("chart.png")).isNull());
  EXPECT_TRUE(w.dialogs.boxes.empty());

  // Another unit on the device starts the trend afresh.
  emulator.SetParameter(9, 1);
  ASSERT_TRUE(w.WaitFor(
      [&] {
        const auto& r = w.device.trend.Readings();
        return !r.empty() && r.front().rateUnit == "uR/h";
      },
      5000));
}

// The fields of a CSV line, quotes taken off.
std::vector<std::string> CsvFields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

// A reading file as a user opens it: the header, then lines of seven fields with the rate as a
// number with a decimal point and the device's serial number last.
void ExpectReadingFile(const QString& path, int atLeast) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
  const QList<QByteArray> lines = file.readAll().split('\n');
  ASSERT_GE(lines.size(), atLeast + 2);
  EXPECT_EQ(lines.front(), "time,rate,rate_unit,level,dose,dose_unit,serial");
  EXPECT_TRUE(lines.back().isEmpty());
  for (qsizetype i = 1; i + 1 < lines.size(); ++i) {
    const std::vector<std::string> fields = CsvFields(lines[i].toStdString());
    ASSERT_EQ(fields.size(), 7u) << lines[i].toStdString();
    EXPECT_TRUE(std::regex_match(fields[1], std::regex(R"(\d+\.\d\d)"))) << fields[1];
    EXPECT_EQ(fields[2], "uSv/h");
    EXPECT_EQ(fields[6], "214-36587");
  }
}

// A screen reader flips "Auto" and "Record to file…" through their accessible toggle actions (no
// click): what is done follows what is shown. The process runs in a Russian locale, as the
// users' do, and the files still carry numbers with a decimal point in seven fields.
TEST(MeasurementPageGui, ScreenReaderTogglesActAndARussianLocaleRecordsNumbersWithAPoint) {
  MeasuringWindow w;
  const CommaDecimalLocale locale;
  ASSERT_TRUE(locale.Active()) << "no comma-decimal locale could be set";
  QTemporaryDir files;
  auto* page = w.window.form.MeasuringPage();
  int asked = 0;
  page->AskSaveFileName = [&](const QString& title, const QString&, bool) {
    ++asked;
    return files.filePath(title.contains("CSV") ? "readings.csv" : "recording.csv");
  };
  ASSERT_TRUE(w.WaitFor([&] { return w.device.connection.ports.FirstRefresh == 0; }, 4000));
  sim::DeviceConfig config;
  config.portFolder = w.folder.path();
  sim::Device emulator(config);
  ASSERT_TRUE(emulator.Plug());

  auto* box = w.window.Get<QCheckBox>("CheckBox_Measure_AutoRead");
  auto* read = w.window.Get<QPushButton>("BitBtn_Measure_Read");
  ASSERT_TRUE(ActLikeAScreenReader(box));
  EXPECT_FALSE(box->isChecked());
  ASSERT_TRUE(w.WaitFor([&] { return read->isEnabled(); }, 4000));
  ASSERT_TRUE(ActLikeAScreenReader(box));
  EXPECT_TRUE(box->isChecked());
  ASSERT_TRUE(w.WaitFor([&] { return !read->isEnabled(); }, 4000));

  // The toggle action returns before the file dialog opens (a screen reader's call would wait
  // for the dialog to close and time out); the dialog follows from the event loop.
  auto* record = w.window.Get<QPushButton>("BitBtn_Measure_Record");
  ASSERT_TRUE(ActLikeAScreenReader(record));
  EXPECT_EQ(asked, 0);
  EXPECT_TRUE(record->isChecked());
  ASSERT_TRUE(w.WaitFor([&] { return w.device.recorder.Recording(); }, 4000));
  EXPECT_EQ(asked, 1);
  ASSERT_TRUE(w.WaitFor([&] { return w.device.recorder.Lines() >= 3; }, 12000));
  ASSERT_TRUE(ActLikeAScreenReader(record));
  EXPECT_FALSE(record->isChecked());
  ASSERT_TRUE(w.WaitFor([&] { return !w.device.recorder.Recording(); }, 4000));
  ExpectReadingFile(files.filePath("recording.csv"), 3);

  // The trend's own CSV, in the same locale.
  w.window.Get<QPushButton>("BitBtn_Measure_Save_Readings")->click();
  ExpectReadingFile(files.filePath("readings.csv"), 3);
  EXPECT_TRUE(w.dialogs.boxes.empty());
}

}  // namespace
}  // namespace dravion::test
