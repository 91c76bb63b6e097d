#include "ui/page_control.h"

#include <QKeyEvent>
#include <QTabBar>
#include <QTimer>

namespace dravion::ui {

PageControl::PageControl(QWidget* parent) : QTabWidget(parent) {
  tabBar()->installEventFilter(this);
  connect(this, &QTabWidget::currentChanged, this, [this] {
    // A page the user opened: the focus goes into it, not back to the first control of the
    // window. Set after the tab bar's own handling of the click or key is over.
    if (!userSwitch_) return;
    userSwitch_ = false;
    QTimer::singleShot(0, this, &PageControl::FocusCurrentPage);
  });
}

int PageControl::NextShownPage(int step) const {
  const int pages = count();
  const int current = currentIndex();
  for (int n = 1; n < pages; ++n) {
    const int page = ((current + step * n) % pages + pages) % pages;
    if (isTabVisible(page) && isTabEnabled(page)) return page;
  }
  return current;
}

void PageControl::FocusCurrentPage() {
  QWidget* page = currentWidget();
  if (!page || !isVisible()) return;
  if (QWidget* focus = focusWidget(); focus && page->isAncestorOf(focus) && focus->hasFocus())
    return;
  // The first widget of the page in the focus chain that takes the focus with Tab.
  for (QWidget* w = page->nextInFocusChain(); w && w != page; w = w->nextInFocusChain()) {
    if (!page->isAncestorOf(w)) continue;
    if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(page) && w->isEnabled()) {
      w->setFocus(Qt::TabFocusReason);
      return;
    }
  }
  page->setFocus(Qt::OtherFocusReason);
}

void PageControl::keyPressEvent(QKeyEvent* event) {
  const bool control = event->modifiers() & Qt::ControlModifier;
  int step = 0;
  if (control && event->key() == Qt::Key_Tab)
    step = event->modifiers() & Qt::ShiftModifier ? -1 : 1;
  else if (control && event->key() == Qt::Key_Backtab)
    step = -1;
  else if (control && event->key() == Qt::Key_PageDown)
    step = 1;
  else if (control && event->key() == Qt::Key_PageUp)
    step = -1;
  if (step == 0) {
    QTabWidget::keyPressEvent(event);
    return;
  }
  event->accept();
  if (Changing && !Changing()) return;
  const int page = NextShownPage(step);
  if (page == currentIndex()) return;
  userSwitch_ = true;
  setCurrentIndex(page);
  userSwitch_ = false;
}

bool PageControl::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tabBar()) {
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
    if (asks) {
      if (Changing && !Changing()) return true;
      // A change that the click brings about is the user's.
      if (event->type() != QEvent::KeyPress) {
        userSwitch_ = true;
        QTimer::singleShot(0, this, [this] { userSwitch_ = false; });
      }
    }
  }
  return QTabWidget::eventFilter(watched, event);
}

}  // namespace dravion::ui
