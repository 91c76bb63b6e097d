#include <gtest/gtest.h>

#include <QAction>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTextBlock>

#include "log/session_log.h"
#include "ui/gui_support.h"

namespace dravion::test {
namespace {

// The log with its memo stays cheap at its full size: 20,000 lines, then a progress line
// rewritten 10,000 times in place, with the log page on screen.
TEST(LogMemo, TwentyThousandLinesThenTenThousandRewritesStayCheap) {
  Window w;
  SessionLog log;
  w.form.SetLog(&log);
  w.form.show();
  w.form.ActionByName("Action_Log_Visible")->trigger();
  w.Get<QTabWidget>("PageControl1")->setCurrentIndex(4);
  QApplication::processEvents();

  // How long this takes: bench/log_memo_figures.
  for (int i = 0; i < 20000; ++i) {
    log.LogLine("Read PAR[" + std::to_string(i) + "] : 0x0002(2)");
    if (i % 100 == 0) QApplication::processEvents();  // the window keeps painting meanwhile
  }
  QApplication::processEvents();
  for (int i = 0; i <= 10000; ++i) {
    log.ReplaceLastLine("Writing flash: " + std::to_string(i / 100) + " %");
    if (i % 100 == 0) QApplication::processEvents();
  }
  QApplication::processEvents();

  QPlainTextEdit* memo = w.form.LogMemo();
  // The full mark came at 10,000 lines.
  EXPECT_EQ(memo->document()->blockCount(), 20001);
  EXPECT_EQ(memo->document()->findBlockByNumber(10000).text(), "!!!! LOG FULL !!!");
  EXPECT_EQ(memo->document()->lastBlock().text(), "Writing flash: 100 %");
}

TEST(LogMemo, MirrorsTheLogAndClearReportEmptiesBoth) {
  Window w;
  SessionLog log;
  log.LogLine("before");
  w.form.SetLog(&log);
  log.LogLine("one");
  log.ReplaceLastLine("two");
  EXPECT_EQ(w.form.LogMemo()->toPlainText(), "before\ntwo");
  int cleared = 0;
  QObject::connect(&w.form, &ui::MainWindow::LogCleared, [&] { ++cleared; });
  w.form.OnClearLogTriggered();
  EXPECT_TRUE(w.form.LogMemo()->toPlainText().isEmpty());
  EXPECT_EQ(log.LineCount(), 0u);
  log.LogLine("one");  // the last line logged before the clearing is still dropped
  log.LogLine("three");
  EXPECT_EQ(w.form.LogMemo()->toPlainText(), "three");
  EXPECT_EQ(cleared, 1);
  EXPECT_TRUE(w.form.LogMemo()->isReadOnly());
}

}  // namespace
}  // namespace dravion::test
