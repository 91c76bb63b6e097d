#include "device/history_query.h"

#include <algorithm>
#include <optional>

#include "device/history_ring.h"

namespace dravion {

void HistoryQuery::StartHistoryQuery(uint32_t t) {
  QueryActive = false;
  // The search passes over records of no duration at `t` itself (they end at `t`); those belong
  // to the first period, so the query starts at the first of them.
  const uint32_t count = ring_.Ring.RecordCount;
  const std::optional<uint32_t> found = ring_.FindHistoryRecord(t);
  uint32_t first = found ? *found : count;
  while (first > 0) {
    const std::optional<HistoryRecord> before = ring_.HistoryRecordAt(first - 1);
    if (!before || before->Duration != 0 || before->Start != t) break;
    --first;
  }
  if (first >= count) return;
  QueryCursor = first;
  PeriodStart = t;
  QueryActive = true;
}

void HistoryQuery::AccumulatePeriod(uint32_t length) {
  PeriodPulses = 0;
  PeriodCovered = 0;
  PeriodMaxRate10 = 0;
  const uint32_t count = ring_.Ring.RecordCount;
  if (!QueryActive || QueryCursor >= count) return;
  // Times are taken in 64 bits: a period near the top of the 32-bit range must not wrap.
  const uint64_t periodStart = PeriodStart;
  const uint64_t end = periodStart + length - 1;
  uint64_t previousStart = 0;
  auto add = [&](const HistoryRecord& r, uint64_t d, uint64_t overlap) {
    // The share of the record's pulses in the overlap, in 64 bits: a long record with many
    // pulses overflows 32 bits.
    PeriodPulses += overlap * r.Pulses / d;
    PeriodCovered += static_cast<uint32_t>(overlap);
    if (d >= 10) {
      PeriodMaxRate10 = std::max(PeriodMaxRate10,
                                 static_cast<uint32_t>(static_cast<uint64_t>(r.Pulses) * 10 / d));
    }
  };
  while (QueryCursor < count) {
    const std::optional<HistoryRecord> record = ring_.HistoryRecordAt(QueryCursor);
    if (!record) break;
    const HistoryRecord& r = *record;
    if (r.Status != 0) {
      ++QueryCursor;
      continue;
    }
    const uint64_t start = r.Start;
    if (start + 3600 < previousStart) break;  // time went back by more than an hour
    previousStart = start;
    if (r.Duration == 0) {
      // A point in time: its pulses count in the period that holds its second, it covers no
      // time (the next record often starts in the same second).
      if (start > end) break;
      if (start >= periodStart) PeriodPulses += r.Pulses;
      ++QueryCursor;
      continue;
    }
    const uint64_t d = r.Duration;
    const uint64_t last = start + d - 1;
    if (last < periodStart) {
      ++QueryCursor;
      continue;
    }
    if (start > end) break;
    if (end <= last) {
      add(r, d, end - std::max(start, periodStart) + 1);
      if (last == end) ++QueryCursor;
      break;
    }
    add(r, d, start > periodStart ? d : start + d - periodStart);
    ++QueryCursor;
  }
  PeriodStart += length;
  if (QueryCursor >= count) QueryCursor = count - 1;
}

}  // namespace dravion
