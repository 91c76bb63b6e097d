#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "services/language.h"
#include "stats/counting_statistics.h"

namespace dravion {

class HistoryArchive;

// The unit figures are shown in: the device's own (its units setting), micro-Sievert or
// micro-Roentgen per hour. 1 uSv/h = 100 uR/h, as the device converts.
enum class FigureUnit { Sievert, Roentgen };

// A period of one device's records: its first and last second (device seconds, both included)
// and the rate above which time is counted (uR/h; none: no such time). A device whose clock was
// set back has a run of records for each time: the period takes the records of every run that
// lies in it, unless AllRuns is false (then only the run `Device` names).
struct FigureRange {
  int64_t Device = 0;
  uint32_t From = 0;
  uint32_t To = 0xFFFFFFFF;
  std::optional<double> Threshold;
  bool AllRuns = true;
};

// Another run of the device whose records lie in the period: its number, the part of the period
// its records cover, and where that part lies over the chosen run's (the clock was set back:
// the same device seconds came twice).
struct OtherRun {
  int Run = 0;
  uint32_t First = 0, Last = 0;
  bool Overlaps = false;
  uint32_t OverlapFirst = 0, OverlapLast = 0;
};

// Figures of a period, from the records the chart uses (usable, not in conflict), each with the
// coefficient it was downloaded with. A record that runs across the period's first or last second
// counts with the part of it inside: its seconds there, its pulses in proportion, its rate as it
// is. A record of no duration is a point: its pulses count where it lies, it covers no time.
// Rates (highest, lowest, time above the threshold) are those of records of 10 s or more, as the
// chart's maximum takes them; shorter records count in the mean, the dose and the time covered.
struct ArchiveFigures {
  uint64_t Records = 0;       // records with a part inside the period
  uint64_t Covered = 0;       // seconds covered by records
  uint64_t Gaps = 0;          // stretches between two records that no record covers
  uint64_t LongestGap = 0;    // seconds
  double WeightedPulses = 0;  // pulses x K x 100
  bool HasRates = false;      // some record of 10 s or more
  double MaxRate = 0;         // uR/h
  uint32_t MaxAt = 0;         // start of that record (the earliest of equal ones)
  double MinRate = 0;
  uint32_t MinAt = 0;
  bool HasThreshold = false;
  double Threshold = 0;  // uR/h
  uint64_t Above = 0;    // seconds of records whose rate lies above the threshold
  int Run = 1;           // the run the range named
  std::vector<OtherRun> OtherRuns;
  // The counting behind the mean and the dose: each record's part with its pulses in proportion
  // and its K (as K x 100).
  PeriodCounts Counts;

  // The time-weighted mean: all pulses over all seconds covered, in uR/h (0 without time).
  double MeanRate() const;
  // The dose: each record's rate times its duration, in uR (= mean x time covered).
  double Dose() const;
  // Their exact intervals from the pulses counted, each record's with its own K: [0, 0] for the
  // mean without time covered, and for both without records.
  Interval MeanInterval(double confidence = kDefaultConfidence) const;
  Interval DoseInterval(double confidence = kDefaultConfidence) const;
  // The pulses counted (parts of records in proportion), to the nearest whole.
  uint64_t CountedPulses() const;
};

// Adds records, in the order of their starts, to the figures of [from, to] (both included).
class FigureAccumulator {
 public:
  FigureAccumulator(ArchiveFigures& figures, uint64_t from, uint64_t to)
      : f_(figures), from_(from), to_(to) {}
  // Also gathers the record's part in the figures' Counts.
  void Add(uint32_t start, uint32_t duration, uint32_t pulses, uint32_t k);

 protected:
  // Time covered from `start` to `end` (exclusive): a stretch no record covered before it is a
  // gap.
  void Interval(uint64_t start, uint64_t end);
  void Highest(double rate, uint32_t at);
  void Lowest(double rate, uint32_t at);

