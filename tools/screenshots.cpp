// Renders the main window's pages in both languages, at its first size and at its least size,
// plus the about box and the busy animation, to PNG files in the folder given as argument. Where
// the emulator is built, the window is first shown without a device (the pages as they are
// before one is plugged in), then an emulated device (main program 12.5) is plugged in on a
// private port folder, so the status bar and the About-device page show a really identified
// device; the history page is shown while a download runs and on a view without records.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPixmap>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <cmath>
#include <functional>

#include "lifecycle/options.h"
#include "services/language.h"
#include "ui/history_chart.h"
#include "ui/main_window.h"
#include "ui/qt_services.h"
#include "ui/secondary_windows.h"
#include "ui/window_connection_view.h"
#ifdef DRAVION_HAVE_SIM
#include <memory>

#include "archive/archive_pane.h"
#include "log/session_log.h"
#include "protocol/device_format.h"
#include "services/dialogs.h"
#include "sim/device.h"
#include "ui/device_session.h"
#include "ui/pages/archive_period_panel.h"
#include "ui/pages/history_page.h"
#endif

namespace {

class NoOptions : public dravion::OptionStore {
 public:
  std::optional<int64_t> ReadInt(const std::string&) override { return std::nullopt; }
  bool WriteInt(const std::string&, int64_t) override { return true; }
  std::optional<std::string> ReadText(const std::string&) override { return std::nullopt; }
};

void Settle() {
  for (int i = 0; i < 5; ++i)
    QApplication::processEvents();
}

#ifdef DRAVION_HAVE_SIM
// Boxes answered at once, so that a download can be shown and cancelled without a user.
class AnsweringDialogs : public dravion::Dialogs {
 public:
  void ShowMessage(dravion::BoxKind, const std::string&) override {}
  bool Ask(dravion::QuestionKind, const std::string&) override { return false; }
  bool AskText(const std::string&, const std::string&, std::string&) override { return false; }
};
#endif

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
  QDir().mkpath(folder);
  NoOptions options;
  dravion::Language language;
  dravion::ui::MainWindow form(language, options);
  dravion::ui::BusyWindow busy(&form);
  dravion::ui::AboutWindow about(&form, language);
  form.SetSecondaryWindows(&busy, &about);
  dravion::LoadLanguageOption(options, language);
  form.ApplyLanguage();
  form.show();

#ifdef DRAVION_HAVE_SIM
  QTemporaryDir ports;
  qputenv("DRAVION_PORT_DIR", ports.path().toLocal8Bit());
  qputenv("DRAVION_SYSTEM_PORTS", "0");
  dravion::ui::QtClock clock;
  dravion::ui::QtEventPump pump(clock);
  AnsweringDialogs dialogs;
  dravion::SessionLog log;
  form.SetLog(&log);
  dravion::ui::DeviceSession session(form, pump, clock, dialogs, log, language);
  session.Start();
  const auto waitFor = [](const std::function<bool()>& done, int ms) {
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < ms)
      QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
  };
  // Ports present at the first scan are never candidates: plug in after it.
  waitFor([&] { return session.connection.ports.FirstRefresh == 0; }, 5000);
  auto* pages = form.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
  // No device yet: what the pages say before one is plugged in.
  for (const char* lang : {"ru", "en"}) {
    for (int page : {0, 3}) {
      pages->setCurrentIndex(page);
      Settle();
      form.grab().save(
          QStringLiteral("%1/%2-no-device-page%3.png").arg(folder, QLatin1String(lang)).arg(page));
    }
    form.OnLanguageTriggered();
  }
  Settle();
  dravion::sim::DeviceConfig config;
  config.portFolder = ports.path().toStdString();
  config.mainVersion = 0x0C05;
  config.historySize = 30000;
  config.baud = 230400;  // a download that takes a while, as on the real line
  config.commandTimeUs = dravion::sim::RealisticCommandTimes();
  auto device = std::make_unique<dravion::sim::Device>(config);
  device->Plug();
  if (!waitFor([&] { return session.deviceInfo.Valid != 0; }, 10000))
    qWarning("the emulated device was not identified");
  // Ten minutes of readings in the measuring page's trend, with a passing rise.
  {
    const uint32_t now = clock.TickMs();
    const dravion::LocalDateTime wall = clock.Now();
    dravion::MeasurementReading reading;
    reading.rateUnit = "uSv/h";
    reading.device = dravion::FormatUid(session.deviceInfo.Uid);
    reading.dose = "0,42";
    reading.doseUnit = "mSv";
    for (int i = 600; i > 0; --i) {
      reading.tick = now - static_cast<uint32_t>(i) * 1000;
      reading.time = dravion::ShiftedBy(wall, -i);
      const double bump = 0.35 * std::exp(-std::pow((i - 250) / 40.0, 2));
      reading.rate = 0.11 + ((i * 37) % 11) * 0.004 + bump;
      reading.level = static_cast<int>(reading.rate * 100);
      session.trend.OnReading(reading);
    }
  }
  Settle();
