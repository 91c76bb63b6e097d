#pragma once

#include <string>
#include <string_view>

#include "services/language.h"

namespace dravion {

// Which Russian noun form goes with `n`: 0 for 1, 21, 101 ("минута"), 1 for 2-4, 22-24
// ("минуты"), 2 for the rest, 11-14 included ("минут").
int RussianPluralForm(long long n);

// The word of `n` in the current language: Russian by RussianPluralForm, English singular for 1
// only.
std::string PluralWord(long long n, const Language& language, std::string_view ruOne,
                       std::string_view ruFew, std::string_view ruMany, std::string_view enOne,
                       std::string_view enMany);
// `n`, a blank and PluralWord ("1 минута", "5 минут", "1 minute", "2 minutes").
std::string CountOf(long long n, const Language& language, std::string_view ruOne,
                    std::string_view ruFew, std::string_view ruMany, std::string_view enOne,
                    std::string_view enMany);

// The decimal separator of the interface language: a comma in Russian, a point in English.
char DecimalSeparator(const Language& language);
// `text` with every decimal comma or point that stands between two digits turned into the
// language's separator ("0.00 uSv" -> "0,00 uSv" in Russian, "1,27" -> "1.27" in English).
// Nothing else changes.
std::string WithDecimalSeparator(std::string text, const Language& language);

// A span of seconds as minutes and seconds ("0:07", "12:40"), hours in front when there are any
// ("1:02:03").
std::string MinutesSeconds(long long seconds);

}  // namespace dravion
