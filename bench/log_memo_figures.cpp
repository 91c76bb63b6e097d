// The log memo of the main window at full size: 20,000 lines logged (the full mark on the way),
// then the last line rewritten 10,000 times as a flash write's progress does, with the log page on
// screen (offscreen platform) and the window's events let through every 100 lines as a running
// program would. Three runs, each on a new window.
//
//   build/bench/log_memo_figures

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTextBlock>
#include <cstdio>
#include <string>

#include "bench_window.h"
#include "log/session_log.h"
#include "services/language.h"
#include "support/fakes.h"
#include "ui/main_window.h"

using namespace dravion;

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  std::printf("log memo: 20000 lines, then 10000 rewrites of the last line (log page shown)\n");
  for (int run = 1; run <= 3; ++run) {
    test::MemoryOptionStore options;
    bench::BenchWindow window(options);
    ui::MainWindow& form = window.form;
    SessionLog log;
    form.SetLog(&log);
    form.show();
    form.ActionByName(QStringLiteral("Action_Log_Visible"))->trigger();
    form.findChild<QTabWidget*>(QStringLiteral("PageControl1"))->setCurrentIndex(4);
    QApplication::processEvents();

    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 20000; ++i) {
      log.LogLine("Read PAR[" + std::to_string(i) + "] : 0x0002(2)");
      if (i % 100 == 0) QApplication::processEvents();
    }
    QApplication::processEvents();
    const qint64 appendNs = timer.nsecsElapsed();
    timer.restart();
    for (int i = 0; i <= 10000; ++i) {
      log.ReplaceLastLine("# ЗАПИСЬ: " + std::to_string(i / 100) + "% " + std::to_string(i / 33) +
                          "Кб [>>>>>>>>>>>>-------------]");
      if (i % 100 == 0) QApplication::processEvents();
    }
    QApplication::processEvents();
    const qint64 rewriteNs = timer.nsecsElapsed();
    const QTextDocument* document = form.LogMemo()->document();
    const bool intact = document->blockCount() == 20001 &&
                        document->findBlockByNumber(10000).text() == "!!!! LOG FULL !!!";
    std::printf("  run %d: %7.1f ms lines + %7.1f ms rewrites = %7.1f ms%s\n", run, appendNs / 1e6,
                rewriteNs / 1e6, (appendNs + rewriteNs) / 1e6, intact ? "" : "  (memo WRONG)");
  }
  return 0;
}
