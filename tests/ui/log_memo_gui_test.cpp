#include <gtest/gtest.h>

#include <QAction>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTextBlock>
#include <cstdio>

#include "ui/gui_support.h"

namespace dravion::test {
namespace {

// The log memo stays cheap at its full size: 20,000 lines, then a progress line rewritten
// 10,000 times in place, with the log page on screen.
TEST(LogMemo, TwentyThousandLinesThenTenThousandRewritesStayCheap) {
  Window w;
  w.form.show();
  w.form.ActionByName("Action_Log_Visible")->trigger();
  w.Get<QTabWidget>("PageControl1")->setCurrentIndex(4);
  QApplication::processEvents();

  QElapsedTimer timer;
  timer.start();
  for (int i = 0; i < 20000; ++i) {
    w.form.AppendLogLine(QStringLiteral("Read PAR[0x%1(%2)] : 0x0002(2)").arg(i, 4, 16).arg(i));
    if (i % 100 == 0) QApplication::processEvents();  // the window keeps painting meanwhile
  }
  QApplication::processEvents();
  const qint64 appendMs = timer.restart();
  for (int i = 0; i <= 10000; ++i) {
    w.form.ReplaceLastLogLine(QStringLiteral("Writing flash: %1 %").arg(i / 100));
    if (i % 100 == 0) QApplication::processEvents();
  }
  QApplication::processEvents();
  const qint64 rewriteMs = timer.elapsed();
  std::printf(
      "log memo: 20000 lines in %lld ms (%.1f us/line), 10000 rewrites in %lld ms "
      "(%.1f us/rewrite)\n",
      static_cast<long long>(appendMs), appendMs * 1000.0 / 20000,
      static_cast<long long>(rewriteMs), rewriteMs * 1000.0 / 10000);

  QPlainTextEdit* memo = w.form.LogMemo();
  EXPECT_EQ(memo->document()->blockCount(), 20000);
  EXPECT_EQ(memo->document()->lastBlock().text(), "Writing flash: 100 %");
  EXPECT_LT(appendMs, 10000);
  EXPECT_LT(rewriteMs, 10000);
}

TEST(LogMemo, PopupMenuClearsTheMemo) {
  Window w;
  w.form.AppendLogLine("one");
  w.form.ReplaceLastLogLine("two");
  EXPECT_EQ(w.form.LogMemo()->toPlainText(), "two");
  int cleared = 0;
  QObject::connect(&w.form, &ui::TForm1::LogCleared, [&] { ++cleared; });
  w.form.Action_LOG_ClearExecute();
  EXPECT_TRUE(w.form.LogMemo()->toPlainText().isEmpty());
  EXPECT_EQ(cleared, 1);
  EXPECT_TRUE(w.form.LogMemo()->isReadOnly());
}

}  // namespace
}  // namespace dravion::test
