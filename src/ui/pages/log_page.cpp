#include "ui/pages/log_page.h"

#include <QBoxLayout>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

#include "ui/pages/page_layout.h"

namespace dravion::ui {

namespace {

QFont MonoFont(int pixels, const QStringList& families) {
  QFont font;
  font.setFamilies(families + QStringList{QStringLiteral("DejaVu Sans Mono"),
                                          QStringLiteral("Liberation Mono"),
                                          QStringLiteral("Monospace")});
  font.setStyleHint(QFont::TypeWriter);
  font.setPixelSize(pixels);
  return font;
}

}  // namespace

LogPage::LogPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("TabSheet_Log"));
  auto* row = PageRow(this);
  AddColumn(row, this)->addStretch(1);
  memo_ = new QPlainTextEdit(this);
  memo_->setObjectName(QStringLiteral("Memo_Log"));
  memo_->setReadOnly(true);
  memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
  memo_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo_->setFont(MonoFont(11, {QStringLiteral("Courier New")}));
  memo_->setUndoRedoEnabled(false);
  memo_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(memo_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { emit MenuRequested(memo_->mapToGlobal(at)); });
  row->addWidget(memo_, 1);
  row->setContentsMargins(0, 6, 6, 6);
}

void LogPage::AppendLine(const QString& line) {
  // Lines reach the memo's document in one insertion per turn of the event loop (or when the memo
  // is asked for): inserting a long log line by line costs a layout and a scroll-bar update for
  // every line, far more than the lines themselves.
  if (pending_.isEmpty()) QTimer::singleShot(0, this, &LogPage::FlushLines);
  pending_.append(line);
}

void LogPage::FlushLines() {
  if (pending_.isEmpty()) return;
  QScrollBar* bar = memo_->verticalScrollBar();
  // The view follows the end unless the user has scrolled up to read.
  const bool follow = !memo_->isVisible() || bar->value() >= bar->maximum();
  QString text = pending_.join(QLatin1Char('\n'));
  if (memoLines_ > 0) text.prepend(QLatin1Char('\n'));
  memoLines_ += pending_.size();
  pending_.clear();
  QTextCursor cursor(memo_->document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(text);
  if (follow) bar->setValue(bar->maximum());
}

QPlainTextEdit* LogPage::Memo() {
  FlushLines();
  return memo_;
}

void LogPage::ReplaceLastLine(const QString& line) {
  FlushLines();
  if (memoLines_ == 0) {
    AppendLine(line);
    FlushLines();
    return;
  }
  QTextCursor cursor(memo_->document()->lastBlock());
  cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  cursor.insertText(line);
}

void LogPage::Clear() {
  pending_.clear();
  memoLines_ = 0;
  memo_->clear();
}

}  // namespace dravion::ui
