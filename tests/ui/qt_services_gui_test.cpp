#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <ctime>
#include <thread>

#include "ui/gui_support.h"
#include "ui/qt_services.h"
#include "ui/qt_translations.h"

namespace dravion::test {
namespace {

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

TEST(QtEventPump, SleepsUntilTheDeadlineWithoutSpinning) {
  GuiApp();
  ui::QtClock clock;
  ui::QtEventPump pump(clock);
  const uint32_t start = clock.TickMs();
  const double cpu = CpuSeconds();
  Delay(pump, clock, 300);
  const uint32_t took = TicksSince(start, clock.TickMs());
  EXPECT_GE(took, 300u);
  EXPECT_LT(CpuSeconds() - cpu, 0.05);  // asleep, not spinning
  EXPECT_EQ(pump.Depth(), 0);
}

TEST(QtEventPump, WakeFromAnotherThreadEndsTheWaitAtOnce) {
  GuiApp();
  ui::QtClock clock;
  ui::QtEventPump pump(clock);
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pump.Wake();
  });
  // Deadlines far off: a wait that ends before its deadline was ended by the wake.
  const uint32_t start = clock.TickMs();
  pump.ProcessEvents(start + 60000);
  const uint32_t took = TicksSince(start, clock.TickMs());
  reader.join();
  EXPECT_GE(took, 40u);
  EXPECT_LT(took, 60000u);
  // A wake that came before the wait is not lost.
  pump.Wake();
  const uint32_t again = clock.TickMs();
  pump.ProcessEvents(again + 60000);
  EXPECT_LT(TicksSince(again, clock.TickMs()), 60000u);
}

TEST(QtEventPump, EventsRunDuringAWaitAndNestedWaitsReportTheirDepth) {
  GuiApp();
  ui::QtClock clock;
  ui::QtEventPump pump(clock);
  int idle = 0;
  pump.SetIdleCallback([&] { ++idle; });
  int depthInside = -1;
  QTimer::singleShot(20, [&] {
    depthInside = pump.Depth();
    pump.ProcessEvents(clock.TickMs() + 10);  // a handler that waits itself
  });
  Delay(pump, clock, 100);
  EXPECT_EQ(depthInside, 1);
  EXPECT_GE(idle, 1);
  EXPECT_EQ(pump.Depth(), 0);
}

TEST(QtDialogs, LineBreaksOfTheMessagesBecomeNewLines) {
  EXPECT_EQ(
      ui::NormaliseLineBreaks("Read Settings\n\rError Settings Access\n\rDevice not connected"),
      "Read Settings\nError Settings Access\nDevice not connected");
  EXPECT_EQ(ui::NormaliseLineBreaks("File\r\nname\r\nalready exists"),
            "File\nname\nalready exists");
  EXPECT_EQ(ui::NormaliseLineBreaks("Accumulated Dose\nReset"), "Accumulated Dose\nReset");
  EXPECT_EQ(ui::NormaliseLineBreaks("a\rb"), "a\nb");
}

// Answers the next message box with the button captioned `press`; `captions` gets every
// button's caption.
void AnswerNextBox(QStringList& captions, const QString& press) {
  auto* poll = new QTimer;
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, [poll, &captions, press] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    captions.clear();
    QAbstractButton* chosen = nullptr;
    for (QAbstractButton* button : box->buttons()) {
      captions << button->text();
      if (button->text() == press) chosen = button;
    }
    if (chosen)
      chosen->click();
    else
      box->reject();
  });
  poll->start();
}

TEST(QtDialogs, TheButtonsSpeakTheInterfaceLanguage) {
  GuiApp();
  Language language;
  language.Set(Lang::Russian);
  ui::QtDialogs dialogs(language, nullptr);
  QStringList captions;
  AnswerNextBox(captions, QString::fromUtf8("Нет"));
  EXPECT_FALSE(dialogs.Ask(QuestionKind::Confirmation, "Записать время\n\rв прибор из ПК?"));
  captions.sort();
  EXPECT_EQ(captions, QStringList({QString::fromUtf8("Да"), QString::fromUtf8("Нет")}));
  AnswerNextBox(captions, QString::fromUtf8("ОК"));
  dialogs.ShowMessage(BoxKind::Error, "Ошибка");
  EXPECT_EQ(captions, QStringList({QString::fromUtf8("ОК")}));

  language.Set(Lang::English);
  AnswerNextBox(captions, QStringLiteral("Yes"));
  EXPECT_TRUE(dialogs.Ask(QuestionKind::Warning, "RESET ACCUMULATED DOSE\n\rContinue?"));
  captions.sort();
  EXPECT_EQ(captions, QStringList({QStringLiteral("No"), QStringLiteral("Yes")}));
}

