// The manager's process entry: the main window, then the busy animation and the about box, the
// message loop, and the exit steps once the window has closed.
#include <QApplication>
#include <exception>
#include <memory>
#include <optional>

#include "lifecycle/app_lifecycle.h"
#include "log/ftp_transfer.h"
#include "log/remote_folder.h"
#include "log/report_upload.h"
#include "log/session_log.h"
#include "ui/device_session.h"
#include "ui/main_window.h"
#include "ui/manager_application.h"
#include "ui/qt_services.h"
#include "ui/secondary_windows.h"
#ifdef DRAVION_HAVE_FTP
#include "ftp/curl_ftp_transfer.h"
#endif

namespace {

using namespace dravion;

// Runs `step`; an exception that escapes it is shown while the application exists.
template <typename Step>
void Guarded(ui::ManagerApplication& app, Step step) {
  try {
    step();
  } catch (const std::exception& error) {
    app.ReportUnexpected(QString::fromLocal8Bit(error.what()));
  } catch (...) {
    app.ReportUnexpected(QString());
  }
}

int Run(ui::ManagerApplication& app) {
  ui::QtClock clock;
  ui::QtEventPump pump(clock);
  ui::QtOptionStore options;
  Language language;
  SessionLog log;

  ui::MainWindow window(language, options);
  ui::BusyWindow busy(&window);
  ui::AboutWindow about(&window, language);
  window.SetSecondaryWindows(&busy, &about);
  window.SetLog(&log);
  ui::QtDialogs dialogs(language, &window);

  ui::DeviceSession device(window, pump, clock, dialogs, log, language);
  AppLifecycle lifecycle(options, language, dialogs, log, clock, &window);

  int result = 0;
  std::optional<ui::SignalCloser> signalCloser;
  Guarded(app, [&] {
    if (!lifecycle.StartUp()) return;  // refused: the window is never shown
    device.Start();

    // A close waits while an exchange waits in the pump or a box is open.
    window.SetBusyProbe([&] { return pump.Depth() > 0 || dialogs.OpenCount() > 0; });
    pump.SetIdleCallback([&] { window.OperationEnded(); });
    signalCloser.emplace(&window);
    QObject::connect(&window, &ui::MainWindow::Closed, &app, &QApplication::quit);

    window.show();
    app.ArmTestException();
    // After the box of an unexpected exception the window closes the normal way.
    app.Ending = [&] { window.close(); };
    result = app.exec();
  });
  app.Ending = nullptr;

  // The exit steps run after an unexpected exception too: the page option and the log.
  Guarded(app, [&] {
    std::unique_ptr<FtpTransfer> transfer;
#ifdef DRAVION_HAVE_FTP
    transfer = MakeReportTransfer(&options);
#endif
    ReportUploader uploader(log, pump, clock, transfer.get(), &window);
    lifecycle.ShutDown(uploader, ReportIdentityOf(device.deviceInfo));
  });
  return app.Failed() ? 1 : result;
}

}  // namespace

int main(int argc, char** argv) {
  ui::ManagerApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
  // The desktop entry of the installed package: its icon and name in the task bar.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.tarvo.DravionManager"));
  QApplication::setQuitOnLastWindowClosed(false);
  int result = 1;
  Guarded(app, [&] { result = Run(app); });
  return app.Failed() ? 1 : result;
}
