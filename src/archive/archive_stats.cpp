#include "archive/archive_stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

#include "archive/day_figures_cache.h"
#include "archive/history_archive.h"
#include "archive/sqlite_statement.h"
#include "device/value_tables.h"
#include "services/number_text.h"
#include "services/wording.h"

namespace dravion {

namespace {

constexpr uint64_t kDay = 86400;
// Records shorter than this have no rate of their own worth showing (the chart's maximum too).
constexpr uint32_t kRatedDuration = 10;
// uR/h per (pulse x K x 100 / second), and uR per pulse x K x 100.
constexpr double kRateFactor = 36.0 / 172.0;
constexpr double kDoseFactor = kRateFactor / 3600.0;

struct Record {
  uint32_t Start, Duration, Pulses, K;
};

// One day's figures of the records that lie wholly inside it (those the day sums hold).
struct DayFigures {
  int64_t Device = 0;
  uint64_t Start = 0;
  int64_t PulsesK = 0;
  int64_t Covered = 0;
  uint64_t Records = 0;
  bool HasSpan = false;  // a record of some duration: FirstStart and LastEnd hold
  uint64_t FirstStart = 0;
  uint64_t LastEnd = 0;  // the latest end (exclusive)
  uint64_t Gaps = 0;
  uint64_t LongestGap = 0;
  bool HasRates = false;
  double MaxRate = 0;
  uint64_t MaxAt = 0;
  double MinRate = 0;
  uint64_t MinAt = 0;
  uint64_t RatedSeconds = 0;  // seconds of records of 10 s or more
  PeriodCounts Counts;
  // The rates of those records, lowest first, each with its seconds: the time above any
  // threshold without reading the day's records.
  std::vector<std::pair<double, uint32_t>> Rates;
};

// The rates as kept in the archive: per rate its 8 bytes (IEEE 754) and 4 bytes of seconds,
// little-endian.
std::string PackRates(const std::vector<std::pair<double, uint32_t>>& rates) {
  std::string bytes;
  bytes.reserve(rates.size() * 12);
  for (const auto& [rate, seconds] : rates) {
    uint64_t bits;
    std::memcpy(&bits, &rate, sizeof bits);
    for (int i = 0; i < 8; ++i)
      bytes.push_back(static_cast<char>(bits >> (8 * i)));
    for (int i = 0; i < 4; ++i)
      bytes.push_back(static_cast<char>(seconds >> (8 * i)));
  }
  return bytes;
}

// False for bytes that are not a whole number of entries in ascending order of rate.
bool UnpackRates(const std::string& bytes, std::vector<std::pair<double, uint32_t>>& rates) {
  rates.clear();
  if (bytes.size() % 12 != 0) return false;
  for (size_t at = 0; at < bytes.size(); at += 12) {
    uint64_t bits = 0;
    uint32_t seconds = 0;
    for (int i = 0; i < 8; ++i)
      bits |= uint64_t{static_cast<uint8_t>(bytes[at + i])} << (8 * i);
    for (int i = 0; i < 4; ++i)
      seconds |= uint32_t{static_cast<uint8_t>(bytes[at + 8 + i])} << (8 * i);
    double rate;
    std::memcpy(&rate, &bits, sizeof rate);
    if (!(rate >= 0) || (!rates.empty() && !(rate > rates.back().first))) return false;
    rates.emplace_back(rate, seconds);
  }
  return true;
}

// Adds whole days too, and gives a day's own figures.
class Accumulator : public FigureAccumulator {
 public:
  using FigureAccumulator::FigureAccumulator;
  void Add(const Record& r) { FigureAccumulator::Add(r.Start, r.Duration, r.Pulses, r.K); }

  // A day wholly inside the period, with its seconds above the threshold.
  void AddDay(const DayFigures& d, uint64_t above) {
    f_.Records += d.Records;
    f_.Covered += static_cast<uint64_t>(d.Covered);
    f_.WeightedPulses += static_cast<double>(d.PulsesK);
    f_.Counts.Merge(d.Counts);
    if (d.HasSpan) {
      Interval(d.FirstStart, d.FirstStart);
      f_.Gaps += d.Gaps;
      f_.LongestGap = std::max(f_.LongestGap, d.LongestGap);
      end_ = std::max(end_, d.LastEnd);
    }
    if (d.HasRates) {
      Highest(d.MaxRate, static_cast<uint32_t>(d.MaxAt));
      Lowest(d.MinRate, static_cast<uint32_t>(d.MinAt));
    }
    f_.Above += above;
    rated_ += d.RatedSeconds;
  }

