#include "device/value_tables.h"

#include <gtest/gtest.h>

namespace dravion {
namespace {

Language English() {
  Language language;
  language.Set(Lang::English);
  return language;
}

Language Russian() {
  Language language;
  language.Set(Lang::Russian);
  return language;
}

TEST(UnitNames, PickTheLanguageAndForceOutOfRangeToZero) {
  EXPECT_EQ(RateUnitName(0, 0, English()), "uSv/h");
  EXPECT_EQ(RateUnitName(1, 2, English()), "R/h");
  EXPECT_EQ(RateUnitName(1, 1, Russian()), " мР/ч");
  EXPECT_EQ(RateUnitName(1, 2, Russian()), "  Р/ч");
  EXPECT_EQ(DoseUnitName(2, 1, English()), "PULSES*E3");
  EXPECT_EQ(DoseUnitName(2, 2, Russian()), "ИМП");
  // Outside 0..2 each index becomes 0.
  EXPECT_EQ(RateUnitName(3, 1, English()), "mSv/h");
  EXPECT_EQ(RateUnitName(1, -1, English()), "uR/h");
  EXPECT_EQ(DoseUnitName(-5, 7, Russian()), "мкЗв");
}

TEST(ThresholdItems, ReadAsTheDeviceTablesSay) {
  const auto rateRoentgen = BackgroundThresholdItems(1, English());
  EXPECT_EQ(rateRoentgen[13], "3 mR/h");
  EXPECT_EQ(rateRoentgen[0], "30 uR/h");
  EXPECT_EQ(BackgroundThresholdItems(1, Russian())[13], "3  мР/ч");
  EXPECT_EQ(BackgroundThresholdItems(2, English())[8], "240 CPM");
  EXPECT_EQ(BackgroundThresholdItems(0, English())[15], "100 uSv/h");

  EXPECT_EQ(DoseThresholdItems(0, English())[6], "10,0 mSv");
  EXPECT_EQ(DoseThresholdItems(0, English())[8], "0,1 Sv");
  EXPECT_EQ(DoseThresholdItems(2, English())[0], "100e3 PULSES");
  EXPECT_EQ(DoseThresholdItems(2, Russian())[14], "1e12 ИМП");
  EXPECT_EQ(DoseThresholdItems(1, Russian())[14], "10000   Р");
}

TEST(ThresholdItems, AlwaysSixteenAndFifteenItems) {
  for (int unit : {-3, 0, 1, 2, 5}) {
    for (const Language& language : {English(), Russian()}) {
      EXPECT_EQ(BackgroundThresholdItems(unit, language).size(), 16u) << unit;
      EXPECT_EQ(DoseThresholdItems(unit, language).size(), 15u) << unit;
    }
  }
  EXPECT_EQ(DoseThresholdItems(7, English()), DoseThresholdItems(2, English()));
}

TEST(ThresholdUnit, RemembersTheLastUnitAndClampsHighOnes) {
  ThresholdUnit unit;
  EXPECT_EQ(unit.Resolve(-1), 0);
  EXPECT_EQ(unit.Resolve(1), 1);
  EXPECT_EQ(unit.Resolve(-1), 1);
  EXPECT_EQ(unit.Resolve(5), 2);
  EXPECT_EQ(unit.Remembered(), 2);
  EXPECT_EQ(unit.Resolve(-7), 2);
  EXPECT_EQ(unit.Resolve(0), 0);
  EXPECT_EQ(unit.Resolve(-1), 0);
}

}  // namespace
}  // namespace dravion
