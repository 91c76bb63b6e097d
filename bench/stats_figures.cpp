// The counting statistics' figures:
// - coverage: over 10,000 seeded simulated periods at 0.1 to 1 uSv/h and 1 minute to 1 year
//   (records of a minute, one or two coefficients in a period), the share of 95% intervals that
//   hold the true rate (at least 95% for an exact interval), overall and per length;
// - the time of a comparison of two years of records (one a minute) with the year before, from
//   the archive, beside the time of the two years' figures.
//
//   build/bench/stats_figures [FOLDER]
//
// The two-year archive is built once in FOLDER (default: the system's temporary folder) as
// archive-2y-stats.sqlite3 and reused.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

#include "archive/archive_stats.h"
#include "archive/archive_support.h"
#include "archive/history_archive.h"
#include "device/device_time.h"
#include "stats/counting_statistics.h"

namespace {

using namespace dravion;
namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

double Ms(Steady::time_point from) {
  return std::chrono::duration<double, std::milli>(Steady::now() - from).count();
}

constexpr double kMinute = 60, kYear = 365 * 86400.0;

// Coverage of the mean rate's interval on `count` simulated periods. An exact interval holds the
// true rate at least as often as its confidence says; a share measured on 10,000 periods is
// that within about +-0.2% (its standard error, printed), so ten times more are counted too.
void Coverage(int count) {
  std::mt19937_64 random(46);
  std::uniform_real_distribution<double> unit(0, 1);
  // Length classes by the decade of seconds: under an hour, a day, a month, a year.
  const double edges[] = {3600, 86400, 31 * 86400.0, kYear + 1};
  const char* names[] = {"1 min to 1 h", "1 h to 1 d", "1 d to 1 month", "1 month to 1 year"};
  int periods[4] = {}, held[4] = {};
  int total = 0, totalHeld = 0;
  const double factor = RecordRate(1, 1, 1);  // uR/h per K x pulses per second
  for (int p = 0; p < count; ++p) {
    // The true rate, 0.1 to 1 uSv/h (10 to 100 uR/h), and the length, log-uniform.
    const double rate = 10 * std::pow(10.0, unit(random));
    const double seconds =
        std::round(kMinute * std::pow(kYear / kMinute, unit(random)) / kMinute) * kMinute;
    // A coefficient of 1,27, changed to 1,00 part of the way through in half of the periods.
    const bool changed = p % 2 == 1 && seconds > kMinute;
    const double split =
        changed ? std::max(kMinute, std::floor(seconds * unit(random) / kMinute) * kMinute)
                : seconds;
    PeriodCounts counts;
    for (const auto& [k, length] :
         {std::pair<double, double>{127, split}, std::pair<double, double>{100, seconds - split}}) {
      if (length <= 0) continue;
      // The sum of a minute's Poisson counts at one K is one Poisson count of their means.
      std::poisson_distribution<long long> pulses(rate / factor / k * length);
      counts.Add(static_cast<double>(pulses(random)), 1, k, length);
    }
    Interval i = counts.MeanInterval();
    i.Low *= factor;
    i.High *= factor;
    const bool in = i.Low <= rate && rate <= i.High;
    const int c = static_cast<int>(std::upper_bound(std::begin(edges), std::end(edges), seconds) -
                                   std::begin(edges));
    ++periods[std::min(c, 3)];
    held[std::min(c, 3)] += in;
    ++total;
    totalHeld += in;
  }
  const double share = static_cast<double>(totalHeld) / total;
  std::printf("Coverage of the 95%% intervals over %d simulated periods: %.2f%% (+-%.2f%%)\n",
              total, 100 * share, 100 * std::sqrt(share * (1 - share) / total));
  for (int c = 0; c < 4; ++c)
    std::printf("  %-18s %5d periods  %.2f%%\n", names[c], periods[c],
                periods[c] ? 100.0 * held[c] / periods[c] : 0.0);
}

// Two years of records at one a minute (and the year before) in an archive built once.
bool CompareTwoYears(const fs::path& folder) {
  const fs::path base = folder / "archive-2y-stats.sqlite3";
  constexpr uint32_t kRecords = 3 * 525'600;  // three years: two compared with the one before
  TimeRecord begin;
  begin.Bytes = {17, 0, 0, 1, 1, 20, 0};
  const uint32_t first = SecondsFromTimeRecord(begin);
  if (!fs::exists(base)) {
    std::printf("Building the archive in %s ...\n", base.string().c_str());
    const auto started = Steady::now();
    const std::vector<HistoryRecord> stream = archive_test::RecordStream(kRecords, first);
    HistoryArchive archive;
    if (!archive.Open(base.string())) {
      std::printf("cannot open: %s\n", archive.Error().c_str());
      return false;
    }
    for (size_t from = 0; from < stream.size(); from += 500'000) {
      const size_t to = std::min<size_t>(from + 500'000, stream.size());
      ArchiveBatch batch = archive_test::DownloadOf(
          {stream.begin() + static_cast<long>(from), stream.begin() + static_cast<long>(to)}, 127);
      if (!archive.Merge(batch).Ok) {
        std::printf("merge failed: %s\n", archive.Error().c_str());
        return false;
      }
    }
    std::printf("  built in %.1f s\n", Ms(started) / 1000);
  }
  HistoryArchive archive;
  if (!archive.Open(base.string())) {
    std::printf("cannot open: %s\n", archive.Error().c_str());
    return false;
  }
  const ArchiveDevice device = archive.Devices().at(0);
  const uint32_t year = 365 * 86400;
  const uint32_t from = first + year, to = first + 3 * year - 1;
  for (int round = 0; round < 2; ++round) {
    auto started = Steady::now();
    // As archive compare reads them: both periods' figures in one read, with their counts.
    ArchiveFigures later, earlier;
    {
      FigureRead read(archive);
      if (!read.Figures({device.Id, from, to, {}, false}, later) ||
          !read.Figures({device.Id, first, from - 1, {}, false}, earlier)) {
        std::printf("read failed: %s\n", archive.Error().c_str());
        return false;
      }
    }
    const PeriodCounts& now = later.Counts;
    const PeriodCounts& before = earlier.Counts;
    const RateComparison c =
        CompareRates(now.Pulses(), now.Exposure(), before.Pulses(), before.Exposure());
    const double compareMs = Ms(started);
    started = Steady::now();
    ArchiveFigures figures;
    ArchiveStatistics(archive, {device.Id, from, to, {}}, figures);
    const Interval mean = figures.MeanInterval(), dose = figures.DoseInterval();
    const double figuresMs = Ms(started);
    std::printf(
        "%s run: comparison of two years (%.0f pulses) with the year before: %.0f ms "
        "(ratio %.4f, %.4f to %.4f, p %.3g); the two years' figures with intervals: %.0f ms "
        "(mean %.3f, %.3f to %.3f uR/h; dose %.0f, %.0f to %.0f uR)\n",
        round == 0 ? "First" : "Second", now.Pulses(), compareMs, c.Ratio, c.Range.Low,
        c.Range.High, c.P, figuresMs, figures.MeanRate(), mean.Low, mean.High, figures.Dose(),
        dose.Low, dose.High);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
  const auto started = Steady::now();
  Coverage(10000);
  std::printf("  (%.0f ms)\n", Ms(started));
  Coverage(100000);
  return CompareTwoYears(folder) ? 0 : 1;
}
