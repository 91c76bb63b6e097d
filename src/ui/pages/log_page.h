#pragma once

#include <QStringList>
#include <QWidget>

class QPlainTextEdit;

namespace dravion::ui {

// The log page (TabSheet_Log): the memo Memo_Log that mirrors the run's log line by line.
class LogPage : public QWidget {
  Q_OBJECT
 public:
  explicit LogPage(QWidget* parent = nullptr);

  void AppendLine(const QString& line);
  void ReplaceLastLine(const QString& line);
  void Clear();
  // The memo, with every line appended so far.
  QPlainTextEdit* Memo();

 signals:
  void MenuRequested(const QPoint& globalPosition);  // the memo's pop-up menu, where to show it

 private:
  // Puts the lines appended since the last turn of the event loop into the memo.
  void FlushLines();

  QPlainTextEdit* memo_ = nullptr;
  QStringList pending_;  // lines appended and not yet in the memo
  int memoLines_ = 0;    // lines in the memo
};

}  // namespace dravion::ui