#else
  // Something to look at: a device line, the indicator, a chart and settings.
  form.ShowStatus(QStringLiteral("Dravion ZAV-740.41.0 S/N: 214-36587"), 1);
  dravion::ui::WindowConnectionView view(form);
  view.ShowLink(dravion::LinkState::OK, dravion::ColourOfLink(dravion::LinkState::OK),
                dravion::TextOfLink(dravion::LinkState::OK, true));
  view.ShowPortPanel("COM 7");
  form.findChild<QTextEdit*>(QStringLiteral("Memo_Info"))
      ->setPlainText(QStringLiteral("Connected Device Information\nDevice: Dravion ZAV-740.41.0\n"
                                    "S/N: 214-36587\n------------------------------\n"
                                    "SW BOOT: 1.3\nSW MAIN: 1.20.12.5\n"
                                    "------------------------------\n"
                                    "Upgrade to Version 1.20.12.6\nis avaliable"));
#endif
  auto* chart = form.Chart();
  chart->TitleAdd(QStringLiteral("History for Hour : 07.12.2026-10"));
  chart->TitleAdd(QStringLiteral("uR/h  K = 1,27"));
  for (int i = 0; i < 60; ++i) {
    const bool covered = i % 17 != 5;
    chart->Add(1, covered ? 12 + (i * 7) % 9 : 1, QString::number(i),
               covered ? QColor(255, 255, 0) : QColor(255, 0, 255), !covered);
    chart->Add(2, covered ? 10 + (i * 5) % 6 : 1, QString::number(i),
               covered ? QColor(0, 255, 0) : QColor(255, 0, 255), !covered);
    chart->Add(3, 1, QString::number(i), covered ? QColor(0, 255, 0) : QColor(255, 0, 255), true);
  }
  form.findChild<QComboBox*>(QStringLiteral("ComboBox_Setup_Units"))->setCurrentIndex(0);
  form.FillBackgroundThresholds(0);
  form.FillDoseThresholds(0);
  for (const char* name :
       {"ComboBox_Setup_Language", "ComboBox_Setup_Fon_Level", "ComboBox_Setup_Dose_Level",
        "ComboBox_Setup_Screen_Bright", "ComboBox_Setup_Screen_TOff", "ComboBox_Setup_Power_TOff",
        "ComboBox_Setup_History_M", "ComboBox_Setup_Alarm_H", "ComboBox_Setup_Alarm_M"})
    form.findChild<QComboBox*>(QString::fromLatin1(name))->setCurrentIndex(1);
  form.ActionByName(QStringLiteral("Action_Log_Visible"))->trigger();
  for (int i = 0; i < 40; ++i)
    form.AppendLogLine(
        QStringLiteral("Read PAR[0x%1(%2)] : 0x0002(2)").arg(i, 4, 16, QLatin1Char('0')).arg(i));

