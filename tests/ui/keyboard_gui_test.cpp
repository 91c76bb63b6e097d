// The window used with the keyboard alone: every key goes through the window system's queue, as
// a user's does.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>

#include "ui/gui_support.h"
#include "ui/pages/settings_page.h"

namespace dravion::test {
namespace {

QTabWidget* Pages(Window& w) {
  return w.Get<QTabWidget>("PageControl1");
}

// The window shown, active, in `lang`.
void Show(Window& w, Lang lang) {
  w.options.ints["LANGUAGE"] = lang == Lang::English ? 2 : 1;
  w.LoadLanguage();
  w.form.show();
  w.form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w.form));
}

std::string FocusName() {
  QWidget* focus = QApplication::focusWidget();
  return focus ? focus->objectName().toStdString() : "<none>";
}

// The focus stops Tab visits from `first` on, while they stay on `page`.
QStringList TabStops(Window& w, QWidget* page, QWidget* first) {
  first->setFocus(Qt::TabFocusReason);
  QStringList stops;
  for (int i = 0; i < 40 && page->isAncestorOf(QApplication::focusWidget()); ++i) {
    QWidget* focus = QApplication::focusWidget();
    EXPECT_EQ(qobject_cast<QAbstractScrollArea*>(focus), nullptr)
        << "a stop that shows no focus: " << focus->metaObject()->className();
    EXPECT_FALSE(focus->objectName().isEmpty()) << focus->metaObject()->className();
    if (stops.contains(focus->objectName())) break;
    stops << focus->objectName();
    PressKey(&w.form, Qt::Key_Tab);
  }
  return stops;
}

