#pragma once

#include <cstdint>
#include <vector>

#include "device/history_ring.h"
#include "protocol/device_records.h"

namespace dravion::test {

// A record as the device stores it.
struct StoredRecord {
  uint32_t start = 0;
  uint32_t pulses = 0;
  uint16_t duration = 60;
  uint8_t kind = kKindOnTime;
  uint8_t status = 0;
};

inline void PutRecord(uint8_t* bytes, const StoredRecord& r) {
  bytes[0] = r.kind;
  bytes[1] = r.status;
  bytes[2] = bytes[3] = 0;
  StoreU32(bytes + 4, r.start);
  StoreU32(bytes + 8, r.pulses);
  StoreU16(bytes + 12, r.duration);
  bytes[14] = bytes[15] = 0;
}

// Lays `records` (oldest first) into a downloaded ring from physical index `first` on.
inline void LoadRing(HistoryRing& ring, const std::vector<StoredRecord>& records,
                     uint32_t first = 0) {
  ring.Clear();
  const uint32_t count = static_cast<uint32_t>(records.size());
  for (uint32_t l = 0; l < count; ++l)
    PutRecord(ring.MutableRecordBytes((first + l) % kHistoryRingRecords), records[l]);
  ring.Ring = HistoryRingDescription{};
  ring.Ring.SectorSize = kHistorySectorSize;
  ring.Ring.SectorCount = kHistoryMaxSectors;
  ring.Ring.RecordCount = count;
  ring.Ring.FirstRecord = first;
  ring.Ring.LastRecord = count == 0 ? first : (first + count - 1) % kHistoryRingRecords;
  ring.Loaded = true;
}

}  // namespace dravion::test