  // A day's own figures, when the accumulator ran over the day's records alone.
  void Fill(DayFigures& d) const {
    d.Records = f_.Records;
    d.HasSpan = haveEnd_;
    d.FirstStart = firstStart_;
    d.LastEnd = end_;
    d.Gaps = f_.Gaps;
    d.LongestGap = f_.LongestGap;
    d.HasRates = f_.HasRates;
    d.MaxRate = f_.MaxRate;
    d.MaxAt = f_.MaxAt;
    d.MinRate = f_.MinRate;
    d.MinAt = f_.MinAt;
    d.RatedSeconds = rated_;
    d.Counts = f_.Counts;
  }
};

const char* const kDeviceAlarmsTable =
    "CREATE TABLE IF NOT EXISTS device_alarms(serial TEXT PRIMARY KEY, units INTEGER NOT NULL,"
    " background_level INTEGER NOT NULL)";

}  // namespace

void FigureAccumulator::Add(uint32_t start, uint32_t duration, uint32_t pulses, uint32_t k) {
  if (duration == 0) {
    if (start < from_ || start > to_) return;
    ++f_.Records;
    f_.WeightedPulses += static_cast<double>(pulses) * k;
    f_.Counts.Add(pulses, 1, k, 0);
    return;
  }
  const uint64_t last = uint64_t{start} + duration - 1;
  if (last < from_ || start > to_) return;
  const uint64_t first = std::max<uint64_t>(start, from_);
  const uint64_t overlap = std::min(last, to_) - first + 1;
  ++f_.Records;
  f_.Covered += overlap;
  const double share = static_cast<double>(overlap) / static_cast<double>(duration);
  f_.WeightedPulses += static_cast<double>(pulses) * k * share;
  f_.Counts.Add(pulses, share, k, static_cast<double>(overlap));
  Interval(first, first + overlap);
  if (duration >= kRatedDuration) {
    const double rate = RecordRate(pulses, duration, k);
    Highest(rate, start);
    Lowest(rate, start);
    if (f_.HasThreshold && rate > f_.Threshold) f_.Above += overlap;
    rated_ += overlap;
  }
}

void FigureAccumulator::Interval(uint64_t start, uint64_t end) {
  if (!haveEnd_) {
    firstStart_ = start;
  } else if (start > end_) {
    ++f_.Gaps;
    f_.LongestGap = std::max(f_.LongestGap, start - end_);
  }
  haveEnd_ = true;
  end_ = std::max(end_, end);
}

void FigureAccumulator::Highest(double rate, uint32_t at) {
  if (!f_.HasRates || rate > f_.MaxRate || (rate == f_.MaxRate && at < f_.MaxAt)) {
    f_.MaxRate = rate;
    f_.MaxAt = at;
  }
  if (!f_.HasRates) {
    f_.MinRate = rate;
    f_.MinAt = at;
  }
  f_.HasRates = true;
}

void FigureAccumulator::Lowest(double rate, uint32_t at) {
  if (rate < f_.MinRate || (rate == f_.MinRate && at < f_.MinAt)) {
    f_.MinRate = rate;
    f_.MinAt = at;
  }
}

double RecordRate(uint32_t pulses, uint32_t duration, uint32_t k) {
  if (duration == 0) return 0;
  return static_cast<double>(pulses) * k * kRateFactor / duration;
}

double RecordDose(uint32_t pulses, uint32_t k) {
  return static_cast<double>(pulses) * k * kDoseFactor;
}

double ArchiveFigures::MeanRate() const {
  return Covered == 0 ? 0 : WeightedPulses * kRateFactor / static_cast<double>(Covered);
}

double ArchiveFigures::Dose() const {
  return WeightedPulses * kDoseFactor;
}

dravion::Interval ArchiveFigures::MeanInterval(double confidence) const {
  // The interval of the weighted pulses over the seconds the mean divides them by.
  if (Covered == 0) return {};
  const dravion::Interval sum = Counts.WeightedInterval(confidence);
  const double perPulse = kRateFactor / static_cast<double>(Covered);
  return {sum.Low * perPulse, sum.High * perPulse};
}

dravion::Interval ArchiveFigures::DoseInterval(double confidence) const {
  const dravion::Interval sum = Counts.WeightedInterval(confidence);
  return {sum.Low * kDoseFactor, sum.High * kDoseFactor};
}

uint64_t ArchiveFigures::CountedPulses() const {
  return static_cast<uint64_t>(std::llround(Counts.Pulses()));
}

// Reads the records and the per-day figures of a device's runs for ArchiveStatistics and
// FigureRead: all of them in one read transaction, so that every figure of one output comes from
// one picture of the archive, also while another program merges.
class ArchiveFigureReader {
 public:
  explicit ArchiveFigureReader(HistoryArchive& archive)
      : archive_(archive),
        db_(archive.db_),
        records_(db_,
                 "SELECT start, duration, pulses, download FROM records WHERE device=?1"
                 " AND start>=?2 AND start<=?3 AND status=0 AND conflict=0 ORDER BY start, seq"),
        spans_(db_,
               "SELECT start, duration, pulses, coefficient FROM spans WHERE device=?1"
               " AND level=2 AND start>=?2 AND start<=?3 ORDER BY start, seq") {}
  ~ArchiveFigureReader() { End(); }

