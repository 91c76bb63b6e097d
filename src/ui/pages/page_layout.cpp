#include "ui/pages/page_layout.h"

#include <QHBoxLayout>
#include <QScrollArea>
#include <QVBoxLayout>

namespace dravion::ui {

QHBoxLayout* PageRow(QWidget* page) {
  auto* row = new QHBoxLayout(page);
  row->setContentsMargins(0, 0, 6, 6);
  row->setSpacing(0);
  return row;
}

QVBoxLayout* AddColumn(QHBoxLayout* row, QWidget* page) {
  auto* column = new QWidget(page);
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