// Enter on a question answers with its default button: No where Yes cannot be undone (the
// warning questions: deleting the history, writing settings, the firmware update), Yes for a
// plain confirmation. The key goes through the window system, as a user's does.
TEST(QtDialogs, EnterSaysNoToAWarningQuestionAndYesToAConfirmation) {
  GuiApp();
  Language language;
  language.Set(Lang::English);
  ui::QtDialogs dialogs(language, nullptr);
  for (const auto& [kind, answer] :
       {std::pair{QuestionKind::Warning, false}, std::pair{QuestionKind::Confirmation, true}}) {
    bool pressed = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (pressed || !box || !box->isVisible()) return;
      box->activateWindow();
      if (!box->isActiveWindow()) return;
      pressed = true;
      PressKey(box, Qt::Key_Return);
    });
    poll.start(10);
    EXPECT_EQ(dialogs.Ask(kind, "History in Device will be deleted!\r\nContinue"), answer);
    EXPECT_TRUE(pressed);
  }
}

// Qt's own texts (file dialogs, standard buttons) follow the interface language, from the
// translation built into the program.
TEST(QtTranslations, QtsOwnTextsFollowTheInterfaceLanguage) {
  GuiApp();
  Language language;
  language.Set(Lang::Russian);
  {
    ui::QtTranslations translations;
    ASSERT_TRUE(translations.Use(language));
    EXPECT_TRUE(translations.Source().startsWith(":/translations/"))
        << translations.Source().toStdString();
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QString::fromUtf8("Отмена"));
    language.Set(Lang::English);
    EXPECT_TRUE(translations.Use(language));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancel");
    language.Set(Lang::Russian);
    ASSERT_TRUE(translations.Use(language));
  }
  // Gone with its owner.
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancel");
}

TEST(QtOptionStore, KeepsIntegersAndReadsJunkAsMissing) {
  GuiApp();
  QTemporaryDir folder;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
  {
    ui::QtOptionStore store;
    EXPECT_FALSE(store.ReadInt("PAGENUM").has_value());
    EXPECT_TRUE(store.WriteInt("PAGENUM", 3));
    EXPECT_TRUE(store.WriteInt("LANGUAGE", 2));
    EXPECT_TRUE(store.Location().startsWith(folder.path()));
  }
  {
    ui::QtOptionStore store;
    EXPECT_EQ(store.ReadInt("PAGENUM"), 3);
    EXPECT_EQ(store.ReadInt("LANGUAGE"), 2);
  }
  QSettings raw(QSettings::NativeFormat, QSettings::UserScope, "TARVO", "TQV8");
  raw.setValue("MANAGER/OPTIONS/PAGENUM", "not a number");
  raw.sync();
  ui::QtOptionStore store;
  EXPECT_FALSE(store.ReadInt("PAGENUM").has_value());
}

TEST(SignalCloser, TerminationClosesTheWindowTheNormalWay) {
  for (int number : {SIGTERM, SIGINT, SIGHUP}) {
    Window w;
    bool closed = false;
    QObject::connect(&w.form, &ui::MainWindow::Closed, [&] { closed = true; });
    ui::SignalCloser closer(&w.form);
    w.form.show();
    std::raise(number);
    QElapsedTimer waited;
    waited.start();
    while (!closed && waited.elapsed() < 2000)
      QTest::qWait(10);
    EXPECT_TRUE(closed) << number;
    EXPECT_EQ(closer.LastSignal(), number);
  }
}

}  // namespace
}  // namespace dravion::test