  static bool Remember(HistoryArchive& archive, const std::string& serial, uint32_t units,
                       uint32_t backgroundLevel) {
    if (archive.db_ == nullptr || units > kUnitCounts ||
        backgroundLevel >= static_cast<uint32_t>(kBackgroundThresholdCount))
      return false;
    if (sqlite3_exec(archive.db_, kDeviceAlarmsTable, nullptr, nullptr, nullptr) != SQLITE_OK)
      return false;
    SqlStatement insert(archive.db_,
                        "INSERT OR REPLACE INTO device_alarms(serial, units, background_level)"
                        " VALUES(?1, ?2, ?3)");
    return insert.Bind(1, serial).Bind(2, units).Bind(3, backgroundLevel).Run();
  }

  static std::optional<DeviceAlarm> Remembered(HistoryArchive& archive, const std::string& serial) {
    if (archive.db_ == nullptr) return std::nullopt;
    SqlStatement select(archive.db_,
                        "SELECT units, background_level FROM device_alarms WHERE serial=?1");
    if (!select.Ok()) return std::nullopt;  // never kept
    select.Bind(1, serial);
    if (select.Step() != SQLITE_ROW) return std::nullopt;
    const int64_t units = select.Int(0), level = select.Int(1);
    if (units < 0 || units > kUnitCounts || level < 0 || level >= kBackgroundThresholdCount)
      return std::nullopt;
    DeviceAlarm alarm;
    alarm.Unit = FigureUnitOfSetting(static_cast<uint32_t>(units));
    alarm.Threshold = BackgroundThresholdRate(static_cast<uint32_t>(level));
    return alarm;
  }

  // Begins the read; false when the archive cannot be read.
  bool Begin() {
    archive_.readFailed_ = false;
    if (db_ == nullptr) return false;
    if (began_) return true;
    // Kept beside the day sums; a file that cannot take it now (read-only, another program
    // writing) is read without it: the figures never wait for a note of their own.
    sqlite3_busy_timeout(db_, 0);
    cache_ = PrepareDayFigures(db_);
    sqlite3_busy_timeout(db_, kArchiveBusyWaitMs);
    if (sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
      Fail(sqlite3_extended_errcode(db_));
      return false;
    }
    began_ = true;
    return true;
  }

  // Ends the read, keeping the day figures made from records when the archive takes them now.
  void End() {
    if (!began_) return;
    began_ = false;
    bool written = false;
    if (cache_ && !stale_.empty()) {
      sqlite3_busy_timeout(db_, 0);
      written = Store() && sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
      sqlite3_busy_timeout(db_, kArchiveBusyWaitMs);
    }
    if (!written) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    stale_.clear();
  }

