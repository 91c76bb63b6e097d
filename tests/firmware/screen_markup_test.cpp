#include "firmware/screen_markup.h"

#include <gtest/gtest.h>

#include "pack.h"

namespace dravion {
namespace {

TEST(ScreenMarkup, TheNineTextsOfTheDataFlashWrite) {
  EXPECT_EQ(
      OpeningScreenTexts(7),
      (std::vector<std::string>{"{X0|Y0|Cg|RA}", "{F02|Bg|CW|AL|T0}", "{Y1|AS|*}PC CONNECT",
                                "{Y21|AS|*}COM-7", "{Y60|X11|CB|RF106:16|x3|y3|Cb|RF100:10}"}));
  EXPECT_EQ(ScreenPortText(250), "{Y21|AS|*}COM-250");
  EXPECT_EQ(ProgressScreenTexts(37, '/'),
            (std::vector<std::string>{"{X14|Y63|CY|RF37:10}", "{Y83|CC|F02|AS|*}/"}));
  EXPECT_EQ(ClosingScreenTexts(),
            (std::vector<std::string>{"#{X0|Y60|Cg|Bg|RF128:20|F02}",
                                      "{Y83|CY|T0|AS|*}END OF#{y20|AS|*}WRITE"}));
}

TEST(ScreenMarkup, ProgressBarStaysOnItsTrack) {
  // 100 % covers the 100 x 10 track exactly; nothing wider or negative is ever drawn.
  EXPECT_EQ(ScreenProgressText(100), "{X14|Y63|CY|RF100:10}");
  EXPECT_EQ(ScreenProgressText(1), "{X14|Y63|CY|RF1:10}");
  EXPECT_EQ(ScreenProgressText(130), "{X14|Y63|CY|RF100:10}");
  EXPECT_EQ(ScreenProgressText(-5), "{X14|Y63|CY|RF0:10}");
}

TEST(ScreenMarkup, SpinnerIsTextAfterTheGroup) {
  EXPECT_EQ(ScreenSpinnerText('|'), "{Y83|CC|F02|AS|*}|");
  EXPECT_EQ(SpinnerCharacter(0), '|');
  EXPECT_EQ(SpinnerCharacter(1), '/');
  EXPECT_EQ(SpinnerCharacter(2), '-');
  EXPECT_EQ(SpinnerCharacter(3), '\\');
  EXPECT_EQ(SpinnerCharacter(4), '|');
  EXPECT_EQ(SpinnerCharacter(-1), '\\');
}

TEST(ScreenMarkup, EveryTextFollowsTheMarkupRulesAndFitsPcPrint) {
  std::vector<std::string> all = OpeningScreenTexts(65535);
  for (int percent : {0, 1, 50, 100})
    for (int i = 0; i < 4; ++i)
      for (auto& t : ProgressScreenTexts(percent, SpinnerCharacter(i)))
        all.push_back(t);
  for (auto& t : ClosingScreenTexts())
    all.push_back(t);
  for (const auto& text : all) {
    EXPECT_EQ(pack::CheckScreenText(text), pack::Problems{}) << text;
    EXPECT_LE(text.size(), 125u) << text;
  }
}

}  // namespace
}  // namespace dravion
