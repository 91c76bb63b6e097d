#include "device/history_ring.h"

#include <algorithm>
#include <cstring>

#include "protocol/device_records.h"

namespace dravion {

HistoryRecord HistoryRecord::FromBytes(const uint8_t* b) {
  HistoryRecord r;
  r.Kind = b[0];
  r.Status = b[1];
  r.Start = LoadU32(b + 4);
  r.Pulses = LoadU32(b + 8);
  r.Duration = LoadU16(b + 12);
  return r;
}

uint32_t HistorySectorPlan::SectorAt(uint32_t k, uint32_t sectorCount) const {
  // Going down from E; below 0 the count continues at N - 1.
  if (k <= End) return End - k;
  const uint32_t below = k - End - 1;  // steps taken below sector 0
  return sectorCount == 0 ? 0 : sectorCount - 1 - below % sectorCount;
}

HistorySectorPlan PlanHistorySectors(const HistoryRingDescription& ring) {
  HistorySectorPlan plan;
  plan.Start = ring.FirstRecord / kHistorySectorRecords;
  plan.End = ring.LastRecord / kHistorySectorRecords;
  if (plan.End >= plan.Start)
    plan.Count = plan.End - plan.Start + 1;
  else
    plan.Count = plan.End + ring.SectorCount + 1 - plan.Start;  // wraps across the physical end
  return plan;
}

bool HistoryFormatAccepted(const HistoryRingDescription& ring, const HistorySectorPlan& plan) {
  // The records run from the oldest one's slot in sector S to the newest one's slot in sector E.
  // Over C sectors that is at most 256 x C records (both at the sector ends) and at least
  // 256 x (C - 2) + 2 (the oldest in the last slot of S, the newest in the first slot of E); an
  // empty ring reads its one sector. A full newest sector counts as it is: the device opens the
  // next sector only with its next record. Both ends lie inside the ring's sectors.
  const uint64_t c = plan.Count;
  const uint64_t most = uint64_t{kHistorySectorRecords} * c;
  const uint64_t least = c <= 1 ? 0 : uint64_t{kHistorySectorRecords} * (c - 2) + 2;
  return c >= 1 && c <= ring.SectorCount && plan.Start < ring.SectorCount &&
         plan.End < ring.SectorCount && ring.RecordCount >= least && ring.RecordCount <= most &&
         ring.SectorSize == kHistorySectorSize && ring.LowHalf <= kHistoryMaxLowHalf &&
         ring.SectorCount <= kHistoryMaxSectors;
}

HistoryRing::HistoryRing() : copy_(static_cast<size_t>(kHistoryCopyRecords) * kHistoryRecordSize) {
  Clear();
}

void HistoryRing::Clear() {
  std::fill(copy_.begin(), copy_.end(), uint8_t{0xFF});
  Loaded = false;
  ForgetPair();
}

bool HistoryRing::FetchPair(uint32_t even) {
  if (pairIndex_ == even) return true;
  pairIndex_ = kNoPair;
  if (!ReadFlash) return false;
  ++FlashReads;
  uint8_t data[sizeof pair_];
  const int got = ReadFlash(kHistoryBase + even * kHistoryRecordSize, data, sizeof data);
  // Anything shorter than the pair is a failed read: a record cut off would still carry its kind
  // and status, and pass for a measurement made of whatever filled the rest.
  if (got != static_cast<int>(sizeof data)) return false;
  std::memcpy(pair_, data, sizeof pair_);
  pairIndex_ = even;
  return true;
}

std::optional<HistoryRecord> HistoryRing::ReadHistoryRecord(uint32_t physical) {
  if (physical >= kHistoryRingRecords) return std::nullopt;
  if (Loaded) return HistoryRecord::FromBytes(RecordBytes(physical));
  const uint32_t even = physical - physical % 2;
  if (!FetchPair(even)) return std::nullopt;
  return HistoryRecord::FromBytes(pair_ + (physical - even) * kHistoryRecordSize);
}

bool HistoryRing::FetchIntoCopy(uint32_t physical) {
  if (physical >= kHistoryRingRecords) return false;
  if (Loaded) return true;
  const uint32_t even = physical - physical % 2;
  if (!FetchPair(even)) return false;
  std::memcpy(MutableRecordBytes(physical), pair_ + (physical - even) * kHistoryRecordSize,
              kHistoryRecordSize);
  return true;
}

std::optional<HistoryRecord> HistoryRing::HistoryRecordAt(uint32_t logical) {
  if (logical >= Ring.RecordCount) return std::nullopt;
  return ReadHistoryRecord((logical + Ring.FirstRecord) % kHistoryRingRecords);
}

std::optional<uint32_t> HistoryRing::FindHistoryRecord(uint32_t t) {
  // -1: t before the record; 0: inside it; +1: at or after its end (a record of no duration
  // never contains t). Reading failures end the search with nothing.
  auto compare = [t](const HistoryRecord& r) {
    if (t < r.Start) return -1;
    if (static_cast<uint64_t>(t) < static_cast<uint64_t>(r.Start) + r.Duration) return 0;
    return 1;
  };
  uint32_t n = Ring.RecordCount;
  uint32_t lo = 0;
  uint32_t hi = n == 0 ? 0 : n - 1;
  // Records lo and hi are read once each while they stay the same.
  std::optional<HistoryRecord> loRecord, hiRecord;
  uint32_t loRead = 0xFFFFFFFF, hiRead = 0xFFFFFFFF;
  for (;;) {
    if (n == 0) return std::nullopt;
    if (n == 1) return lo;
    if (loRead != lo) {
      loRecord = HistoryRecordAt(lo);
      loRead = lo;
    }
    if (!loRecord) return std::nullopt;
    if (compare(*loRecord) <= 0) return lo;
    if (hiRead != hi) {
      hiRecord = HistoryRecordAt(hi);
      hiRead = hi;
    }
    if (!hiRecord) return std::nullopt;
    const int atHi = compare(*hiRecord);
    if (atHi == 0) return hi;
    if (atHi > 0) return std::nullopt;
    if (n == 2) return hi;
    const uint32_t mid = lo + n / 2;
    const std::optional<HistoryRecord> midRecord = HistoryRecordAt(mid);
    if (!midRecord) return std::nullopt;
    if (compare(*midRecord) > 0) {
      lo = mid + 1;
      n = hi - mid;
    } else {
      hi = mid;
      n = mid - lo + 1;
    }
  }
}

}  // namespace dravion
