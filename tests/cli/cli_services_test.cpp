#include "cli/cli_services.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "services/clock.h"
#include "services/language.h"

namespace dravion::cli {
namespace {

struct Terminal {
  explicit Terminal(std::string input = {}, bool inTerminal = false, bool errTerminal = false)
      : in(std::move(input)), io{out, err, in, inTerminal, errTerminal} {}
  std::ostringstream out;
  std::ostringstream err;
  std::istringstream in;
  CliIo io;
};

TEST(TerminalDialogs, MessagesGoToStderrWithRealLineBreaks) {
  EXPECT_EQ(TerminalText("a\n\rb\r\nc\rd\ne"), "a\nb\nc\nd\ne");
  EXPECT_EQ(TerminalText("\n\r\n\r"), "\n\n");
  Terminal t;
  Language language;
  TerminalDialogs dialogs(t.io, language, false);
  dialogs.ShowMessage(BoxKind::Error, "No answer\n\rfrom device");
  dialogs.ShowMessage(BoxKind::Information, "Done");
  dialogs.ShowMessage(BoxKind::Warning, "Careful");
  EXPECT_EQ(t.err.str(), "No answer\nfrom device\nDone\nCareful\n");
  EXPECT_EQ(t.out.str(), "");
  EXPECT_EQ(dialogs.errors, 1);
  EXPECT_EQ(dialogs.warnings, 1);
}

TEST(TerminalDialogs, QuestionsAreAnsweredByYesByTheTerminalOrRefused) {
  Language language;
  language.Set(Lang::English);
  {
    Terminal t;
    TerminalDialogs dialogs(t.io, language, true);
    EXPECT_TRUE(dialogs.Ask(QuestionKind::Confirmation, "Save?"));
    EXPECT_FALSE(dialogs.refused);
    EXPECT_NE(t.err.str().find("Save?"), std::string::npos);
  }
  {
    // No terminal and no --yes: No, and the run knows it was refused.
    Terminal t("y\n", false);
    TerminalDialogs dialogs(t.io, language, false);
    EXPECT_FALSE(dialogs.Ask(QuestionKind::Warning, "Overwrite?"));
    EXPECT_TRUE(dialogs.refused);
    EXPECT_NE(t.err.str().find("--yes"), std::string::npos);
  }
  {
    // On a terminal: unclear answers are asked again; Russian answers count too.
    Terminal t("maybe\nд\nn\n", true);
    TerminalDialogs dialogs(t.io, language, false);
    EXPECT_TRUE(dialogs.Ask(QuestionKind::Confirmation, "Restart?"));
    EXPECT_FALSE(dialogs.Ask(QuestionKind::Confirmation, "Restart?"));
    EXPECT_TRUE(dialogs.answeredNo);
    EXPECT_FALSE(dialogs.refused);
    // The terminal closed: refused.
    EXPECT_FALSE(dialogs.Ask(QuestionKind::Confirmation, "Again?"));
    EXPECT_TRUE(dialogs.refused);
  }
  {
    // A command's own decision comes before --yes.
    Terminal t;
    TerminalDialogs dialogs(t.io, language, true);
    int asked = 0;
    dialogs.decide = [&](const std::string& text) { return text == "Again?" ? asked++ < 1 : -1; };
    EXPECT_TRUE(dialogs.Ask(QuestionKind::Confirmation, "Again?"));
    EXPECT_FALSE(dialogs.Ask(QuestionKind::Confirmation, "Again?"));
    EXPECT_TRUE(dialogs.Ask(QuestionKind::Confirmation, "Other?"));
    EXPECT_FALSE(dialogs.refused);
    EXPECT_EQ(t.err.str(), "Again? [yes]\nAgain? [no]\nOther? [yes: --yes]\n");
  }
  {
    Terminal t;
    TerminalDialogs dialogs(t.io, language, true);
    std::string value = "7";
    EXPECT_FALSE(dialogs.AskText("Port", "Number", value));
    EXPECT_EQ(value, "7");
  }
}

TEST(HeartbeatPump, BeatsEveryTenthOfASecondWhileWaitingAndNeverNested) {
  SystemClock clock;
  ThreadEventPump waits(clock);
  HeartbeatPump pump(clock, waits);
  int beats = 0;
  int nested = 0;
  bool inBeat = false;
  pump.heartbeat = [&] {
    if (inBeat) ++nested;
    inBeat = true;
    ++beats;
    // A wait inside the heartbeat (a link test) must not start another beat.
    Delay(pump, clock, 120);
    inBeat = false;
  };
  // Beats at 100 ms spacing, each waiting 120 ms, never nested: each beat takes its own 120 ms.
  const uint32_t start = clock.TickMs();
  while (beats < 4 && clock.TickMs() - start < 60000)
    Delay(pump, clock, 50);
  const uint32_t took = clock.TickMs() - start;
  EXPECT_GE(beats, 4);
  EXPECT_GE(took, 120u * beats);
  EXPECT_EQ(nested, 0);
}

TEST(ProgressBar, DrawnOnlyOnATerminal) {
  {
    Terminal t("", false, false);
    ProgressBar bar(t.io);
    bar.Show(5, 10, "History");
    bar.Finish();
    EXPECT_EQ(t.err.str(), "");
  }
  {
    Terminal t("", false, true);
    ProgressBar bar(t.io);
    bar.Show(0, 10);
    bar.Show(5, 10, "History");
    bar.Show(5, 10, "History");   // unchanged: not drawn again
    bar.Show(20, 10, "History");  // clamped
    bar.Finish();
    const std::string text = t.err.str();
    EXPECT_NE(text.find("History [####################....................] 50%"),
              std::string::npos);
    EXPECT_NE(text.find("100%"), std::string::npos);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 3);
  }
}

}  // namespace
}  // namespace dravion::cli
