#include "ui/manager_application.h"

#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <exception>
#include <stdexcept>

namespace dravion::ui {

ManagerApplication::ManagerApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool ManagerApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    ReportUnexpected(QString::fromLocal8Bit(error.what()));
  } catch (...) {
    ReportUnexpected(QString());
  }
  return false;
}

void ManagerApplication::ReportUnexpected(const QString& text) {
  if (failed_) return;
  failed_ = true;
  QMessageBox box(QMessageBox::Critical, applicationName(), text, QMessageBox::Ok);
  if (selfClosingBox_) {
    QTimer::singleShot(300, &box, [&box] {
      std::fprintf(stderr, "exception box: %s | %s\n", qUtf8Printable(box.windowTitle()),
                   qUtf8Printable(box.text()));
      std::fflush(stderr);
      box.accept();
    });
  }
  box.exec();
  if (Ending)
    Ending();
  else
    QCoreApplication::exit(1);
}

void ManagerApplication::ArmTestException() {
  bool ok = false;
  const int ms = qEnvironmentVariableIntValue("DRAVION_TEST_THROW_AFTER_MS", &ok);
  if (!ok) return;
  selfClosingBox_ = true;
  QTimer::singleShot(ms, this,
                     [] { throw std::runtime_error("Test exception in the event loop"); });
}

}  // namespace dravion::ui
