#include "archive/archive_period_counts.h"

#include <sqlite3.h>
#include <algorithm>

#include "archive/archive_stats.h"
#include "archive/history_archive.h"

namespace dravion {

bool ReadPeriodCounts(HistoryArchive& archive, const ArchiveDevice& device, uint32_t from,
                      uint32_t to, PeriodCounts& counts) {
  counts = PeriodCounts{};
  if (to < from) return true;
  // Records that begin before the period reach into it by their duration at most.
  ArchiveRange range;
  range.Device = device.Id;
  range.From = from > device.MaxDuration ? from - device.MaxDuration : 0;
  range.To = to;
  // Records come oldest first, those of one start in the order they were kept: the first of
  // some duration is the chart's, a later one of some duration at that start is in conflict.
  bool started = false, timed = false;
  uint32_t start = 0;
  const int rc = archive.ForEachRecord(
      range,
      [&](const HistoryRecord& r, uint32_t k) {
        if (!started || r.Start != start) timed = false;
        started = true;
        start = r.Start;
        if (r.Duration == 0) {
          if (r.Start >= from) counts.Add(r.Pulses, 1, k, 0);
          return;
        }
        if (timed) return;  // in conflict with the record taken
        timed = true;
        const uint64_t last = uint64_t{r.Start} + r.Duration - 1;
        if (last < from) return;
        const uint64_t first = std::max<uint64_t>(r.Start, from);
        const uint64_t overlap = std::min<uint64_t>(last, to) - first + 1;
        counts.Add(r.Pulses, static_cast<double>(overlap) / r.Duration, k,
                   static_cast<double>(overlap));
      },
      true);
  return rc == SQLITE_DONE;
}

double CountsRateFactor() {
  return RecordRate(1, 1, 1);
}

double CountsMeanRate(const PeriodCounts& counts) {
  return counts.Mean() * CountsRateFactor();
}

Interval CountsRateInterval(const PeriodCounts& counts, double confidence) {
  Interval i = counts.MeanInterval(confidence);
  i.Low *= CountsRateFactor();
  i.High *= CountsRateFactor();
  return i;
}

}  // namespace dravion
