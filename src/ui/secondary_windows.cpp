#include "ui/secondary_windows.h"

#include <QBitmap>
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>

#include "lifecycle/app_lifecycle.h"
#include "ui/artwork.h"
#include "ui/captions.h"

namespace dravion::ui {

void CenterOnMain(QWidget* window, const QWidget* main) {
  const QRect outer = main->frameGeometry();
  const QRect own = window->frameGeometry();
  window->move(outer.left() + outer.width() / 2 - own.width() / 2,
               outer.top() + outer.height() / 2 - own.height() / 2);
}

BusyWindow::BusyWindow(QWidget* mainWindow)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus),
      main_(mainWindow) {
  setObjectName(QStringLiteral("Form3"));
  setAttribute(Qt::WA_TranslucentBackground);
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFixedSize(131, 115);
  for (int i = 0; i < 4; ++i) {
    frames_[i] = new QLabel(this);
    frames_[i]->setObjectName(QStringLiteral("Image%1").arg(i + 1));
    frames_[i]->setGeometry(8, 8, 81, 81);
    frames_[i]->setPixmap(QPixmap::fromImage(BusyFrame(i)));
    frames_[i]->hide();
  }
  animationTimer_ = new QTimer(this);
  animationTimer_->setObjectName(QStringLiteral("Timer1"));
  animationTimer_->setInterval(50);
  connect(animationTimer_, &QTimer::timeout, this, &BusyWindow::OnAnimationTimer);
  UpdateMask();
}

void BusyWindow::CenterOnMain() {
  ui::CenterOnMain(this, main_);
}

void BusyWindow::ShowBusy(int interval) {
  if (interval == 0) {
    HideBusy();
    return;
  }
  CenterOnMain();
  show();
  raise();
  if (interval > 0 && interval <= 1000) animationTimer_->setInterval(interval);
  animationTimer_->start();
}

void BusyWindow::HideBusy() {
  animationTimer_->stop();
  hide();
}

void BusyWindow::OnAnimationTimer() {
  CenterOnMain();
  frames_[frameIndex_]->hide();
  frameIndex_ = frameIndex_ + 1 > 3 ? 0 : frameIndex_ + 1;
  frames_[frameIndex_]->show();
  UpdateMask();
}

// Without a compositor the transparent colour still works: the window's shape is the union of
// the opaque pixels of the frames shown.
void BusyWindow::UpdateMask() {
  QRegion shape;
  for (QLabel* frame : frames_) {
    if (frame->isHidden()) continue;
    const QBitmap opaque = frame->pixmap().mask();
    shape += QRegion(opaque).translated(frame->pos());
  }
  if (shape.isEmpty()) shape = QRegion(0, 0, 1, 1);
  setMask(shape);
}

AboutWindow::AboutWindow(QWidget* mainWindow, const Language& language)
    : QWidget(mainWindow, Qt::Tool | Qt::FramelessWindowHint),
      main_(mainWindow),
      language_(language) {
  setObjectName(QStringLiteral("Form2"));
  setFixedSize(516 + 4, 363 + 4);  // a 2-pixel border around the 516 x 363 client area
  setAutoFillBackground(true);
  QPalette frame = palette();
  frame.setColor(QPalette::Window, QColor(120, 120, 120));
  setPalette(frame);
  imageRus_ = new QLabel(this);
  imageRus_->setObjectName(QStringLiteral("Image_RUS"));
  imageEng_ = new QLabel(this);
  imageEng_->setObjectName(QStringLiteral("Image_ENG"));
  for (QLabel* image : {imageRus_, imageEng_}) {
    image->setGeometry(2, 2, 516, 363);
    image->setScaledContents(true);
    image->hide();
    image->installEventFilter(this);
  }
  imageRus_->setPixmap(AboutPicture(true));
  imageEng_->setPixmap(AboutPicture(false));
  labelVersion_ = new QLabel(QStringLiteral("Version 12.5."), this);
  labelVersion_->setObjectName(QStringLiteral("Label_Version"));
  labelVersion_->setGeometry(2, 2 + 363 - 41, 516, 41);
  labelVersion_->setAlignment(Qt::AlignCenter);
  labelVersion_->setAttribute(Qt::WA_TranslucentBackground);
  QFont font(QStringLiteral("Courier"));
  font.setStyleHint(QFont::TypeWriter);
  font.setFamilies({QStringLiteral("Courier"), QStringLiteral("Courier New"),
                    QStringLiteral("DejaVu Sans Mono")});
  font.setPixelSize(16);
  font.setBold(true);
  labelVersion_->setFont(font);
  labelVersion_->installEventFilter(this);
  // It takes the keyboard while shown, so that the keys that close a box close it.
  setFocusPolicy(Qt::StrongFocus);
  setAccessibleName(QStringLiteral("About"));
}

void AboutWindow::ShowAbout() {
  setWindowFlag(Qt::WindowStaysOnTopHint, true);
  labelVersion_->setText(QString::fromUtf8(language_.Text("Версия", "Version")) +
                         QStringLiteral(" 2.5.") + QString::fromStdString(kAppVersion));
  setAccessibleName(QString::fromUtf8(language_.Text("О программе", "About Program")));
  CenterOnMain(this, main_);
  show();
  raise();
  activateWindow();
  setFocus(Qt::ActiveWindowFocusReason);
}

void AboutWindow::showEvent(QShowEvent* event) {
  aboutShown_ = true;
  const bool russian = language_.Current() == Lang::Russian;
  imageRus_->setVisible(russian);
  imageEng_->setVisible(!russian);
  labelVersion_->raise();
  QWidget::showEvent(event);
}

void AboutWindow::CloseAbout() {
  close();
  aboutShown_ = false;
}

bool AboutWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress &&
      (watched == imageRus_ || watched == imageEng_ || watched == labelVersion_)) {
    CloseAbout();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void AboutWindow::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
      CloseAbout();
      event->accept();
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

void AboutWindow::mousePressEvent(QMouseEvent* event) {
  // The border strip belongs to the box too.
  CloseAbout();
  event->accept();
}

}  // namespace dravion::ui