  bool Figures(const FigureRange& range, ArchiveFigures& figures) {
    archive_.readFailed_ = false;
    figures = ArchiveFigures{};
    if (range.Threshold) {
      figures.HasThreshold = true;
      figures.Threshold = *range.Threshold;
    }
    if (db_ == nullptr || !began_) return false;
    std::vector<RunSpan> runs;
    if (!RunsIn(range, runs, figures)) return false;
    if (range.To < range.From) return true;
    // Runs lie over the same device seconds where the clock was set back: there, whole days are
    // taken from the records of every run, in the order of their starts, and never from one
    // run's day figures, whose gaps know nothing of the other run's records.
    std::vector<std::pair<uint64_t, uint64_t>> shared;
    for (size_t a = 0; a < runs.size(); ++a) {
      for (size_t b = a + 1; b < runs.size(); ++b) {
        const uint64_t first = std::max(runs[a].First, runs[b].First);
        const uint64_t end = std::min(runs[a].End, runs[b].End);
        if (first < end) shared.emplace_back(first / kDay * kDay, (end + kDay - 1) / kDay * kDay);
      }
    }
    std::vector<Piece> pieces;
    for (const RunSpan& run : runs) {
      if (!Collect(run.Device, range.From, range.To, shared, pieces)) return false;
    }
    std::stable_sort(pieces.begin(), pieces.end(),
                     [](const Piece& a, const Piece& b) { return a.Key < b.Key; });
    Accumulator sum(figures, range.From, range.To);
    for (const Piece& p : pieces) {
      if (p.Day < 0) {
        sum.Add(p.R);
        continue;
      }
      uint64_t above = 0;
      AboveInDay(days_[static_cast<size_t>(p.Day)], figures, above);
      sum.AddDay(days_[static_cast<size_t>(p.Day)], above);
    }
    days_.clear();
    return true;
  }

  // The records the figures of the range count, run by run, each run's oldest first.
  bool Records(const FigureRange& range, const std::function<void(const FigureRecord&)>& visit) {
    archive_.readFailed_ = false;
    if (db_ == nullptr || !began_) return false;
    std::vector<RunSpan> runs;
    ArchiveFigures unused;
    if (!RunsIn(range, runs, unused)) return false;
    if (range.To < range.From) return true;
    for (const RunSpan& run : runs) {
      if (!Device(run.Device)) return false;
      const uint64_t from = range.From;
      const uint64_t earliest =
          from > maxDuration_[run.Device] ? from - maxDuration_[run.Device] : 0;
      records_.Bind(1, run.Device)
          .Bind(2, static_cast<int64_t>(earliest))
          .Bind(3, static_cast<int64_t>(range.To));
      int rc;
      while ((rc = records_.Step()) == SQLITE_ROW) {
        const Record r = RecordOfRow();
        const uint64_t last = r.Duration == 0 ? r.Start : uint64_t{r.Start} + r.Duration - 1;
        if (last < from) continue;
        visit({r.Start, r.Duration, r.Pulses, r.K, run.Run});
      }
      records_.Reset();
      if (rc != SQLITE_DONE) return Fail(rc);
    }
    return true;
  }

 private:
  // A run of the device and the device seconds its records cover: [First, End).
  struct RunSpan {
    int64_t Device;
    int Run;
    uint64_t First, End;
  };
  // A record, or a whole day's figures (Day: its index), keyed by where it begins.
  struct Piece {
    uint64_t Key;
    int Day;
    Record R;
  };