TEST(Keyboard, CtrlTabGoesRoundTheShownPagesAndAClickedPageGetsTheFocus) {
  Window w;
  Show(w, Lang::English);
  QTabWidget* pages = Pages(w);
  pages->setCurrentIndex(0);
  w.Get<QPushButton>("BitBtn_Measure_Dose_Reset")->setFocus();
  std::vector<int> visited;
  for (int i = 0; i < 4; ++i) {
    PressKey(&w.form, Qt::Key_Tab, Qt::ControlModifier);
    visited.push_back(pages->currentIndex());
  }
  // The hidden log page is passed over, both ways round.
  EXPECT_EQ(visited, (std::vector<int>{1, 2, 3, 0}));
  PressKey(&w.form, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(pages->currentIndex(), 3);
  PressKey(&w.form, Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(pages->currentIndex(), 0);
  // The page a key opened has the focus.
  QApplication::processEvents();
  EXPECT_TRUE(pages->currentWidget()->isAncestorOf(QApplication::focusWidget())) << FocusName();

  // Shown, the log page is one of them.
  w.form.ActionByName("Action_Log_Visible")->trigger();
  pages->setCurrentIndex(3);
  w.Get<QPushButton>("BitBtn_ReNewDeviceInfo")->setEnabled(true);
  w.Get<QPushButton>("BitBtn_ReNewDeviceInfo")->setFocus();
  PressKey(&w.form, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(pages->currentIndex(), 4);

  // A tab clicked with the mouse: the focus goes into its page, not to the language switch.
  pages->setCurrentIndex(1);
  w.Get<QPushButton>("BitBtn_HIS_Read")->setFocus();
  ClickAt(pages->tabBar(), pages->tabBar()->tabRect(2));
  ASSERT_EQ(pages->currentIndex(), 2);
  ASSERT_TRUE(WaitUntil([&] { return FocusName() == "BitBtn_Setup_Read"; }, 2000)) << FocusName();
}

TEST(Keyboard, TabShowsWhereItIsAndGoesDownEachColumnOfTheSettings) {
  Window w;
  Show(w, Lang::Russian);
  QTabWidget* pages = Pages(w);
  pages->setCurrentIndex(2);
  const QStringList expected = {
      "BitBtn_Setup_Read",
      "BitBtn_Setup_Write",
      "BitBtn_Setup_Default",
      "BitBtn_Setup_Time",
      "BitBtn_Setup_Reset",
      "ComboBox_Setup_Language",
      "ComboBox_Setup_Units",
      "ComboBox_Setup_Fon_Level",
      "ComboBox_Setup_Dose_Level",
      "ComboBox_Setup_Screen_Bright",
      "ComboBox_Setup_Screen_TOff",
      "ComboBox_Setup_Power_TOff",
      "ComboBox_Setup_History_M",
      "ComboBox_Setup_Alarm_H",
      "ComboBox_Setup_Alarm_M",
      "CheckBox_Setup_Alarm_En",
      "CheckBox_Setup_Sound_EN",
      "CheckBox_Setup_Sound_BTN",
      "CheckBox_Setup_Sound_Sensor",
      "CheckBox_Setup_Sound_Threshold",
      "Edit_Setup_Time",
      "Edit_Setup_Calibr",
      "BitBtn_Setup_Calibr_Save",
  };
  EXPECT_EQ(TabStops(w, pages->widget(2), w.Get<QWidget>("BitBtn_Setup_Read")), expected);

  // A list of 61 time-outs opens with F4 as a scrolling list of at most 16 items, not a column
  // across the screen.
  QComboBox* timeOff = w.Combo("ComboBox_Setup_Screen_TOff");
  timeOff->setFocus();
  PressKey(&w.form, Qt::Key_F4);
  ASSERT_TRUE(WaitUntil([&] { return timeOff->view()->isVisible(); }, 2000));
  const int row = timeOff->view()->sizeHintForRow(0);
  EXPECT_EQ(timeOff->count(), 61);
  EXPECT_LE(timeOff->view()->window()->height(), 17 * row + 12) << row;
  PressKey(timeOff->view(), Qt::Key_Escape);
  EXPECT_TRUE(WaitUntil([&] { return !timeOff->view()->isVisible(); }, 2000));

  // The measuring page: every stop is a control of its own (no bare scroll area).
  pages->setCurrentIndex(0);
  const QStringList measuring =
      TabStops(w, pages->widget(0), w.Get<QWidget>("CheckBox_Measure_AutoRead"));
  EXPECT_TRUE(measuring.contains("BitBtn_Measure_Dose_Reset")) << measuring.join(' ').toStdString();
  EXPECT_TRUE(measuring.contains("ComboBox_Measure_Trend_Span"));
}

TEST(Keyboard, MenusOpenWithAltAndTheirLetterInBothLanguages) {
  Window w;
  Show(w, Lang::English);
  QMenu* file = w.form.MainMenu()->actions().at(0)->menu();
  QMenu* help = w.form.MainMenu()->actions().at(2)->menu();
  PressKey(&w.form, Qt::Key_H, Qt::AltModifier, "h");
  ASSERT_TRUE(WaitUntil([&] { return help->isVisible(); }, 2000));
  // In the open menu the item's own letter picks it: A, About Program.
  PressKey(help, Qt::Key_A, {}, "a");
  ASSERT_TRUE(WaitUntil([&] { return w.about.AboutShown(); }, 2000));
  EXPECT_FALSE(help->isVisible());
  w.about.CloseAbout();
  w.form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w.form));

  w.form.OnLanguageTriggered();  // Russian
  EXPECT_EQ(file->title(), QString::fromUtf8("&Файл"));
  PressKey(&w.form, 0x0424, Qt::AltModifier, QString::fromUtf8("ф"));  // Alt+Ф
  ASSERT_TRUE(WaitUntil([&] { return file->isVisible(); }, 2000));
  PressKey(file, Qt::Key_Escape);
  EXPECT_TRUE(WaitUntil([&] { return !file->isVisible(); }, 2000));
  // Every menu heading and item has a letter of its own within its menu.
  for (QAction* heading : w.form.MainMenu()->actions()) {
    if (!heading->menu()) continue;
    EXPECT_TRUE(heading->text().contains('&')) << heading->text().toStdString();
    QStringList letters;
    for (QAction* item : heading->menu()->actions()) {
      if (item->isSeparator() || !item->isVisible()) continue;
      const qsizetype at = item->text().indexOf('&');
      ASSERT_GE(at, 0) << item->text().toStdString();
      const QString letter = item->text().mid(at + 1, 1).toLower();
      EXPECT_FALSE(letters.contains(letter)) << item->text().toStdString();
      letters << letter;
    }
  }
}

TEST(Keyboard, QuitKeysCloseCutDoesNot) {
  for (const QKeyCombination quit : {QKeyCombination(Qt::ControlModifier, Qt::Key_Q),
                                     QKeyCombination(Qt::AltModifier, Qt::Key_F4)}) {
    Window w;
    bool closed = false;
    QObject::connect(&w.form, &ui::MainWindow::Closed, [&] { closed = true; });
    Show(w, Lang::English);
    Pages(w)->setCurrentIndex(2);
    // Ctrl+X is Cut: in a list or a read-only field it does nothing, in the coefficient it cuts.
    w.Combo("ComboBox_Setup_Units")->setFocus();
    PressKey(&w.form, Qt::Key_X, Qt::ControlModifier, "x");
    w.Get<QLineEdit>("Edit_Setup_Time")->setFocus();
    PressKey(&w.form, Qt::Key_X, Qt::ControlModifier, "x");
    auto* coefficient = w.Get<QLineEdit>("Edit_Setup_Calibr");
    coefficient->setFocus();
    coefficient->selectAll();
    PressKey(&w.form, Qt::Key_X, Qt::ControlModifier, "x");
    EXPECT_EQ(coefficient->text(), "");
    EXPECT_FALSE(closed);
    EXPECT_TRUE(w.form.isVisible());

    PressKey(&w.form, quit.key(), quit.keyboardModifiers());
    EXPECT_TRUE(closed) << quit.toCombined();
    EXPECT_FALSE(w.form.isVisible());
  }
}

TEST(Keyboard, EscAndEnterCloseTheAboutBox) {
  for (const int key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
    Window w;
    Show(w, Lang::English);
    w.form.ActionByName("Action_Help_About")->trigger();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w.about));
    ASSERT_TRUE(w.about.AboutShown());
    PressKey(&w.about, key);
    EXPECT_FALSE(w.about.AboutShown()) << key;
    EXPECT_FALSE(w.about.isVisible()) << key;
  }
}

}  // namespace
}  // namespace dravion::test
