#include "services/text_encoding.h"

#include <gtest/gtest.h>

namespace dravion {
namespace {

TEST(TextEncoding, RussianRoundTripsThroughWindows1251) {
  const std::string russian = "Ошибка: Нет соединения, ёЁ №";
  const std::string bytes = Utf8ToCp1251(russian);
  EXPECT_EQ(bytes.size(), Utf8Length(russian));
  EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xCE);  // О
  EXPECT_EQ(static_cast<unsigned char>(Utf8ToCp1251("ё")[0]), 0xB8);
  EXPECT_EQ(static_cast<unsigned char>(Utf8ToCp1251("№")[0]), 0xB9);
  EXPECT_EQ(Cp1251ToUtf8(bytes), russian);
}

TEST(TextEncoding, UnmappableAndMalformedInputIsReplacedNotCrashed) {
  EXPECT_EQ(Utf8ToCp1251("a€b"),
            "a\x88"
            "b");
  EXPECT_EQ(Utf8ToCp1251("日本"), "??");
  EXPECT_EQ(Utf8ToCp1251(std::string("\xD0", 1)), "?");  // truncated sequence
  EXPECT_EQ(Utf8ToCp1251(std::string("\xFF\x41", 2)), "?A");
  EXPECT_EQ(Cp1251ToUtf8(std::string("\x98", 1)), "\xEF\xBF\xBD");  // no character there
}

}  // namespace
}  // namespace dravion