  // The runs whose records the range takes: the one it names and, unless it asks for that
  // alone, every other run of the device with records in the period (told in OtherRuns).
  bool RunsIn(const FigureRange& range, std::vector<RunSpan>& in, ArchiveFigures& figures) {
    SqlStatement select(
        db_,
        "SELECT d.id, d.records, d.first_start, d.last_start, d.last_end FROM devices d,"
        " devices n WHERE n.id=?1 AND d.serial=n.serial AND d.uid=n.uid ORDER BY d.id");
    select.Bind(1, range.Device);
    std::vector<RunSpan> all;
    int rc;
    int number = 0;
    std::optional<RunSpan> named;
    while ((rc = select.Step()) == SQLITE_ROW) {
      ++number;
      RunSpan run{select.Int(0), number, 0, 0};
      if (select.Int(1) > 0 && !select.IsNull(2)) {
        run.First = static_cast<uint64_t>(select.Int(2));
        run.End = std::max(static_cast<uint64_t>(select.Int(4)),
                           static_cast<uint64_t>(select.Int(3)) + 1);
      }
      if (run.Device == range.Device) {
        named = run;
        figures.Run = number;
      } else if (range.AllRuns && run.End > run.First && run.First <= range.To &&
                 run.End > range.From) {
        all.push_back(run);
      }
    }
    if (rc != SQLITE_DONE) return Fail(rc);
    if (!named) named = RunSpan{range.Device, 1, 0, 0};
    in.push_back(*named);
    const uint64_t from = range.From, to = range.To;
    for (const RunSpan& run : all) {
      in.push_back(run);
      OtherRun other;
      other.Run = run.Run;
      other.First = static_cast<uint32_t>(std::max(from, run.First));
      other.Last = static_cast<uint32_t>(std::min(to, run.End - 1));
      const uint64_t first = std::max<uint64_t>(other.First, named->First);
      const uint64_t last = std::min<uint64_t>(other.Last, named->End == 0 ? 0 : named->End - 1);
      if (named->End > named->First && first <= last) {
        other.Overlaps = true;
        other.OverlapFirst = static_cast<uint32_t>(first);
        other.OverlapLast = static_cast<uint32_t>(last);
      }
      figures.OtherRuns.push_back(other);
    }
    return true;
  }

  // One run's part of the figures of [from, to]: the records before the first whole day, those
  // that run across a day's end among the whole days, the whole days (from their kept figures,
  // or from their records where another run lies over them), and the records after them.
  bool Collect(int64_t device, uint64_t from, uint64_t to,
               const std::vector<std::pair<uint64_t, uint64_t>>& shared,
               std::vector<Piece>& pieces) {
    if (!Device(device)) return false;
    device_ = device;
    const uint64_t earliest = from > maxDuration_[device] ? from - maxDuration_[device] : 0;
    // Whole days inside the period: [firstDay, endDay).
    const uint64_t firstDay = (from + kDay - 1) / kDay * kDay;
    const uint64_t endDay = (to + 1) / kDay * kDay;
    std::vector<Record> records;
    auto add = [&](const std::vector<Record>& rs) {
      for (const Record& r : rs)
        pieces.push_back({r.Start, -1, r});
    };
    if (firstDay >= endDay) {
      if (!Records(earliest, to, records)) return false;
      add(records);
      return true;
    }
    std::vector<Record> before, across, after;
    std::vector<DayFigures> days;
    if ((firstDay > 0 && !Records(earliest, firstDay - 1, before)) ||
        !Spans(firstDay, endDay - 1, across) || !Records(endDay, to, after) ||
        !Days(firstDay, endDay, days))
      return false;
    add(before);
    for (DayFigures& d : days) {
      const bool overlain = std::any_of(shared.begin(), shared.end(), [&](const auto& s) {
        return d.Start >= s.first && d.Start < s.second;
      });
      if (overlain) {
        records.clear();
        if (!DayRecords(d.Start, records)) return false;
        add(records);
        continue;
      }
      pieces.push_back({d.HasSpan ? d.FirstStart : d.Start, static_cast<int>(days_.size()), {}});
      days_.push_back(std::move(d));
    }
    add(across);
    add(after);
    return true;
  }

  // The seconds of a whole day's rated records above the threshold: none when its highest rate
  // is not above it, all when its lowest is; else counted from its records.
  static void AboveInDay(const DayFigures& d, const ArchiveFigures& figures, uint64_t& above) {
    above = 0;
    if (!figures.HasThreshold || !d.HasRates || d.MaxRate <= figures.Threshold) return;
    if (d.MinRate > figures.Threshold) {
      above = d.RatedSeconds;
      return;
    }
    const auto first = std::upper_bound(
        d.Rates.begin(), d.Rates.end(), figures.Threshold,
        [](double t, const std::pair<double, uint32_t>& entry) { return t < entry.first; });
    for (auto it = first; it != d.Rates.end(); ++it)
      above += it->second;
  }