#ifndef DRAVION_HAVE_SIM
  auto* pages = form.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
#endif
  const QSize first = form.size();
  for (const char* lang : {"ru", "en"}) {
#ifdef DRAVION_HAVE_SIM
    // The history page while a download runs, then on a minute after the newest record.
    {
      // The history is refused below main program 12.6, which the About-device page shows this
      // device to run (for its upgrade offer): it runs the release for these two pictures.
      const uint16_t shownVersion = session.deviceInfo.Soft.MainVersion;
      session.deviceInfo.Soft.MainVersion = 0x0C06;
      pages->setCurrentIndex(1);
      Settle();
      auto* history = form.History();
      auto* summary = form.findChild<QLabel*>(QStringLiteral("Label_HIS_Summary"));
      bool grabbed = false;
      QTimer poll;
      QObject::connect(&poll, &QTimer::timeout, [&] {
        if (grabbed || !history->Controller()->HistoryReading ||
            !summary->text().contains(QLatin1Char(':')))
          return;
        grabbed = true;
        form.grab().save(
            QStringLiteral("%1/%2-history-downloading.png").arg(folder, QLatin1String(lang)));
      });
      poll.start(50);
      history->Controller()->OnReadClicked();
      poll.stop();
      Settle();
      history->Controller()->OnForwardClicked();
      history->Controller()->OnForwardClicked();
      Settle();
      form.grab().save(
          QStringLiteral("%1/%2-history-no-records.png").arg(folder, QLatin1String(lang)));
      history->Controller()->OnNewestClicked();
      history->Controller()->OnUpClicked();
      // The archive the download went into: the newest day's hours with a period dragged
      // across them, its figures under the chart, and the period's report as a PDF document.
      auto* source = form.findChild<QComboBox*>(QStringLiteral("ComboBox_HIS_Source"));
      emit source->activated(1);
      if (history->Archive()->Shown()) {
        history->Archive()->OnUpClicked();
        history->Archive()->OnUpClicked();
        history->Period()->Controller()->SetBars(6, 14);
        history->Chart()->SetSelection(6, 14);
        Settle();
        form.grab().save(
            QStringLiteral("%1/%2-history-archive-period.png").arg(folder, QLatin1String(lang)));
        history->Period()->SaveReport(
            QStringLiteral("%1/%2-report.pdf").arg(folder, QLatin1String(lang)).toStdString());
        emit source->activated(0);
      }
      session.deviceInfo.Soft.MainVersion = shownVersion;
      Settle();
    }
#endif
    for (const QSize& size : {first, form.minimumSize()}) {
      form.resize(size);
      for (int page = 0; page < pages->count(); ++page) {
        pages->setCurrentIndex(page);
        Settle();
#ifdef DRAVION_HAVE_SIM
        // The measuring page with a reading of its own (the first comes two seconds after it
        // opens).
        if (page == 0) {
          auto* rate = form.findChild<QLabel*>(QStringLiteral("Label_Measure_Fon"));
          waitFor([&] { return rate->text().contains(QLatin1Char(',')); }, 5000);
          Settle();
        }
#endif
        form.grab().save(QStringLiteral("%1/%2-page%3-%4x%5.png")
                             .arg(folder, QLatin1String(lang))
                             .arg(page)
                             .arg(size.width())
                             .arg(size.height()));
      }
    }
    form.resize(first);
    Settle();
    form.OnAboutTriggered();
    Settle();
    about.grab().save(QStringLiteral("%1/%2-about.png").arg(folder, QLatin1String(lang)));
    about.CloseAbout();
    form.OnLanguageTriggered();
  }
  form.ShowBusy(50);
  QPixmap strip(4 * 131, 115);
  strip.fill(QColor(200, 210, 220));
  for (int i = 0; i < 4; ++i) {
    busy.OnAnimationTimer();
    busy.render(&strip, QPoint(131 * i, 0));
  }
  strip.save(folder + QStringLiteral("/busy-frames.png"));
  return 0;
}
