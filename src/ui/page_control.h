#pragma once

#include <QTabWidget>
#include <functional>

namespace dravion::ui {

// The page control: a tab widget whose page changes by the user (mouse, wheel, keys) ask
// `Changing` first and are refused when it answers false. Changes made by the program pass.
class PageControl : public QTabWidget {
  Q_OBJECT
 public:
  explicit PageControl(QWidget* parent = nullptr);
  std::function<bool()> Changing;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace dravion::ui