  // The device's longest record and the coefficients of its downloads, read once.
  bool Device(int64_t device) {
    if (maxDuration_.count(device) != 0) return true;
    SqlStatement info(db_, "SELECT max_duration FROM devices WHERE id=?1");
    info.Bind(1, device);
    int rc = info.Step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Fail(rc);
    const uint64_t longest = rc == SQLITE_ROW ? static_cast<uint64_t>(info.Int(0)) : 0;
    SqlStatement downloads(db_, "SELECT id, coefficient FROM downloads WHERE device=?1");
    downloads.Bind(1, device);
    while ((rc = downloads.Step()) == SQLITE_ROW)
      coefficients_[downloads.Int(0)] = static_cast<uint32_t>(downloads.Int(1));
    if (rc != SQLITE_DONE) return Fail(rc);
    maxDuration_[device] = longest;
    return true;
  }

  Record RecordOfRow() const {
    const auto k = coefficients_.find(records_.Int(3));
    return {static_cast<uint32_t>(records_.Int(0)), static_cast<uint32_t>(records_.Int(1)),
            static_cast<uint32_t>(records_.Int(2)), k == coefficients_.end() ? 100u : k->second};
  }

  bool Records(uint64_t from, uint64_t to, std::vector<Record>& out) {
    if (to < from) return true;
    records_.Bind(1, device_).Bind(2, static_cast<int64_t>(from)).Bind(3, static_cast<int64_t>(to));
    int rc;
    while ((rc = records_.Step()) == SQLITE_ROW)
      out.push_back(RecordOfRow());
    records_.Reset();
    return rc == SQLITE_DONE || Fail(rc);
  }
  bool Spans(uint64_t from, uint64_t to, std::vector<Record>& out) {
    spans_.Bind(1, device_).Bind(2, static_cast<int64_t>(from)).Bind(3, static_cast<int64_t>(to));
    int rc;
    while ((rc = spans_.Step()) == SQLITE_ROW) {
      out.push_back({static_cast<uint32_t>(spans_.Int(0)), static_cast<uint32_t>(spans_.Int(1)),
                     static_cast<uint32_t>(spans_.Int(2)), static_cast<uint32_t>(spans_.Int(3))});
    }
    spans_.Reset();
    return rc == SQLITE_DONE || Fail(rc);
  }

  // The records wholly inside one day.
  bool DayRecords(uint64_t day, std::vector<Record>& out) {
    std::vector<Record> all;
    if (!Records(day, day + kDay - 1, all)) return false;
    for (const Record& r : all) {
      const uint64_t last = r.Duration == 0 ? r.Start : uint64_t{r.Start} + r.Duration - 1;
      if (last / kDay == r.Start / kDay) out.push_back(r);
    }
    return true;
  }

