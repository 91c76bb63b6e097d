// The manager's process entry: the main window, then the busy animation and the about box, the
// message loop, and the exit steps once the window has closed.
#include <QApplication>
#include <QMessageBox>
#include <exception>
#include <memory>

#include "lifecycle/app_lifecycle.h"
#include "log/ftp_transfer.h"
#include "log/remote_folder.h"
#include "log/report_upload.h"
#include "log/session_log.h"
#include "ui/device_session.h"
#include "ui/main_window.h"
#include "ui/qt_services.h"
#include "ui/secondary_windows.h"
#ifdef DRAVION_HAVE_FTP
#include "ftp/curl_ftp_transfer.h"
#endif

namespace {

using namespace dravion;

int Run(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
  QApplication::setQuitOnLastWindowClosed(false);

  ui::QtClock clock;
  ui::QtEventPump pump(clock);
  ui::QtOptionStore options;
  Language language;
  SessionLog log;

  ui::TForm1 form1(language, options);
  ui::TForm3 form3(&form1);
  ui::TForm2 form2(&form1, language);
  form1.SetSecondaryWindows(&form3, &form2);
  form1.SetLog(&log);
  ui::QtDialogs dialogs(language, &form1);

  ui::DeviceSession device(form1, pump, clock, dialogs, log, language);

  AppLifecycle lifecycle(options, language, dialogs, log, clock, &form1);
  if (!lifecycle.FormCreate()) return 0;  // refused: the window is never shown
  device.Start();

  // A close waits while an exchange waits in the pump or a box is open.
  form1.SetBusyProbe([&] { return pump.Depth() > 0 || dialogs.OpenCount() > 0; });
  pump.SetIdleCallback([&] { form1.OperationEnded(); });
  ui::SignalCloser signalCloser(&form1);
  QObject::connect(&form1, &ui::TForm1::Closed, &app, &QApplication::quit);

  form1.show();
  const int result = app.exec();

  std::unique_ptr<FtpTransfer> transfer;
#ifdef DRAVION_HAVE_FTP
  transfer = MakeReportTransfer(&options);
#endif
  ReportUploader uploader(log, pump, clock, transfer.get(), &form1);
  lifecycle.FormDestroy(uploader, ReportIdentityOf(device.deviceInfo));
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& error) {
    QMessageBox::critical(nullptr, QString::fromLatin1(kApplicationTitle),
                          QString::fromLocal8Bit(error.what()));
  } catch (...) {
    QMessageBox::critical(nullptr, QString::fromLatin1(kApplicationTitle), QString());
  }
  return 1;
}
