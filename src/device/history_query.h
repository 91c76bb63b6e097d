#pragma once

#include <cstdint>

namespace dravion {

class HistoryRing;

// Walks the ring forward period by period: the pulses, the covered seconds and the highest
// short-term rate falling into each period. A record of no duration is a point in time: its
// pulses count in the period holding its start, and it covers no time. One redraw visits every
// record once, after one binary search for the first period's start.
class HistoryQuery {
 public:
  explicit HistoryQuery(HistoryRing& ring) : ring_(ring) {}

  // Finds the first record that ends after `t`; the query is active when there is one.
  void StartHistoryQuery(uint32_t t);
  // Fills the results for [PeriodStart, PeriodStart + length - 1] and moves PeriodStart on by
  // `length` (unless the query is inactive or ran out of records before).
  void AccumulatePeriod(uint32_t length);
  void EndHistoryQuery() { QueryActive = false; }

  bool QueryActive = false;
  uint32_t QueryCursor = 0;  // the next logical index to examine
  uint32_t PeriodStart = 0;  // device seconds
  // Results of the last AccumulatePeriod.
  uint64_t PeriodPulses = 0;
  uint32_t PeriodCovered = 0;
  uint32_t PeriodMaxRate10 = 0;  // highest Pulses x 10 / Duration of records of 10 s or more

 private:
  HistoryRing& ring_;
};

}  // namespace dravion
