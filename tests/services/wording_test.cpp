#include "services/wording.h"

#include <gtest/gtest.h>

#include "device/device_context.h"
#include "services/clock.h"

namespace dravion {
namespace {

Language In(Lang lang) {
  Language language;
  language.Set(lang);
  return language;
}

TEST(Wording, RussianCountsTakeTheirNounFormEnglishItsSingularOnlyForOne) {
  const Language ru = In(Lang::Russian);
  const Language en = In(Lang::English);
  const auto minutes = [](long long n, const Language& l) {
    return CountOf(n, l, "минута", "минуты", "минут", "minute", "minutes");
  };
  const std::pair<long long, const char*> russian[] = {
      {1, "1 минута"},    {2, "2 минуты"},  {4, "4 минуты"},        {5, "5 минут"},
      {11, "11 минут"},   {12, "12 минут"}, {14, "14 минут"},       {21, "21 минута"},
      {22, "22 минуты"},  {25, "25 минут"}, {60, "60 минут"},       {101, "101 минута"},
      {111, "111 минут"}, {0, "0 минут"},   {65280, "65280 минут"}, {65281, "65281 минута"},
  };
  for (const auto& [n, text] : russian)
    EXPECT_EQ(minutes(n, ru), text) << n;
  EXPECT_EQ(minutes(1, en), "1 minute");
  EXPECT_EQ(minutes(21, en), "21 minutes");
  EXPECT_EQ(minutes(0, en), "0 minutes");
}

TEST(Wording, DecimalSeparatorsBetweenDigitsFollowTheLanguageAndNothingElseChanges) {
  const Language ru = In(Lang::Russian);
  const Language en = In(Lang::English);
  EXPECT_EQ(WithDecimalSeparator("0.00 uSv", ru), "0,00 uSv");
  EXPECT_EQ(WithDecimalSeparator("0,13 мкЗв/ч", en), "0.13 мкЗв/ч");
  EXPECT_EQ(WithDecimalSeparator("Min 0,12 uSv/h\nMean 0,207 uSv/h", en),
            "Min 0.12 uSv/h\nMean 0.207 uSv/h");
  // Commas and points that are no decimal separators stay.
  EXPECT_EQ(WithDecimalSeparator("Wait, 3 records. 1,5", en), "Wait, 3 records. 1.5");
  EXPECT_EQ(WithDecimalSeparator(",5 5, .5 5.", ru), ",5 5, .5 5.");
  EXPECT_EQ(WithDecimalSeparator("--------", ru), "--------");
  EXPECT_EQ(WithDecimalSeparator("", en), "");
}

TEST(Wording, TimeLeftAndSuggestedFileNames) {
  EXPECT_EQ(MinutesSeconds(0), "0:00");
  EXPECT_EQ(MinutesSeconds(7), "0:07");
  EXPECT_EQ(MinutesSeconds(760), "12:40");
  EXPECT_EQ(MinutesSeconds(3723), "1:02:03");
  EXPECT_EQ(MinutesSeconds(-5), "0:00");

  LocalDateTime day;
  day.year = 2026, day.month = 3, day.day = 7;
  EXPECT_EQ(SuggestedFileName("214-36587", "history", day, "csv"),
            "Dravion_214-36587_history_2026-03-07.csv");
  EXPECT_EQ(SuggestedFileName("", "chart", day, "png"), "Dravion_chart_2026-03-07.png");
}

}  // namespace
}  // namespace dravion
