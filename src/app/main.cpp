// The manager's process entry: the main window, then the busy animation and the about box.
#include <QApplication>
#include <QMessageBox>
#include <exception>

#include "log/log_sink.h"
#include "services/clock.h"
#include "ui/captions.h"
#include "ui/main_window.h"
#include "ui/qt_services.h"
#include "ui/secondary_windows.h"

namespace {

using namespace dravion;

// Log lines go to the log memo of the main window.
class MemoSink : public LogSink {
 public:
  explicit MemoSink(ui::TForm1& window) : window_(window) {}
  void LogLine(const std::string& text) override {
    if (text == last_) return;
    last_ = text;
    window_.AppendLogLine(ui::Q(text));
  }

 private:
  ui::TForm1& window_;
  std::string last_;
};

int Run(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("DravionExplorer 1.7"));
  QApplication::setQuitOnLastWindowClosed(false);

  ui::QtClock clock;
  ui::QtEventPump pump(clock);
  ui::QtOptionStore options;
  Language language;

  ui::TForm1 form1(language, options);
  ui::TForm3 form3(&form1);
  ui::TForm2 form2(&form1, language);
  form1.SetSecondaryWindows(&form3, &form2);
  ui::QtDialogs dialogs(language, &form1);
  MemoSink log(form1);

  // A close waits while an exchange waits in the pump or a box is open.
  form1.SetBusyProbe([&] { return pump.Depth() > 0 || dialogs.OpenCount() > 0; });
  pump.SetIdleCallback([&] { form1.OperationEnded(); });
  ui::SignalCloser signalCloser(&form1);
  QObject::connect(&form1, &ui::TForm1::Closed, &app, &QApplication::quit);

  // FormCreate
  form1.LoadLanguageOption();
  form1.LoadPageOption();
  const std::string rule(42, '#');
  log.LogLine(rule);
  log.LogLine("# START: " + clock.DateTimeText());
  log.LogLine(std::string("# APP VERSION = ") + ui::AppVersion());
  log.LogLine(rule);

  form1.show();
  const int result = app.exec();

  // FormDestroy
  form1.SavePageOption();
  log.LogLine(rule);
  log.LogLine("# END: " + clock.DateTimeText());
  log.LogLine(rule);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& error) {
    QMessageBox::critical(nullptr, QStringLiteral("DravionExplorer 1.7"),
                          QString::fromLocal8Bit(error.what()));
  } catch (...) {
    QMessageBox::critical(nullptr, QStringLiteral("DravionExplorer 1.7"), QString());
  }
  return 1;
}
