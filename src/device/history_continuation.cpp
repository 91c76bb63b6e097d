#include "device/history_continuation.h"

#include "device/device_time.h"
#include "services/language.h"

namespace dravion {

namespace {

// Records looked at around a candidate position: the newest slot may hold a sector's header
// after the newest measurement, and records that end where the archived one starts (points of
// no duration among them) come before it in a search by time.
constexpr uint32_t kProbeBack = 3;
constexpr uint32_t kSearchAhead = 8;
// Records of the ring looked at before a candidate to find the archive's records before its
// newest one (records the archive does not keep may lie between them).
constexpr uint32_t kConfirmReach = 8;

std::string DeviceTimeText(uint32_t seconds) {
  const TimeRecord t = TimeRecordFromSeconds(seconds);
  return FormatDeviceDate(t) + " " + FormatDeviceClock(t);
}

}  // namespace

HistorySectorPlan PlanSectorsFrom(const HistoryRingDescription& ring, uint32_t from) {
  HistorySectorPlan plan;
  if (from >= ring.RecordCount) return plan;
  const uint32_t first = (ring.FirstRecord + from) % kHistoryRingRecords;
  plan.Start = first / kHistorySectorRecords;
  plan.End = ring.LastRecord / kHistorySectorRecords;
  if (plan.End > plan.Start)
    plan.Count = plan.End - plan.Start + 1;
  else if (plan.End == plan.Start)
    plan.Count = first <= ring.LastRecord ? 1 : ring.SectorCount;  // round the whole ring
  else
    plan.Count = plan.End + ring.SectorCount + 1 - plan.Start;
  return plan;
}

bool InRingFrom(const HistoryRingDescription& ring, uint32_t from, uint32_t physical) {
  const uint32_t logical =
      (physical + kHistoryRingRecords - ring.FirstRecord % kHistoryRingRecords) %
      kHistoryRingRecords;
  return logical >= from && logical < ring.RecordCount;
}

bool SameRecord(const HistoryRecord& device, const HistoryRecord& archived) {
  return device.Start == archived.Start && device.Duration == archived.Duration &&
         device.Pulses == archived.Pulses && device.Status == archived.Status &&
         (device.Kind == archived.Kind || archived.Kind == 0);
}

namespace {

// Whether the record at logical index `l` is the archived one, and the records before it are the
// ones the archive holds before it: records the archive may lack in between (a sector's header,
// an erased slot, an unusable record an imported file left out) are passed over. The ring's
// beginning confirms only where the ring has run round (`full`). A failed read sets `readFailed`.
bool HoldsArchivedEnd(HistoryRing& ring, const ArchivedEnd& archived, bool full, uint32_t l,
                      bool& readFailed) {
  const std::optional<HistoryRecord> r = ring.HistoryRecordAt(l);
  if (!r) readFailed = true;
  if (!r || !SameRecord(*r, archived.Newest)) return false;
  size_t confirmed = 0;
  uint32_t at = l;
  for (uint32_t looked = 0; confirmed < archived.Before.size() && at > 0; ++looked) {
    if (looked == kConfirmReach) return false;
    const std::optional<HistoryRecord> before = ring.HistoryRecordAt(--at);
    if (!before) {
      readFailed = true;
      return false;
    }
    if (SameRecord(*before, archived.Before[confirmed]))
      ++confirmed;
    else if (before->IsMeasurement())
      return false;
  }
  return confirmed == archived.Before.size() || full;
}

}  // namespace

Continuation FindContinuation(HistoryRing& ring, const std::optional<ArchivedEnd>& archived) {
  Continuation c;
  const HistoryRingDescription& now = ring.Ring;
  const uint32_t count = now.RecordCount;
  if (!archived) {
    c.Reason = WholeRingReason::NothingArchived;
    return c;
  }
  const HistoryRecord& newest = archived->Newest;
  const uint64_t capacity = uint64_t{now.SectorCount} * kHistorySectorRecords;
  // A ring that has run round has overwritten its oldest records as it went on.
  const bool full = count > 0 && count + kHistorySectorRecords >= capacity;
  auto matches = [&](uint32_t l) {
    return HoldsArchivedEnd(ring, *archived, full, l, c.ReadFailed);
  };

  if (archived->LastRing) {
    const HistoryRingDescription& last = *archived->LastRing;
    if (last.FirstRecord >= kHistoryRingRecords || last.LastRecord >= kHistoryRingRecords ||
        !HistoryFormatAccepted(last, PlanHistorySectors(last))) {
      c.Reason = WholeRingReason::BadDescription;
      return c;
    }
    // The same oldest record and fewer records than then: the history was deleted since, and
    // whatever its ring holds now at that place is not the archive's record.
    if (last.FirstRecord == now.FirstRecord && count < last.RecordCount) {
      c.Reason = WholeRingReason::NoMatch;
      return c;
    }
    // Where the newest record was then, counted from the ring's oldest record now.
    const uint32_t at =
        (last.LastRecord + kHistoryRingRecords - now.FirstRecord) % kHistoryRingRecords;
    for (uint32_t back = 0; back < kProbeBack && back <= at; ++back) {
      const uint32_t l = at - back;
      if (l >= count) continue;
      if (matches(l)) {
        c.From = l + 1;
        return c;
      }
      if (c.ReadFailed) return c;
    }
  }

  // A binary search by time: the first record that ends at or after the archived one's start,
  // then the records from there that start no later than it. Time order alone proves nothing
  // (a clock set back records over earlier times): only an equal record is taken.
  if (count > 0) {
    const std::optional<uint32_t> found =
        ring.FindHistoryRecord(newest.Start == 0 ? 0 : newest.Start - 1);
    if (found) {
      for (uint32_t l = *found; l < count && l < *found + kSearchAhead; ++l) {
        if (matches(l)) {
          c.From = l + 1;
          return c;
        }
        if (c.ReadFailed) return c;
      }
    }
  }

  // Not in the ring. A ring that has run round and begins after the archived record ends has
  // overwritten it (and whatever followed it before the ring's oldest record): all of the ring is
  // new. Anything else (a history deleted and begun again, another device of that serial
  // number) may hold records the archive has: the whole ring is read and merged.
  c.Reason = WholeRingReason::NoMatch;
  c.From = 0;
  const uint64_t archivedEnd = uint64_t{newest.Start} + newest.Duration;
  if (full) {
    const std::optional<HistoryRecord> oldest = ring.HistoryRecordAt(0);
    if (!oldest) {
      c.ReadFailed = true;
      return c;
    }
    if (oldest->Start >= archivedEnd) {
      c.Reason = WholeRingReason::Overwritten;
      c.ArchiveEnd = static_cast<uint32_t>(archivedEnd);
      c.RingStart = oldest->Start;
    }
  }
  return c;
}

std::string WholeRingNote(const Continuation& c, const Language& language) {
  switch (c.Reason) {
    case WholeRingReason::None:
      return {};
    case WholeRingReason::NothingArchived:
      return language.Text("В архиве нет записей этого прибора: читается вся история",
                           "The archive holds no record of this device: reading the whole ring");
    case WholeRingReason::Overwritten:
      return language.Text(
                 "Последняя запись архива уже стёрта в приборе: читается вся история; "
                 "записи с ",
                 "The archive's newest record was overwritten in the device: reading "
                 "the whole ring; the records from ") +
             DeviceTimeText(c.ArchiveEnd) + language.Text(" до ", " to ") +
             DeviceTimeText(c.RingStart) +
             language.Text(" не были прочитаны и потеряны", " were never downloaded and are lost");
    case WholeRingReason::NoMatch:
      return language.Text(
          "Последняя запись архива не найдена в приборе (история удалена и начата заново или это "
          "другой прибор): читается вся история",
          "The archive's newest record is not in the device (its history was deleted and begun "
          "again, or another device): reading the whole ring");
    case WholeRingReason::BadDescription:
      return language.Text(
          "Описание истории, сохранённое в архиве, не проходит проверку: читается вся история",
          "The ring description kept in the archive fails its checks: reading the whole ring");
  }
  return {};
}

}  // namespace dravion