  // The figures of the days in [from, end) that hold records wholly inside them: kept ones where
  // the day sums still agree with them, else made from the day's records (and kept).
  bool Days(uint64_t from, uint64_t end, std::vector<DayFigures>& days) {
    const bool cache = cache_;
    SqlStatement select(
        db_, cache ? "SELECT d.start, d.pulses_k, d.covered, f.pulses_k, f.covered, f.records,"
                     " f.first_start, f.last_end, f.gaps, f.longest_gap, f.max_rate, f.max_at,"
                     " f.min_rate, f.min_at, f.rated_seconds, f.rates, f.counted_seconds,"
                     " f.counted_pulses, f.weighted_pulses, f.weighted_squares, f.largest_weight,"
                     " f.exposure FROM day_sums d LEFT JOIN"
                     " figure_days f ON f.device=d.device AND f.start=d.start"
                     " WHERE d.device=?1 AND d.start>=?2 AND d.start<?3 ORDER BY d.start"
                   : "SELECT start, pulses_k, covered FROM day_sums"
                     " WHERE device=?1 AND start>=?2 AND start<?3 ORDER BY start");
    select.Bind(1, device_).Bind(2, static_cast<int64_t>(from)).Bind(3, static_cast<int64_t>(end));
    int rc;
    std::vector<size_t> toMake;
    while ((rc = select.Step()) == SQLITE_ROW) {
      DayFigures d;
      d.Start = static_cast<uint64_t>(select.Int(0));
      d.PulsesK = select.Int(1);
      d.Covered = select.Int(2);
      bool kept =
          cache && !select.IsNull(3) && select.Int(3) == d.PulsesK && select.Int(4) == d.Covered;
      if (kept) {
        d.Records = static_cast<uint64_t>(select.Int(5));
        d.HasSpan = !select.IsNull(6);
        d.FirstStart = static_cast<uint64_t>(select.Int(6));
        d.LastEnd = static_cast<uint64_t>(select.Int(7));
        d.Gaps = static_cast<uint64_t>(select.Int(8));
        d.LongestGap = static_cast<uint64_t>(select.Int(9));
        d.HasRates = !select.IsNull(10);
        d.MaxRate = select.Real(10);
        d.MaxAt = static_cast<uint64_t>(select.Int(11));
        d.MinRate = select.Real(12);
        d.MinAt = static_cast<uint64_t>(select.Int(13));
        d.RatedSeconds = static_cast<uint64_t>(select.Int(14));
        // Rates that do not read as written are made again from the day's records.
        if (!UnpackRates(select.Blob(15), d.Rates)) kept = false;
        // So are counting sums that are no counts.
        PeriodCounts::Sums sums;
        sums.Seconds = select.Real(16);
        sums.Pulses = select.Real(17);
        sums.Weighted = select.Real(18);
        sums.Squares = select.Real(19);
        sums.MaxWeight = select.Real(20);
        sums.Exposure = select.Real(21);
        if (PeriodCounts::ValidSums(sums) && sums.Weighted == static_cast<double>(d.PulsesK))
          d.Counts = PeriodCounts::FromKept(sums);
        else
          kept = false;
      }
      if (!kept) toMake.push_back(days.size());
      days.push_back(d);
    }
    if (rc != SQLITE_DONE) return Fail(rc);
    for (const size_t i : toMake) {
      DayFigures& d = days[i];
      std::vector<Record> records;
      if (!DayRecords(d.Start, records)) return false;
      ArchiveFigures own;
      Accumulator day(own, d.Start, d.Start + kDay - 1);
      std::map<double, uint32_t> rates;
      for (const Record& r : records) {
        day.Add(r);
        if (r.Duration >= kRatedDuration)
          rates[RecordRate(r.Pulses, r.Duration, r.K)] += r.Duration;
      }
      day.Fill(d);
      d.Rates.assign(rates.begin(), rates.end());
      d.Device = device_;
      stale_.push_back(d);
    }
    return true;
  }

  // Keeps the days made from records; false when the archive cannot take them now.
  bool Store() {
    SqlStatement insert(db_,
                        "INSERT OR REPLACE INTO figure_days(device, start, pulses_k, covered,"
                        " records, first_start, last_end, gaps, longest_gap, max_rate, max_at,"
                        " min_rate, min_at, rated_seconds, rates, counted_seconds,"
                        " counted_pulses, weighted_pulses, weighted_squares, largest_weight,"
                        " exposure) VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13,?14,?15,"
                        "?16,?17,?18,?19,?20,?21)");
    if (!insert.Ok()) return false;
    for (const DayFigures& d : stale_) {
      insert.Bind(1, d.Device).Bind(2, static_cast<int64_t>(d.Start)).Bind(3, d.PulsesK);
      insert.Bind(4, d.Covered).Bind(5, static_cast<int64_t>(d.Records));
      if (d.HasSpan) {
        insert.Bind(6, static_cast<int64_t>(d.FirstStart));
        insert.Bind(7, static_cast<int64_t>(d.LastEnd));
      }
      insert.Bind(8, static_cast<int64_t>(d.Gaps)).Bind(9, static_cast<int64_t>(d.LongestGap));
      if (d.HasRates) {
        insert.BindReal(10, d.MaxRate);
        insert.Bind(11, static_cast<int64_t>(d.MaxAt));
        insert.BindReal(12, d.MinRate);
        insert.Bind(13, static_cast<int64_t>(d.MinAt));
      }
      insert.BindBlob(15, PackRates(d.Rates));
      const PeriodCounts::Sums sums = d.Counts.Kept();
      insert.BindReal(16, sums.Seconds).BindReal(17, sums.Pulses).BindReal(18, sums.Weighted);
      insert.BindReal(19, sums.Squares).BindReal(20, sums.MaxWeight).BindReal(21, sums.Exposure);
      if (!insert.Bind(14, static_cast<int64_t>(d.RatedSeconds)).Run()) return false;
    }
    return true;
  }

