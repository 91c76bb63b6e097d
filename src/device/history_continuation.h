#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/history_ring.h"

namespace dravion {

class Language;

// What the archive holds of a device, as far as a download of new records needs it: its newest
// record and the ring description of the last download (where that record was then).
struct ArchivedEnd {
  HistoryRecord Newest;
  // The records the archive holds just before it (of the same run), newest first: a position is
  // taken only where the ring holds them before the newest one too.
  std::vector<HistoryRecord> Before;
  // Absent when no download kept one (records only imported from files).
  std::optional<HistoryRingDescription> LastRing;
};

// Why a download of new records reads the whole ring instead.
enum class WholeRingReason {
  None,             // the ring continues the archive
  NothingArchived,  // the archive holds no record of the device
  Overwritten,      // the archive's newest record is no longer in the ring: all of it is new
  NoMatch,          // no position of the ring holds the archive's newest record
  BadDescription,   // the ring description kept in the archive fails its checks
};

// Where the device's ring continues the archive.
struct Continuation {
  WholeRingReason Reason = WholeRingReason::None;
  // The logical index of the first new record (the ring's RecordCount when nothing is new).
  uint32_t From = 0;
  // Overwritten: the end of the archive's newest record and the start of the ring's oldest one.
  uint32_t ArchiveEnd = 0;
  uint32_t RingStart = 0;
  // A read of the device failed during the search.
  bool ReadFailed = false;
};

// Finds where `ring` (its description read, the device holding its ring still) continues what
// the archive holds. A position is taken only where the device's record equals the archive's
// newest one (start, duration, pulses, kind and status) and the records before it equal the
// archive's before that one: first where the last download's description says it was, then by a
// binary search on its start time. One equal record alone may be chance (a history deleted and
// begun again): when the ring cannot confirm it, or the description says the ring lost records
// since the last download, the whole ring is read. Reads a handful of record pairs besides the
// search's.
Continuation FindContinuation(HistoryRing& ring, const std::optional<ArchivedEnd>& archived);

// The sectors that hold the ring's records from logical index `from` to the newest, newest
// first (Count 0 when there are none); every sector once, also when the records run round the
// whole ring.
HistorySectorPlan PlanSectorsFrom(const HistoryRingDescription& ring, uint32_t from);
// Whether the record at `physical` lies at logical index `from` or later.
bool InRingFrom(const HistoryRingDescription& ring, uint32_t from, uint32_t physical);

// Whether the device's record is the archive's copy of it (an imported record has no kind).
bool SameRecord(const HistoryRecord& device, const HistoryRecord& archived);

// The one line that says why the whole ring is read; empty when it is not.
std::string WholeRingNote(const Continuation& continuation, const Language& language);

}  // namespace dravion
