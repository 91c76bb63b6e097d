// The manager's process entry: the main window, then the busy animation and the about box, the
// message loop, and the exit steps once the window has closed.
#include <QApplication>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

#include "lifecycle/app_lifecycle.h"
#include "lifecycle/manager_exit.h"
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

#ifdef Q_OS_WIN
#include <windows.h>

#include <QAbstractNativeEventFilter>
#endif

namespace {

using namespace dravion;

#ifdef Q_OS_WIN
// The end of the Windows session (sign-out, shut-down, restart): the process ends once the window
// procedure returns from WM_ENDSESSION, without the window being closed, so the exit steps run
// here. The message reaches every top-level window; the steps run once. While `held` answers
// true (a firmware write runs, its reason given with ShutdownBlockReasonCreate), the query that
// comes first is answered FALSE: Windows then waits, showing the reason, unless the user forces
// the end.
class SessionEndFilter : public QAbstractNativeEventFilter {
 public:
  SessionEndFilter(std::function<bool()> held, std::function<void()> onEnd)
      : held_(std::move(held)), onEnd_(std::move(onEnd)) {}
  bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override {
    if (type != "windows_generic_MSG" || message == nullptr) return false;
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg->message == WM_QUERYENDSESSION && held_ && held_()) {
      if (result != nullptr) *result = FALSE;
      return true;
    }
    if (msg->message == WM_ENDSESSION && msg->wParam != 0 && onEnd_) {
      const std::function<void()> onEnd = std::move(onEnd_);
      onEnd_ = nullptr;
      onEnd();
    }
    return false;  // Qt's own handling follows
  }

 private:
  std::function<bool()> held_;
  std::function<void()> onEnd_;
};
#endif

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

  // The exit steps (the recording's end, the page option, the log footer, log.txt, the report
  // upload), run once: after the message loop, or at the end of the Windows session.
  ManagerExit exitSteps(lifecycle, device.recorder, log, pump, clock, language);
#ifdef DRAVION_HAVE_FTP
  exitSteps.makeTransfer = [&options] { return MakeReportTransfer(&options); };
#endif
  exitSteps.identity = [&device] { return ReportIdentityOf(device.deviceInfo); };
  exitSteps.status = &window;
#ifdef Q_OS_WIN
  SessionEndFilter sessionEnd(
      [&window] { return window.SessionEndHeld(); },
      [&] { Guarded(app, [&] { exitSteps.Run(ManagerExit::Kind::SessionEnding); }); });
  app.installNativeEventFilter(&sessionEnd);
#endif

  int result = 0;
  std::optional<ui::SignalCloser> signalCloser;
  Guarded(app, [&] {
    if (!lifecycle.StartUp()) return;  // refused: the window is never shown
    device.connection.manager.RememberDevicePort(&options);
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
  Guarded(app, [&] { exitSteps.Run(ManagerExit::Kind::WindowClosed); });
#ifdef Q_OS_WIN
  app.removeNativeEventFilter(&sessionEnd);
#endif
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
