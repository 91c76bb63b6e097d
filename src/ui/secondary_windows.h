#pragma once

#include <QLabel>
#include <QTimer>
#include <QWidget>

#include "services/language.h"

namespace dravion::ui {

// Places `window` over the centre of `main`, both by their outer (frame) sizes; each half is an
// integer division.
void CenterOnMain(QWidget* window, const QWidget* main);

// The busy animation: a borderless, always-on-top window over the centre of the main window that
// cycles through four frames while a long device operation runs. White is transparent.
class BusyWindow : public QWidget {
  Q_OBJECT
 public:
  explicit BusyWindow(QWidget* mainWindow);

  // Shows the animation; 0 hides it instead. An interval in 1..1000 ms becomes the step
  // interval, any other value keeps the current one (50 ms at first).
  void ShowBusy(int interval);
  void HideBusy();
  // One animation step: re-centre, hide the frame shown, show the next one.
  void OnAnimationTimer();

  int FrameIndex() const { return frameIndex_; }
  QTimer* AnimationTimer() const { return animationTimer_; }
  QLabel* Frame(int index) const { return frames_[index]; }

 private:
  void CenterOnMain();
  void UpdateMask();
  QWidget* main_;
  QLabel* frames_[4];
  QTimer* animationTimer_;
  int frameIndex_ = 0;
};

// The about box: a borderless picture with the version line, closed by a click on it, by Esc,
// Enter or Space, or by activating the main window.
class AboutWindow : public QWidget {
  Q_OBJECT
 public:
  AboutWindow(QWidget* mainWindow, const Language& language);

  // Help -> About: on top, the version text of the current language, shown without being modal.
  void ShowAbout();
  // The click handler of both pictures and of the version label.
  void CloseAbout();
  bool AboutShown() const { return aboutShown_; }

 protected:
  void showEvent(QShowEvent* event) override;  // FormShow
  bool eventFilter(QObject* watched, QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QWidget* main_;
  const Language& language_;
  QLabel* imageRus_;
  QLabel* imageEng_;
  QLabel* labelVersion_;
  bool aboutShown_ = false;
};

}  // namespace dravion::ui
