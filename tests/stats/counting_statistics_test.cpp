#include "stats/counting_statistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace dravion {
namespace {

// Published exact Poisson limits (Garwood), 95% unless said.
TEST(CountingStatistics, ExactPoissonIntervalsMatchThePublishedTables) {
  struct Row {
    uint64_t counts;
    double low, high;
  };
  for (const Row& row : {Row{0, 0, 3.68888}, Row{1, 0.0253178, 5.57164}, Row{10, 4.79539, 18.3904},
                         Row{100, 81.3637, 121.6280}}) {
    const Interval i = PoissonInterval(row.counts);
    EXPECT_NEAR(i.Low, row.low, 1e-4 * (1 + row.low)) << row.counts;
    EXPECT_NEAR(i.High, row.high, 1e-4 * row.high) << row.counts;
  }
  // 90%: 10 counts give 5.425 to 16.962; a higher confidence is wider.
  const Interval ninety = PoissonInterval(10, 0.90);
  EXPECT_NEAR(ninety.Low, 5.4254, 1e-3);
  EXPECT_NEAR(ninety.High, 16.9622, 1e-3);
  const Interval high = PoissonInterval(10, 0.99);
  EXPECT_LT(high.Low, ninety.Low);
  EXPECT_GT(high.High, PoissonInterval(10).High);
  // A confidence outside (0, 1) gives nothing, and is told apart.
  for (double bad : {0.0, 1.0, -0.5, 95.0, std::nan("")}) {
    EXPECT_FALSE(ValidConfidence(bad)) << bad;
    EXPECT_EQ(PoissonInterval(10, bad).High, 0) << bad;
    EXPECT_FALSE(CompareRates(10, 1, 10, 1, bad).Valid) << bad;
  }
  // A long period's count: still exact, and about +-2 x sqrt(N).
  const Interval big = PoissonInterval(1'000'000'000);
  EXPECT_NEAR(big.High - 1e9, 1.96 * std::sqrt(1e9), 10);
  EXPECT_NEAR(1e9 - big.Low, 1.96 * std::sqrt(1e9), 10);
}

// A period of one record, an empty one, records of one K (Garwood times K over the seconds),
// records of different K, and parts of records at the period's edges.
TEST(CountingStatistics, TheMeanRatesIntervalFollowsEachRecordsCoefficient) {
  PeriodCounts empty;
  EXPECT_TRUE(empty.Empty());
  EXPECT_EQ(empty.Mean(), 0);
  EXPECT_EQ(empty.MeanInterval().Low, 0);
  EXPECT_EQ(empty.MeanInterval().High, 0);

  PeriodCounts one;
  one.Add(10, 1, 127, 60);
  const Interval garwood = PoissonInterval(10);
  EXPECT_DOUBLE_EQ(one.Mean(), 10 * 127 / 60.0);
  EXPECT_NEAR(one.MeanInterval().Low, garwood.Low * 127 / 60, 1e-9);
  EXPECT_NEAR(one.MeanInterval().High, garwood.High * 127 / 60, 1e-9);
  EXPECT_DOUBLE_EQ(one.Exposure(), 60 / 127.0);

  // Nothing counted: from 0 up to 3.69 pulses' worth.
  PeriodCounts silent;
  silent.Add(0, 1, 100, 60);
  EXPECT_EQ(silent.MeanInterval().Low, 0);
  EXPECT_NEAR(silent.MeanInterval().High, 3.68888 * 100 / 60, 1e-3);

  // Sixty records of one K are one count of all their pulses.
  PeriodCounts same;
  uint64_t total = 0;
  for (int i = 0; i < 60; ++i) {
    same.Add(i % 7, 1, 127, 60);
    total += i % 7;
  }
  EXPECT_DOUBLE_EQ(same.Pulses(), static_cast<double>(total));
  EXPECT_NEAR(same.MeanInterval().Low, PoissonInterval(total).Low * 127 / 3600, 1e-9);
  EXPECT_NEAR(same.MeanInterval().High, PoissonInterval(total).High * 127 / 3600, 1e-9);

  // Different K in one period: the mean weighs each record's pulses with its own K, and the
  // interval holds it, wider than that of the same pulses at the lower K alone.
  PeriodCounts mixed;
  mixed.Add(30, 1, 100, 60);
  mixed.Add(30, 1, 200, 60);
  EXPECT_DOUBLE_EQ(mixed.Mean(), (30 * 100 + 30 * 200) / 120.0);
  EXPECT_DOUBLE_EQ(mixed.Exposure(), 60 / 100.0 + 60 / 200.0);
  const Interval m = mixed.MeanInterval();
  EXPECT_LT(m.Low, mixed.Mean());
  EXPECT_GT(m.High, mixed.Mean());
  EXPECT_GT(m.High / m.Low, PoissonInterval(60).High / PoissonInterval(60).Low);

  // A record half inside the period brings half its pulses and its seconds there.
  PeriodCounts edge;
  edge.Add(20, 0.5, 100, 30);
  EXPECT_DOUBLE_EQ(edge.Pulses(), 10);
  EXPECT_DOUBLE_EQ(edge.Mean(), 10 * 100 / 30.0);
  PeriodCounts merged = one;
  merged.Merge(edge);
  EXPECT_DOUBLE_EQ(merged.Seconds(), 90);
  EXPECT_DOUBLE_EQ(merged.Pulses(), 20);

  // Records of mixed K and lengths at a known rate: the 95% intervals hold it in at least 95%
  // of seeded periods.
  std::mt19937_64 random(46);
  const double rate = 2.0;  // K x pulses per second
  int held = 0;
  const int periods = 2000;
  for (int p = 0; p < periods; ++p) {
    PeriodCounts period;
    for (int r = 0; r < 8; ++r) {
      const double k = r % 2 ? 100 : 250, seconds = 10 + 5 * r;
      std::poisson_distribution<int> pulses(rate * seconds / k);
      period.Add(pulses(random), 1, k, seconds);
    }
    const Interval i = period.MeanInterval();
    held += i.Low <= rate && rate <= i.High;
  }
  EXPECT_GE(held, periods * 95 / 100);
}

// Equal rates over different lengths and coefficients show no difference; a rise of 20% over
// enough counts is found, with the ratio's interval around it and away from 1.
TEST(CountingStatistics, TheComparisonTellsARiseFromCountingNoise) {
  std::mt19937_64 random(20260101);
  auto period = [&](double rate, double k, int records, double seconds) {
    PeriodCounts counts;
    for (int r = 0; r < records; ++r) {
      std::poisson_distribution<long> pulses(rate * seconds / k);
      counts.Add(static_cast<double>(pulses(random)), 1, k, seconds);
    }
    return counts;
  };
  // A day at K 1,27 against a week at K 1,00, the same true rate.
  int different = 0;
  for (int trial = 0; trial < 200; ++trial) {
    const PeriodCounts a = period(60, 127, 144, 600), b = period(60, 100, 7 * 144, 600);
    const RateComparison c = CompareRates(a.Pulses(), a.Exposure(), b.Pulses(), b.Exposure());
    ASSERT_TRUE(c.Valid);
    EXPECT_EQ(c.Different, c.P < 0.05);
    EXPECT_EQ(c.Different, c.Range.Low > 1 || c.Range.High < 1) << c.P;
    different += c.Different;
    if (trial == 0) {
      EXPECT_NEAR(c.Ratio, 1, 0.02);
      EXPECT_NEAR(c.Ratio, a.Mean() / b.Mean(), 1e-9);  // one K in each period
    }
  }
  // About 5% by chance, at most (a bound of 10% leaves room for another platform's random
  // stream; exposures that miss a K would make nearly every day different).
  EXPECT_LE(different, 20);

  // 20% more over some 20,000 pulses each.
  const PeriodCounts before = period(60, 127, 720, 60), after = period(72, 127, 720, 60);
  const RateComparison rise =
      CompareRates(after.Pulses(), after.Exposure(), before.Pulses(), before.Exposure());
  EXPECT_TRUE(rise.Different);
  EXPECT_LT(rise.P, 1e-6);
  EXPECT_NEAR(rise.Ratio, 1.2, 0.04);
  EXPECT_LT(rise.Range.Low, rise.Ratio);
  EXPECT_GT(rise.Range.High, rise.Ratio);
  EXPECT_GT(rise.Range.Low, 1.1);
  EXPECT_LT(rise.Range.High, 1.3);
  // The other way round: the inverse.
  const RateComparison fall =
      CompareRates(before.Pulses(), before.Exposure(), after.Pulses(), after.Exposure());
  EXPECT_NEAR(fall.Ratio * rise.Ratio, 1, 1e-12);
  EXPECT_NEAR(fall.Range.High * rise.Range.Low, 1, 1e-9);
  EXPECT_NEAR(fall.P, rise.P, 1e-12 + rise.P * 1e-9);

  // Too few counts for the same rise: nothing to tell.
  const RateComparison few = CompareRates(12, 1, 10, 1);
  EXPECT_FALSE(few.Different);
  EXPECT_GT(few.P, 0.5);
  EXPECT_DOUBLE_EQ(few.Ratio, 1.2);
  // Nothing counted in the second period: an infinite ratio, a finite lower end.
  const RateComparison none = CompareRates(10, 1, 0, 1);
  EXPECT_TRUE(none.Valid);
  EXPECT_TRUE(std::isinf(none.Ratio) && std::isinf(none.Range.High));
  EXPECT_GT(none.Range.Low, 1);
  EXPECT_TRUE(none.Different);
  // No time, or nothing counted at all: no comparison.
  EXPECT_FALSE(CompareRates(10, 0, 10, 1).Valid);
  EXPECT_FALSE(CompareRates(0, 1, 0, 1).Valid);
}

// How long to count for +-5%, and the calibration factor against a second device or a typed
// reference.
TEST(CountingStatistics, PrecisionAndCalibrationTellHowLongToCount) {
  // About (1.96 / 0.05)^2 = 1537 pulses, a little more for the exact interval's upper side.
  const uint64_t needed = CountsForPrecision(0.05);
  EXPECT_GT(needed, 1537u);
  EXPECT_LT(needed, 1700u);
  EXPECT_LE(PoissonInterval(needed).High, needed * 1.05);
  EXPECT_GT(PoissonInterval(needed - 1).High, (needed - 1) * 1.05);
  EXPECT_GT(CountsForPrecision(0.05, 0.99), needed);
  EXPECT_DOUBLE_EQ(SecondsForPrecision(2, 0.05), needed / 2.0);
  EXPECT_TRUE(std::isinf(SecondsForPrecision(0, 0.05)));
  EXPECT_EQ(CountsForPrecision(0), 0u);

  // A device reading 10% low beside a reference over the same hour: the factor is about 1.11.
  PeriodCounts device, reference;
  device.Add(9000, 1, 100, 3600);
  reference.Add(10000, 1, 100, 3600);
  const Calibration c = CalibrateAgainstDevice(device, reference);
  ASSERT_TRUE(c.Valid);
  EXPECT_NEAR(c.Factor, 10000.0 / 9000, 1e-9);
  EXPECT_LT(c.Range.Low, c.Factor);
  EXPECT_GT(c.Range.High, c.Factor);
  EXPECT_GT(c.Range.Low, 1.05);
  // Some 19,000 pulses in all give about +-2.9%: less than the hour already counted.
  EXPECT_LT(c.SecondsFor5Percent, 3600);
  EXPECT_GT(c.SecondsFor5Percent, 600);
  // A device that counted for seconds needs far longer.
  PeriodCounts brief, briefReference;
  brief.Add(9, 1, 100, 6);
  briefReference.Add(10, 1, 100, 6);
  EXPECT_GT(CalibrateAgainstDevice(brief, briefReference).SecondsFor5Percent, 1000);

  // A rate typed in without uncertainty: the device's exact interval, inverted.
  const Calibration typed = CalibrateAgainstRate(device, 2 * device.Mean(), 0);
  ASSERT_TRUE(typed.Valid);
  EXPECT_DOUBLE_EQ(typed.Factor, 2);
  const Interval own = device.MeanInterval();
  EXPECT_NEAR(typed.Range.Low, 2 * device.Mean() / own.High, 1e-9);
  EXPECT_NEAR(typed.Range.High, 2 * device.Mean() / own.Low, 1e-9);
  EXPECT_GE(typed.SecondsFor5Percent, SecondsForPrecision(9000 / 3600.0, 0.05));
  EXPECT_LE(typed.SecondsFor5Percent, SecondsForPrecision(9000 / 3600.0, 0.045));
  // Its uncertainty widens the interval and lengthens the counting; one above 5% / 1.96 of the
  // rate leaves +-5% out of reach.
  const Calibration unsure = CalibrateAgainstRate(device, 2 * device.Mean(), 0.02 * device.Mean());
  EXPECT_LT(unsure.Range.Low, typed.Range.Low);
  EXPECT_GT(unsure.Range.High, typed.Range.High);
  EXPECT_GT(unsure.SecondsFor5Percent, typed.SecondsFor5Percent);
  EXPECT_TRUE(std::isinf(
      CalibrateAgainstRate(device, device.Mean(), 0.03 * device.Mean()).SecondsFor5Percent));
  EXPECT_FALSE(CalibrateAgainstRate(PeriodCounts{}, 1, 0).Valid);
  EXPECT_FALSE(CalibrateAgainstRate(device, 0, 0).Valid);
}

}  // namespace
}  // namespace dravion