  bool Fail(int rc) {
    archive_.NoteReadFailure(rc);
    return false;
  }

  HistoryArchive& archive_;
  sqlite3* db_;
  bool began_ = false;
  bool cache_ = false;
  int64_t device_ = 0;  // the run Records, Spans and Days read
  std::map<int64_t, uint64_t> maxDuration_;
  std::unordered_map<int64_t, uint32_t> coefficients_;
  SqlStatement records_, spans_;
  std::vector<DayFigures> days_;   // the whole days of the figures being made
  std::vector<DayFigures> stale_;  // day figures made from records, to keep
};

bool RememberDeviceAlarm(HistoryArchive& archive, const std::string& serial, uint32_t units,
                         uint32_t backgroundLevel) {
  return ArchiveFigureReader::Remember(archive, serial, units, backgroundLevel);
}

std::optional<DeviceAlarm> RememberedDeviceAlarm(HistoryArchive& archive,
                                                 const std::string& serial) {
  return ArchiveFigureReader::Remembered(archive, serial);
}

double BackgroundThresholdRate(uint32_t position) {
  const std::vector<ThresholdEntry>& entries = BackgroundThresholds(kUnitRoentgen);
  const ThresholdEntry& entry = entries[std::min<size_t>(position, entries.size() - 1)];
  // Roentgen entries: whole numbers of uR/h, or of mR/h with one minus sign.
  double value = 0;
  for (char c : entry.number) {
    if (c >= '0' && c <= '9') value = value * 10 + (c - '0');
  }
  return entry.level == kLevelMilli ? value * 1000 : value;
}

bool ArchiveStatistics(HistoryArchive& archive, const FigureRange& range, ArchiveFigures& figures) {
  ArchiveFigureReader reader(archive);
  return reader.Begin() && reader.Figures(range, figures);
}

FigureRead::FigureRead(HistoryArchive& archive)
    : reader_(std::make_unique<ArchiveFigureReader>(archive)) {
  ok_ = reader_->Begin();
}

FigureRead::~FigureRead() = default;

bool FigureRead::Figures(const FigureRange& range, ArchiveFigures& figures) {
  return ok_ && reader_->Figures(range, figures);
}

bool FigureRead::Records(const FigureRange& range,
                         const std::function<void(const FigureRecord&)>& visit) {
  return ok_ && reader_->Records(range, visit);
}

double RateIn(FigureUnit unit, double microRoentgenPerHour) {
  return unit == FigureUnit::Sievert ? microRoentgenPerHour / 100.0 : microRoentgenPerHour;
}

double DoseIn(FigureUnit unit, double microRoentgen) {
  return unit == FigureUnit::Sievert ? microRoentgen / 100.0 : microRoentgen;
}

double RateFrom(FigureUnit unit, double value) {
  return unit == FigureUnit::Sievert ? value * 100.0 : value;
}

int FigureDecimals(FigureUnit unit) {
  return unit == FigureUnit::Sievert ? 3 : 1;
}

std::string FigureRateUnit(FigureUnit unit, const Language& language) {
  return RateUnitName(unit == FigureUnit::Sievert ? kUnitSievert : kUnitRoentgen, kLevelMicro,
                      language);
}

std::string FigureDoseUnit(FigureUnit unit, const Language& language) {
  return DoseUnitName(unit == FigureUnit::Sievert ? kUnitSievert : kUnitRoentgen, kLevelMicro,
                      language);
}

FigureUnit FigureUnitOfSetting(uint32_t units) {
  return units == kUnitRoentgen ? FigureUnit::Roentgen : FigureUnit::Sievert;
}

std::string FigureNumber(double value, FigureUnit unit, const Language& language) {
  std::string text = FixedDecimal(value, FigureDecimals(unit));
  std::replace(text.begin(), text.end(), '.', DecimalSeparator(language));
  return text;
}

std::string DurationText(uint64_t seconds, const Language& language) {
  char clock[32];
  std::snprintf(clock, sizeof clock, "%02u:%02u:%02u", static_cast<unsigned>(seconds / 3600 % 24),
                static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
  const uint64_t days = seconds / kDay;
  if (days == 0) return clock;
  return std::to_string(days) + language.Text(" д ", " d ") + clock;
}

}  // namespace dravion
