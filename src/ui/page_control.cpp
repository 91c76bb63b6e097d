#include "ui/page_control.h"

#include <QKeyEvent>
#include <QTabBar>

namespace dravion::ui {

PageControl::PageControl(QWidget* parent) : QTabWidget(parent) {
  tabBar()->installEventFilter(this);
}

void PageControl::keyPressEvent(QKeyEvent* event) {
  const bool switching = (event->modifiers() & Qt::ControlModifier) &&
                         (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab ||
                          event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown);
  if (switching && Changing && !Changing()) {
    event->accept();
    return;
  }
  QTabWidget::keyPressEvent(event);
}

bool PageControl::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tabBar() && Changing) {
    bool asks = false;
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick:
      case QEvent::Wheel:
        asks = true;
        break;
      case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        asks = key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up ||
               key == Qt::Key_Down || key == Qt::Key_Home || key == Qt::Key_End;
        break;
      }
      default:
        break;
    }
    if (asks && !Changing()) return true;
  }
  return QTabWidget::eventFilter(watched, event);
}

}  // namespace dravion::ui
