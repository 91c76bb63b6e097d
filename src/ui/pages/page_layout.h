#pragma once

#include <QString>
#include <QWidget>

class QHBoxLayout;
class QLayout;
class QScrollArea;
class QVBoxLayout;

namespace dravion::ui {

// The shape every page shares: a row with a 130-pixel column of controls on the left (wider only
// where a caption would not fit) and the page's work area filling the rest.
inline constexpr int kColumnWidth = 130;

// The row that fills a page.
QHBoxLayout* PageRow(QWidget* page);
// The left column of a page: controls from the top.
QVBoxLayout* AddColumn(QHBoxLayout* row, QWidget* page);
// A work area that keeps its controls' sizes and scrolls when the window is made small.
QScrollArea* Scrolling(QLayout* content, QWidget* page);

// Gives a widget its object name (the name captions and tests find it by).
template <typename T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

}  // namespace dravion::ui
