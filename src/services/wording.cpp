#include "services/wording.h"

#include <cctype>
#include <cstdio>

namespace dravion {

int RussianPluralForm(long long n) {
  if (n < 0) n = -n;
  const long long ones = n % 10;
  const long long tens = n % 100;
  if (ones == 1 && tens != 11) return 0;
  if (ones >= 2 && ones <= 4 && (tens < 12 || tens > 14)) return 1;
  return 2;
}

std::string PluralWord(long long n, const Language& language, std::string_view ruOne,
                       std::string_view ruFew, std::string_view ruMany, std::string_view enOne,
                       std::string_view enMany) {
  if (language.Current() == Lang::English) return std::string(n == 1 || n == -1 ? enOne : enMany);
  switch (RussianPluralForm(n)) {
    case 0:
      return std::string(ruOne);
    case 1:
      return std::string(ruFew);
    default:
      return std::string(ruMany);
  }
}

std::string CountOf(long long n, const Language& language, std::string_view ruOne,
                    std::string_view ruFew, std::string_view ruMany, std::string_view enOne,
                    std::string_view enMany) {
  return std::to_string(n) + " " + PluralWord(n, language, ruOne, ruFew, ruMany, enOne, enMany);
}

char DecimalSeparator(const Language& language) {
  return language.Current() == Lang::Russian ? ',' : '.';
}

std::string WithDecimalSeparator(std::string text, const Language& language) {
  const char separator = DecimalSeparator(language);
  const auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
  for (size_t i = 1; i + 1 < text.size(); ++i) {
    if ((text[i] == ',' || text[i] == '.') && digit(text[i - 1]) && digit(text[i + 1]))
      text[i] = separator;
  }
  return text;
}

std::string MinutesSeconds(long long seconds) {
  if (seconds < 0) seconds = 0;
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
  }
  return text;
}

}  // namespace dravion
