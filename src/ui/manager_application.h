#pragma once

#include <QApplication>
#include <QString>
#include <functional>

namespace dravion::ui {

// The manager's application object. An exception that escapes an event handler (or start-up) is
// shown in an error box while the application and its windows still exist; then the run ends
// through `Ending` (the window's normal close, so that the exit steps still run).
class ManagerApplication : public QApplication {
 public:
  ManagerApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;

  // Shows the box with the exception's text (empty for a thrown object that is no exception) and
  // ends the run. Only the first one is shown; the run is already ending after it.
  void ReportUnexpected(const QString& text);
  // Whether an unexpected exception ended the run.
  bool Failed() const { return failed_; }
  // How the run ends after the box; unset: every event loop is left at once.
  std::function<void()> Ending;

  // For tests of the program as a whole: DRAVION_TEST_THROW_AFTER_MS=n makes an event handler
  // throw n ms after this call; the box then closes itself after a moment and writes its title
  // and text to stderr.
  void ArmTestException();

 private:
  bool failed_ = false;
  bool selfClosingBox_ = false;
};

}  // namespace dravion::ui
