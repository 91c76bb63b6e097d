#include "stats/counting_statistics.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include <boost/math/distributions/binomial.hpp>
#include <boost/math/distributions/gamma.hpp>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/policies/policy.hpp>

namespace dravion {

namespace {

namespace bm = boost::math;
// Errors give NaN or infinity instead of throwing: every input is checked before, and a result
// that is not a number is turned into a plain answer where it is used.
using Policy = bm::policies::policy<bm::policies::domain_error<bm::policies::errno_on_error>,
                                    bm::policies::overflow_error<bm::policies::errno_on_error>,
                                    bm::policies::evaluation_error<bm::policies::errno_on_error>,
                                    bm::policies::pole_error<bm::policies::errno_on_error>>;
using Gamma = bm::gamma_distribution<double, Policy>;
using Binomial = bm::binomial_distribution<double, Policy>;
using Normal = bm::normal_distribution<double, Policy>;

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// The most pulses any search goes to: beyond a century of counting at the highest rates.
constexpr double kMostCounts = 1e15;

// The quantile q of the gamma distribution of `shape` and `scale`.
double GammaQuantile(double shape, double scale, double q) {
  return bm::quantile(Gamma(shape, scale), q);
}

// The standard normal quantile of the upper tail (1 - confidence) / 2.
double NormalQuantile(double confidence) {
  return bm::quantile(bm::complement(Normal(0, 1), (1 - confidence) / 2));
}

// The fewest counts (from 1) for which `holds` is true, when it stays true for more counts; 0
// when not even kMostCounts do.
uint64_t FewestCounts(const std::function<bool(double)>& holds) {
  double high = 1;
  while (!holds(high)) {
    if (high >= kMostCounts) return 0;
    high *= 2;
  }
  double low = high / 2;  // does not hold (or is below 1)
  if (high == 1) return 1;
  while (high - low > 1) {
    const double middle = std::floor((low + high) / 2);
    (holds(middle) ? high : low) = middle;
  }
  return static_cast<uint64_t>(high);
}

// The Clopper-Pearson interval on the share p of a binomial count n1 of n.
Interval ShareInterval(double n1, double n, double confidence) {
  const double alpha = 1 - confidence;
  return {Binomial::find_lower_bound_on_p(n, n1, alpha / 2),
          Binomial::find_upper_bound_on_p(n, n1, alpha / 2)};
}

// The interval of the ratio of two rates from n1 and n2 pulses over exposures e1 and e2: the
// first count's share p of the total gives ratio = p / (1 - p) x e2 / e1.
Interval RatioInterval(double n1, double n2, double e1, double e2, double confidence) {
  const Interval p = ShareInterval(n1, n1 + n2, confidence);
  const double scale = e2 / e1;
  Interval r;
  r.Low = n1 == 0 ? 0 : p.Low / (1 - p.Low) * scale;
  r.High = p.High >= 1 ? kInfinity : p.High / (1 - p.High) * scale;
  return r;
}

}  // namespace

bool ValidConfidence(double confidence) {
  return confidence > 0 && confidence < 1;
}

Interval PoissonInterval(uint64_t counts, double confidence) {
  if (!ValidConfidence(confidence)) return {};
  const double alpha = 1 - confidence, n = static_cast<double>(counts);
  Interval i;
  i.Low = counts == 0 ? 0 : GammaQuantile(n, 1, alpha / 2);
  i.High = GammaQuantile(n + 1, 1, 1 - alpha / 2);
  return i;
}

void PeriodCounts::Add(double pulses, double share, double k, double seconds) {
  if (!(pulses >= 0) || !(share >= 0) || !(k > 0) || !(seconds >= 0)) return;
  const double counted = pulses * share, weight = k * share;
  seconds_ += seconds;
  pulses_ += counted;
  weighted_ += weight * pulses;
  squares_ += weight * weight * pulses;
  maxWeight_ = std::max(maxWeight_, weight);
  exposure_ += seconds / k;
}

void PeriodCounts::Merge(const PeriodCounts& other) {
  seconds_ += other.seconds_;
  pulses_ += other.pulses_;
  weighted_ += other.weighted_;
  squares_ += other.squares_;
  maxWeight_ = std::max(maxWeight_, other.maxWeight_);
  exposure_ += other.exposure_;
}

double PeriodCounts::Mean() const {
  return seconds_ > 0 ? weighted_ / seconds_ : 0;
}

namespace {

// Fay and Feuer: the weighted sum y with its variance v = sum(w^2 x) and the largest weight w
// as gamma distributions; with weights all w, Garwood's interval times w.
Interval GammaSumInterval(double y, double v, double w, double confidence) {
  const double alpha = 1 - confidence;
  Interval i;
  i.Low = y > 0 && v > 0 ? GammaQuantile(y * y / v, v / y, alpha / 2) : 0;
  i.High = GammaQuantile((y + w) * (y + w) / (v + w * w), (v + w * w) / (y + w), 1 - alpha / 2);
  if (!(i.Low >= 0)) i.Low = 0;
  if (!(i.High >= y)) i.High = kInfinity;
  return i;
}

}  // namespace

Interval PeriodCounts::MeanInterval(double confidence) const {
  if (seconds_ <= 0 || maxWeight_ <= 0 || !ValidConfidence(confidence)) return {};
  return GammaSumInterval(weighted_ / seconds_, squares_ / (seconds_ * seconds_),
                          maxWeight_ / seconds_, confidence);
}

Interval PeriodCounts::WeightedInterval(double confidence) const {
  if (maxWeight_ <= 0 || !ValidConfidence(confidence)) return {};
  return GammaSumInterval(weighted_, squares_, maxWeight_, confidence);
}

PeriodCounts::Sums PeriodCounts::Kept() const {
  return {seconds_, pulses_, weighted_, squares_, maxWeight_, exposure_};
}

bool PeriodCounts::ValidSums(const Sums& s) {
  for (const double value : {s.Seconds, s.Pulses, s.Weighted, s.Squares, s.MaxWeight, s.Exposure})
    if (!(value >= 0) || !std::isfinite(value)) return false;
  return true;
}

PeriodCounts PeriodCounts::FromKept(const Sums& s) {
  PeriodCounts counts;
  if (!ValidSums(s)) return counts;
  counts.seconds_ = s.Seconds;
  counts.pulses_ = s.Pulses;
  counts.weighted_ = s.Weighted;
  counts.squares_ = s.Squares;
  counts.maxWeight_ = s.MaxWeight;
  counts.exposure_ = s.Exposure;
  return counts;
}

RateComparison CompareRates(double counts1, double exposure1, double counts2, double exposure2,
                            double confidence) {
  RateComparison c;
  const double n1 = std::round(counts1), n2 = std::round(counts2);
  if (!(exposure1 > 0) || !(exposure2 > 0) || !(n1 >= 0) || !(n2 >= 0) || n1 + n2 <= 0 ||
      n1 + n2 > kMostCounts || !ValidConfidence(confidence))
    return c;
  c.Valid = true;
  const double n = n1 + n2, share = exposure1 / (exposure1 + exposure2);
  c.Ratio = n2 == 0 ? kInfinity : (n1 / exposure1) / (n2 / exposure2);
  c.Range = RatioInterval(n1, n2, exposure1, exposure2, confidence);
  // Equal rates: the first count's share of the total is binomial with p = e1 / (e1 + e2).
  const Binomial equal(n, share);
  const double lower = bm::cdf(equal, n1);
  const double upper = n1 == 0 ? 1 : bm::cdf(bm::complement(equal, n1 - 1));
  c.P = std::min(1.0, 2 * std::min(lower, upper));
  if (!(c.P >= 0)) c.P = 1;
  c.Different = c.P < 1 - confidence;
  return c;
}

uint64_t CountsForPrecision(double relative, double confidence) {
  if (!(relative > 0) || !ValidConfidence(confidence)) return 0;
  return FewestCounts([&](double n) {
    const Interval i = PoissonInterval(static_cast<uint64_t>(n), confidence);
    return i.Low >= n * (1 - relative) && i.High <= n * (1 + relative);
  });
}

double SecondsForPrecision(double pulsesPerSecond, double relative, double confidence) {
  const uint64_t counts = CountsForPrecision(relative, confidence);
  if (!(pulsesPerSecond > 0) || counts == 0) return kInfinity;
  return static_cast<double>(counts) / pulsesPerSecond;
}

Calibration CalibrateAgainstDevice(const PeriodCounts& device, const PeriodCounts& reference,
                                   double confidence) {
  Calibration c;
  const RateComparison compared = CompareRates(
      device.Pulses(), device.Exposure(), reference.Pulses(), reference.Exposure(), confidence);
  if (!compared.Valid || compared.Ratio <= 0 || std::isinf(compared.Ratio)) return c;
  c.Valid = true;
  c.Factor = 1 / compared.Ratio;
  c.Range.Low = compared.Range.High > 0 ? 1 / compared.Range.High : kInfinity;
  c.Range.High = compared.Range.Low > 0 ? 1 / compared.Range.Low : kInfinity;
  // Counting on at the rates seen: the fewest seconds after which both counts give a factor
  // within +-5%.
  const double rate1 = device.Pulses() / device.Seconds();
  const double rate2 = reference.Pulses() / reference.Seconds();
  if (!(rate1 > 0) || !(rate2 > 0)) {
    c.SecondsFor5Percent = kInfinity;
    return c;
  }
  // The factor is the inverse of the ratio: its side above comes from the ratio's side below.
  const double slower = std::min(rate1, rate2);
  const uint64_t counts = FewestCounts([&](double n) {
    const double seconds = n / slower;
    const double n1 = std::round(rate1 * seconds), n2 = std::round(rate2 * seconds);
    if (n1 <= 0 || n2 <= 0) return false;
    // Relative to the estimate: exposures of 1 each make the ratio n1 / n2.
    const Interval r = RatioInterval(n1, n2, 1, 1, confidence);
    const double ratio = n1 / n2;
    return r.Low > 0 && ratio / r.Low <= 1.05 && ratio / r.High >= 0.95;
  });
  c.SecondsFor5Percent = counts == 0 ? kInfinity : static_cast<double>(counts) / slower;
  return c;
}

Calibration CalibrateAgainstRate(const PeriodCounts& device, double referenceRate,
                                 double referenceUncertainty, double confidence) {
  Calibration c;
  const double mean = device.Mean();
  if (!(mean > 0) || !(referenceRate > 0) || !(referenceUncertainty >= 0) ||
      !ValidConfidence(confidence))
    return c;
  c.Valid = true;
  c.Factor = referenceRate / mean;
  const Interval own = device.MeanInterval(confidence);
  const double z = NormalQuantile(confidence);
  const double reference = z * referenceUncertainty / referenceRate;
  // The device's mean below its estimate raises the factor, and the other way round.
  const double up = own.Low > 0 ? std::log(mean / own.Low) : kInfinity;
  const double down = std::log(own.High / mean);
  c.Range.Low = c.Factor * std::exp(-std::hypot(down, reference));
  c.Range.High = c.Factor * std::exp(std::hypot(up, reference));
  c.SecondsFor5Percent = kInfinity;
  if (reference >= std::log(1.05)) return c;  // the reference alone is less sure than that
  // Counting on at the device's rate: the counts whose exact interval, with the reference's,
  // keeps the factor within +-5%.
  const double rate = device.Pulses() / device.Seconds();
  if (!(rate > 0)) return c;
  const uint64_t counts = FewestCounts([&](double n) {
    const Interval i = PoissonInterval(static_cast<uint64_t>(n), confidence);
    return i.Low > 0 && std::hypot(std::log(n / i.Low), reference) <= std::log(1.05) &&
           std::hypot(std::log(i.High / n), reference) <= -std::log(0.95);
  });
  if (counts > 0) c.SecondsFor5Percent = static_cast<double>(counts) / rate;
  return c;
}

}  // namespace dravion
