#include "services/language.h"

#include <gtest/gtest.h>

#include <string>
#include <type_traits>

namespace dravion {
namespace {

TEST(LanguageTest, TextOfTemporaryPairOutlivesThePair) {
  // Texts built on the fly (a name plus a suffix) are common; the chosen one must not refer to
  // the temporaries it was chosen from.
  static_assert(!std::is_reference_v<decltype(Language{}.Text("", ""))>);
  Language language;
  language.Set(Lang::English);
  const std::string& english =
      language.Text(std::string("Ошибка ") + "1", std::string("Error ") + "1");
  language.Set(Lang::Russian);
  const std::string& russian =
      language.Text(std::string("Ошибка ") + "2", std::string("Error ") + "2");
  EXPECT_EQ(english, "Error 1");
  EXPECT_EQ(russian, "Ошибка 2");
}

TEST(LanguageTest, OptionValueTwoIsEnglishAnythingElseRussian) {
  Language language;
  for (long long value : {0LL, 1LL, 3LL, -2LL}) {
    language.SetFromOption(value);
    EXPECT_EQ(language.Current(), Lang::Russian) << value;
  }
  language.SetFromOption(2);
  EXPECT_EQ(language.Current(), Lang::English);
  EXPECT_EQ(language.OptionValue(), 2);
}

}  // namespace
}  // namespace dravion