  ArchiveFigures& f_;
  uint64_t from_, to_;
  bool haveEnd_ = false;
  uint64_t firstStart_ = 0;
  uint64_t end_ = 0;
  uint64_t rated_ = 0;  // seconds of records of 10 s or more
};

// A record's rate in uR/h: pulses x K x 36 / (172 x duration), K as K x 100.
double RecordRate(uint32_t pulses, uint32_t duration, uint32_t k);

// The dose of a record's pulses in uR: pulses x K x 36 / (172 x 3600).
double RecordDose(uint32_t pulses, uint32_t k);

// The figures of a period. Whole days come from per-day figures kept in the archive beside its
// day sums (made from the records the first time a day is asked for, and again whenever the day
// sums show that a merge changed the day); records are read only at the period's edges, for
// records that run across a day's end, and for days whose rates lie on both sides of the
// threshold. False when a read failed (the archive's ReadFailed and Error() say why).
bool ArchiveStatistics(HistoryArchive& archive, const FigureRange& range, ArchiveFigures& figures);

// A record the figures count, with its coefficient (K x 100) and the number of its run.
struct FigureRecord {
  uint32_t Start, Duration, Pulses, K;
  int Run;
};

class ArchiveFigureReader;

// One read of the archive for several figures and the records behind them (a workbook's front
// sheet, its days and its rows; a report's figures and its table): all from one picture of the
// archive, also while another program merges. Ok() is false when the archive cannot be read
// (its Error() says why); so is each call that fails.
class FigureRead {
 public:
  explicit FigureRead(HistoryArchive& archive);
  ~FigureRead();
  FigureRead(const FigureRead&) = delete;
  FigureRead& operator=(const FigureRead&) = delete;
  bool Ok() const { return ok_; }
  // As ArchiveStatistics.
  bool Figures(const FigureRange& range, ArchiveFigures& figures);
  // The records those figures count (usable, not in conflict, with a part inside the period),
  // run by run as the figures take them, each run's oldest first.
  bool Records(const FigureRange& range, const std::function<void(const FigureRecord&)>& visit);

 private:
  std::unique_ptr<ArchiveFigureReader> reader_;
  bool ok_ = false;
};

// The device's unit and background alarm threshold as a settings read last found them, kept in
// the archive per serial number: the figures' defaults.
struct DeviceAlarm {
  FigureUnit Unit = FigureUnit::Sievert;
  double Threshold = 0;  // uR/h
};
// Keeps what a read of the device's settings found (units 0 to 2, background list position 0
// to 15; others are not kept); false when the archive cannot take it now.
bool RememberDeviceAlarm(HistoryArchive& archive, const std::string& serial, uint32_t units,
                         uint32_t backgroundLevel);
std::optional<DeviceAlarm> RememberedDeviceAlarm(HistoryArchive& archive,
                                                 const std::string& serial);
// A position of the background threshold list as a rate in uR/h (30 to 10,000).
double BackgroundThresholdRate(uint32_t position);

// A rate (uR/h) or dose (uR) in the unit asked for.
double RateIn(FigureUnit unit, double microRoentgenPerHour);
double DoseIn(FigureUnit unit, double microRoentgen);
// A rate typed in the unit, as uR/h.
double RateFrom(FigureUnit unit, double value);
// Digits after the decimal point for rates and doses of the unit: uSv 3, uR 1.
int FigureDecimals(FigureUnit unit);
// The unit's names as the device shows them ("uSv/h", "мкЗв/ч"; "uSv", "мкЗв").
std::string FigureRateUnit(FigureUnit unit, const Language& language);
std::string FigureDoseUnit(FigureUnit unit, const Language& language);
// The device's units setting (0 Sievert, 1 Roentgen, 2 counts) as a figure unit: counts are
// shown in Sievert.
FigureUnit FigureUnitOfSetting(uint32_t units);
// A rate or dose with the unit's fixed decimals and the language's decimal separator (a comma
// in Russian, as the device writes numbers; a point in English, where a comma would read as a
// thousands separator).
std::string FigureNumber(double value, FigureUnit unit, const Language& language);
// A length of time: "3 d 04:05:06", "04:05:06" ("д" in Russian).
std::string DurationText(uint64_t seconds, const Language& language);

}  // namespace dravion
