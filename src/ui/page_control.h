#pragma once

#include <QTabWidget>
#include <functional>

namespace dravion::ui {

// The page control: a tab widget whose page changes by the user (mouse, wheel, keys) ask
// `Changing` first and are refused when it answers false. Changes made by the program pass.
// Ctrl+Tab, Ctrl+Shift+Tab, Ctrl+PageDown and Ctrl+PageUp go round the pages whose tabs are
// shown (and enabled); a page the user opens gets the keyboard focus.
class PageControl : public QTabWidget {
  Q_OBJECT
 public:
  explicit PageControl(QWidget* parent = nullptr);
  std::function<bool()> Changing;

  // The page `step` pages on from the current one (1 forward, -1 back) among those shown and
  // enabled, going round; the current one when there is no other.
  int NextShownPage(int step) const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Gives the focus to the first control of the current page that takes it with Tab.
  void FocusCurrentPage();
  bool userSwitch_ = false;
};

}  // namespace dravion::ui
