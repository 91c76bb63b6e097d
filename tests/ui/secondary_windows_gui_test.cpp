#include <gtest/gtest.h>

#include <QLabel>

#include "ui/gui_support.h"

namespace dravion::test {
namespace {

int ShownFrame(ui::BusyWindow& busy) {
  int shown = -1;
  for (int i = 0; i < 4; ++i)
    if (!busy.Frame(i)->isHidden()) {
      EXPECT_EQ(shown, -1) << "two frames shown";
      shown = i;
    }
  return shown;
}

TEST(BusyAnimation, FramesRunOneTwoThreeZero) {
  Window w;
  EXPECT_EQ(w.busy.size(), QSize(131, 115));
  EXPECT_EQ(ShownFrame(w.busy), -1);
  EXPECT_EQ(w.busy.AnimationTimer()->interval(), 50);
  EXPECT_FALSE(w.busy.AnimationTimer()->isActive());
  std::vector<int> frames;
  for (int step = 0; step < 6; ++step) {
    w.busy.OnAnimationTimer();
    frames.push_back(ShownFrame(w.busy));
    EXPECT_EQ(w.busy.FrameIndex(), frames.back());
  }
  EXPECT_EQ(frames, (std::vector<int>{1, 2, 3, 0, 1, 2}));
  // Hidden and shown again: the same frame comes back first.
  w.busy.ShowBusy(100);
  w.busy.HideBusy();
  EXPECT_FALSE(w.busy.isVisible());
  EXPECT_FALSE(w.busy.AnimationTimer()->isActive());
  w.busy.ShowBusy(100);
  EXPECT_EQ(ShownFrame(w.busy), 2);
}

TEST(BusyAnimation, IntervalRulesAndZeroHides) {
  Window w;
  w.form.show();
  w.form.ShowBusy(5000);
  EXPECT_TRUE(w.busy.isVisible());
  EXPECT_TRUE(w.busy.AnimationTimer()->isActive());
  EXPECT_EQ(w.busy.AnimationTimer()->interval(), 50);
  w.form.ShowBusy(100);
  EXPECT_EQ(w.busy.AnimationTimer()->interval(), 100);
  w.form.ShowBusy(-1);
  EXPECT_EQ(w.busy.AnimationTimer()->interval(), 100);
  w.form.ShowBusy(1000);
  EXPECT_EQ(w.busy.AnimationTimer()->interval(), 1000);
  w.form.ShowBusy(0);
  EXPECT_FALSE(w.busy.isVisible());
  EXPECT_FALSE(w.busy.AnimationTimer()->isActive());
}

TEST(BusyAnimation, FollowsTheMainWindowAtTheNextStep) {
  Window w;
  w.form.move(100, 50);
  w.form.show();
  w.form.ShowBusy(50);
  auto centred = [&] {
    const QRect main = w.form.frameGeometry();
    return QPoint(main.left() + main.width() / 2 - 131 / 2,
                  main.top() + main.height() / 2 - 115 / 2);
  };
  EXPECT_EQ(w.busy.pos(), centred());
  w.form.move(300, 200);
  w.form.resize(900, 501);
  QApplication::processEvents();
  EXPECT_NE(w.busy.pos(), centred());
  w.busy.OnAnimationTimer();
  EXPECT_EQ(w.busy.pos(), centred());
  // The timer itself drives the steps.
  const int before = w.busy.FrameIndex();
  EXPECT_TRUE(WaitUntil([&] { return w.busy.FrameIndex() != before; }, 10000));
}

TEST(AboutBox, TextAndPictureFollowTheLanguageAtEachShowing) {
  Window w;
  w.LoadLanguage();
  w.form.show();
  auto* label = w.about.findChild<QLabel*>("Label_Version");
  auto* rus = w.about.findChild<QLabel*>("Image_RUS");
  auto* eng = w.about.findChild<QLabel*>("Image_ENG");
  ASSERT_TRUE(label && rus && eng);
  EXPECT_FALSE(w.about.isVisible());
  EXPECT_FALSE(w.about.AboutShown());

  w.form.ActionByName("Action_Help_About")->trigger();
  EXPECT_TRUE(w.about.isVisible());
  EXPECT_TRUE(w.about.AboutShown());
  EXPECT_EQ(label->text(), QString::fromUtf8("Версия 2.5.1.9"));
  EXPECT_TRUE(rus->isVisible());
  EXPECT_FALSE(eng->isVisible());
  EXPECT_TRUE(w.about.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(w.about.windowFlags() & Qt::FramelessWindowHint);

  QTest::mouseClick(rus, Qt::LeftButton);  // a click closes it
  EXPECT_FALSE(w.about.isVisible());
  EXPECT_FALSE(w.about.AboutShown());

  w.form.OnLanguageTriggered();
  w.form.OnAboutTriggered();
  EXPECT_EQ(label->text(), "Version 2.5.1.9");
  EXPECT_TRUE(eng->isVisible());
  EXPECT_FALSE(rus->isVisible());
  // Activating the main window dismisses it.
  w.form.OnActivated();
  EXPECT_FALSE(w.about.isVisible());
  EXPECT_FALSE(w.about.AboutShown());
}

}  // namespace
}  // namespace dravion::test
