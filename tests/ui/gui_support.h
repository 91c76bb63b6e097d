#pragma once

#include <qpa/qwindowsysteminterface.h>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTest>
#include <QWindow>
#include <functional>

#include "lifecycle/options.h"
#include "support/fakes.h"
#include "ui/main_window.h"
#include "ui/secondary_windows.h"

namespace dravion::test {

// Lets events run until `done` holds or `ms` milliseconds have passed; the final value of `done`.
inline bool WaitUntil(const std::function<bool()>& done, int ms) {
  QElapsedTimer waited;
  waited.start();
  while (!done() && waited.elapsed() < ms)
    QTest::qWait(20);
  return done();
}

// A key pressed and released on `widget`'s window as the window system delivers it: through
// Qt's queue of window-system events (shortcuts first, then the window's focus widget), not by
// calling a widget's handler. `text` is what the key types (Alt+letter mnemonics need it).
inline void PressKey(QWidget* widget, int key, Qt::KeyboardModifiers modifiers = {},
                     const QString& text = {}) {
  QWindow* window = widget->window()->windowHandle();
  QWindowSystemInterface::handleKeyEvent<QWindowSystemInterface::SynchronousDelivery>(
      window, QEvent::KeyPress, key, modifiers, text);
  QWindowSystemInterface::handleKeyEvent<QWindowSystemInterface::SynchronousDelivery>(
      window, QEvent::KeyRelease, key, modifiers, text);
  QCoreApplication::processEvents();
}

// A left click at the centre of `rect` of `widget`, delivered like PressKey.
inline void ClickAt(QWidget* widget, const QRect& rect) {
  QWindow* window = widget->window()->windowHandle();
  const QPointF at = widget->mapTo(widget->window(), rect.center());
  const QPointF global = window->mapToGlobal(at.toPoint());
  QWindowSystemInterface::handleMouseEvent<QWindowSystemInterface::SynchronousDelivery>(
      window, at, global, Qt::LeftButton, Qt::LeftButton, QEvent::MouseButtonPress);
  QWindowSystemInterface::handleMouseEvent<QWindowSystemInterface::SynchronousDelivery>(
      window, at, global, Qt::NoButton, Qt::LeftButton, QEvent::MouseButtonRelease);
  QCoreApplication::processEvents();
}

// What a screen reader does to a control: its accessible toggle action when it has one (a check
// box, a checkable button), else its press action. A toggle flips the check mark without a click.
inline bool ActLikeAScreenReader(QWidget* control) {
  QAccessibleInterface* node = QAccessible::queryAccessibleInterface(control);
  QAccessibleActionInterface* actions = node != nullptr ? node->actionInterface() : nullptr;
  if (actions == nullptr) return false;
  const QString toggle = QAccessibleActionInterface::toggleAction();
  const QString press = QAccessibleActionInterface::pressAction();
  const QStringList names = actions->actionNames();
  if (!names.contains(toggle) && !names.contains(press)) return false;
  actions->doAction(names.contains(toggle) ? toggle : press);
  return true;
}

// The one application object of the gui suite, on the offscreen platform.
inline QApplication& GuiApp() {
  static int argc = 1;
  static char name[] = "gui_tests";
  static char* argv[] = {name, nullptr};
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication* app = [] {
    auto* created = new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return created;
  }();
  return *app;
}

// A main window with its two secondary windows, on in-memory options.
struct Window {
  Window() : form((GuiApp(), language), options), busy(&form), about(&form, language) {
    form.SetSecondaryWindows(&busy, &about);
  }
  template <typename T = QObject>
  T* Get(const char* name) {
    T* found = form.findChild<T*>(QString::fromLatin1(name));
    if (!found) ADD_FAILURE() << "no " << name;
    return found;
  }
  QComboBox* Combo(const char* name) { return Get<QComboBox>(name); }
  // The language as start-up restores it: the saved option, then every caption follows it.
  void LoadLanguage() {
    LoadLanguageOption(options, language);
    form.ApplyLanguage();
  }

  Language language;
  MemoryOptionStore options;
  ui::MainWindow form;
  ui::BusyWindow busy;
  ui::AboutWindow about;
};

}  // namespace dravion::test
