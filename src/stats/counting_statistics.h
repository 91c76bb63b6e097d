#pragma once

// Counting statistics of pulses: how sure a rate computed from counted pulses is, and whether two
// rates differ by more than counting alone explains. Pulses of a radiation counter arrive at
// random, so the number counted in a given time is a Poisson count; every interval and test here
// is exact for that (no normal approximation), on Boost.Math's distributions.

#include <cstdint>

namespace dravion {

// The confidence of an interval unless asked otherwise.
inline constexpr double kDefaultConfidence = 0.95;

// An interval [Low, High]; High may be infinite (a ratio over a count of none).
struct Interval {
  double Low = 0;
  double High = 0;
};

// Whether a confidence can be used: a number strictly between 0 and 1.
bool ValidConfidence(double confidence);

// The exact (Garwood) interval on the mean of a Poisson count of `counts`: the means for which
// the count seen is not among the (1 - confidence) / 2 least likely on either side. For no
// count, Low is 0.
Interval PoissonInterval(uint64_t counts, double confidence = kDefaultConfidence);

// The pulses of a period, each record's with the weight that turns them into the period's rate.
// A record's pulses are a Poisson count; its rate is pulses x K / seconds (times the device's
// constant), K its calibration coefficient. The period's mean - all weighted pulses over all
// seconds covered - is then a weighted sum of Poisson counts, sum(w_i x_i) with
// w_i = K_i / seconds. A record that lies partly in the period brings the share of its pulses
// that its seconds there stand for: its weight is K_i x share.
class PeriodCounts {
 public:
  // A record's part in the period: its pulses, the share of them that falls in the period (its
  // seconds there over its duration; 1 for a record wholly inside or of no duration), the seconds
  // it covers there and its K (as K x 100, or in any unit: the rate is in that unit).
  void Add(double pulses, double share, double k, double seconds);
  // Another period's sums (the pieces of one period read apart).
  void Merge(const PeriodCounts& other);

  bool Empty() const { return seconds_ <= 0; }
  double Seconds() const { return seconds_; }
  // The pulses counted in the period (parts of records in proportion).
  double Pulses() const { return pulses_; }
  // sum(K x pulses): the period's weighted pulses.
  double WeightedPulses() const { return weighted_; }
  // sum(seconds / K): the pulses the period is expected to hold per unit of rate (K x pulses
  // per second). Rates of two periods compare through their exposures.
  double Exposure() const { return exposure_; }
  // The mean rate: K x pulses per second (0 without seconds).
  double Mean() const;
  // The mean's interval, exact for a sum of Poisson counts of different weights (the gamma
  // interval of Fay and Feuer): Garwood's interval when every weight is the same. Empty
  // periods give [0, 0].
  Interval MeanInterval(double confidence = kDefaultConfidence) const;
  // The same interval on the weighted pulses themselves (K x pulses; the dose of the period),
  // also for pulses that cover no time. Periods without a record give [0, 0].
  Interval WeightedInterval(double confidence = kDefaultConfidence) const;

  // The sums, as a period's part can be kept apart (a day's, in a file) and taken again.
  struct Sums {
    double Seconds = 0, Pulses = 0, Weighted = 0, Squares = 0, MaxWeight = 0, Exposure = 0;
  };
  Sums Kept() const;
  // Counts of kept sums; nothing (empty counts) for sums that are not finite and not below 0.
  static PeriodCounts FromKept(const Sums& sums);
  static bool ValidSums(const Sums& sums);

 private:
  double seconds_ = 0;
  double pulses_ = 0;
  double weighted_ = 0;   // sum(K share x)
  double squares_ = 0;    // sum((K share)^2 x)
  double maxWeight_ = 0;  // the largest K x share
  double exposure_ = 0;
};

// The comparison of two rates from counts: `counts` pulses over an exposure each (the pulses
// expected per unit of rate, PeriodCounts::Exposure). Given the total, the first count is
// binomial with p = e1 / (e1 + e2) when the rates are equal: that exact test gives P, and the
// Clopper-Pearson interval on p gives the interval of the ratio of the first rate over the
// second.
struct RateComparison {
  bool Valid = false;  // both exposures above zero and some pulse counted
  double Ratio = 0;    // first rate over second (infinite when the second counted nothing)
  Interval Range;      // of the ratio
  double P = 1;        // two-sided: twice the smaller tail, at most 1
  // Whether counting alone leaves the difference unexplained: P below 1 - confidence (then the
  // interval does not hold 1).
  bool Different = false;
};
RateComparison CompareRates(double counts1, double exposure1, double counts2, double exposure2,
                            double confidence = kDefaultConfidence);

// The pulses to count for a rate known to within +-`relative` (0.05: +-5%): the fewest whose
// exact interval lies within that share of the count on both sides. 0 for a share not above 0.
uint64_t CountsForPrecision(double relative, double confidence = kDefaultConfidence);
// The seconds of counting that takes at `pulsesPerSecond` (infinite at no rate).
double SecondsForPrecision(double pulsesPerSecond, double relative,
                           double confidence = kDefaultConfidence);

// The calibration factor that would make a device agree with a reference: the reference's rate
// over the device's, by which the device's coefficient would be multiplied.
struct Calibration {
  bool Valid = false;
  double Factor = 0;
  Interval Range;
  // Seconds of counting (at the rates seen) for a factor within +-5%; infinite when the
  // reference alone is less sure than that.
  double SecondsFor5Percent = 0;
};
// Against a second device counting beside it over the same time: its pulses and exposure, and
// the seconds each counted (the rates at which more counting would go on). The exact ratio's
// interval, inverted.
Calibration CalibrateAgainstDevice(const PeriodCounts& device, const PeriodCounts& reference,
                                   double confidence = kDefaultConfidence);
// Against a mean rate typed in (in the unit of PeriodCounts::Mean) with its standard
// uncertainty. The device's side is exact; the reference's is taken as normal, and the two
// combine as independent relative uncertainties (on the logarithm of the factor).
Calibration CalibrateAgainstRate(const PeriodCounts& device, double referenceRate,
                                 double referenceUncertainty,
                                 double confidence = kDefaultConfidence);

}  // namespace dravion
