#include "ui/pages/page_layout.h"

#include <QAbstractButton>
#include <QEvent>
#include <QHBoxLayout>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace dravion::ui {
namespace {

// The left column: kColumnWidth wide, wider only when a button's caption needs more in the
// current language and font (a clipped caption cannot be read). A caption or font change reaches
// the column as a layout request.
class PageColumn : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::LayoutRequest) Fit();
    return QWidget::event(e);
  }

 private:
  void Fit() {
    int widest = 0;
    for (const auto* button : findChildren<QAbstractButton*>(Qt::FindDirectChildrenOnly)) {
      if (!button->isHidden()) widest = std::max(widest, button->sizeHint().width());
    }
    const QMargins margins = layout() != nullptr ? layout()->contentsMargins() : QMargins();
    const int width = std::max(kColumnWidth, widest + margins.left() + margins.right());
    if (minimumWidth() != width || maximumWidth() != width) setFixedWidth(width);
  }
};

}  // namespace

QHBoxLayout* PageRow(QWidget* page) {
  auto* row = new QHBoxLayout(page);
  row->setContentsMargins(0, 0, 6, 6);
  row->setSpacing(0);
  return row;
}

QVBoxLayout* AddColumn(QHBoxLayout* row, QWidget* page) {
  auto* column = new PageColumn(page);
  column->setFixedWidth(kColumnWidth);
  auto* layout = new QVBoxLayout(column);
  layout->setContentsMargins(6, 8, 6, 8);
  layout->setSpacing(6);
  row->addWidget(column);
  return layout;
}

QScrollArea* Scrolling(QLayout* content, QWidget* page) {
  auto* area = new QScrollArea(page);
  area->setFrameShape(QFrame::NoFrame);
  // Not a Tab stop of its own (it would show no focus): the focus goes to its controls, and the
  // area scrolls to the one that has it.
  area->setFocusPolicy(Qt::NoFocus);
  area->setWidgetResizable(true);
  area->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  auto* inner = new QWidget(area);
  inner->setLayout(content);
  area->setWidget(inner);
  // The page's own background shows through.
  inner->setAutoFillBackground(false);
  area->viewport()->setAutoFillBackground(false);
  return area;
}

}  // namespace dravion::ui
