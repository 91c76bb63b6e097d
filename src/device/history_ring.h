#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace dravion {

// The measurement ring in the device's external flash: 16-byte records from 0x100000 on, 256 to
// a 4096-byte sector, 255 sectors (65,280 records) for all index arithmetic.
inline constexpr uint32_t kHistoryBase = 0x100000;
inline constexpr uint32_t kHistoryRecordSize = 16;
inline constexpr uint32_t kHistorySectorRecords = 256;
inline constexpr uint32_t kHistoryRingRecords = 0xFF00;  // 65,280
inline constexpr uint32_t kHistoryCopyRecords = 65536;   // the downloaded copy (1 MiB)
inline constexpr uint32_t kHistorySectorSize = 4096;
inline constexpr uint32_t kHistoryMaxSectors = 255;
inline constexpr uint32_t kHistoryMaxLowHalf = 0x700;

inline constexpr uint8_t kKindOnTime = 0xFE;
inline constexpr uint8_t kKindOnChange = 0xFC;

// One stored record (16 bytes, little-endian).
struct HistoryRecord {
  uint8_t Kind = 0xFF;
  uint8_t Status = 0xFF;
  uint32_t Start = 0;     // device seconds at which the interval begins
  uint32_t Pulses = 0;    // counts in the interval
  uint16_t Duration = 0;  // seconds

  static HistoryRecord FromBytes(const uint8_t* bytes);
  // A usable measurement: kind 0xFE or 0xFC with status 0.
  bool IsMeasurement() const {
    return (Kind == kKindOnTime || Kind == kKindOnChange) && Status == 0;
  }
};

// What the device says about its ring (the halves of parameters 0xC020 to 0xC023).
struct HistoryRingDescription {
  uint32_t SectorSize = 0;
  uint32_t LowHalf = 0;  // low half of 0xC020; checked, not used
  uint32_t SectorCount = 0;
  uint32_t RecordCount = 0;
  uint32_t FirstRecord = 0;
  uint32_t LastRecord = 0;
  uint32_t Flag = 0;  // low byte of 0xC023; read, not used

  void SetGeometry(uint32_t value) { SectorSize = value >> 16, LowHalf = value & 0xFFFF; }
  void SetCount(uint32_t value) { SectorCount = value >> 16, RecordCount = value & 0xFFFF; }
  void SetBounds(uint32_t value) { FirstRecord = value >> 16, LastRecord = value & 0xFFFF; }
  void SetFlag(uint32_t value) { Flag = value & 0xFF; }
};

// The sectors a download reads: from the newest sector E backwards to the oldest S.
struct HistorySectorPlan {
  uint32_t Start = 0;  // S, the oldest record's sector
  uint32_t End = 0;    // E, the newest record's sector
  uint32_t Count = 0;  // C
  // Sector k of the reading order (0 = the newest), wrapping below 0 to SectorCount - 1.
  uint32_t SectorAt(uint32_t k, uint32_t sectorCount) const;
};

// S, E and C of a ring. A ring that runs across the physical end (E below S) spans
// E - S + N + 1 sectors, which is N for a ring that has run round (E = S - 1).
HistorySectorPlan PlanHistorySectors(const HistoryRingDescription& ring);
// The format check: the record count fits the planned sectors (from the oldest record's slot in
// the first to the newest one's in the last, full sectors included), 4096-byte sectors, low half
// at most 0x700, at most 255 sectors.
bool HistoryFormatAccepted(const HistoryRingDescription& ring, const HistorySectorPlan& plan);

// The downloaded copy of the ring and the record access on it. Before a complete download
// records are read from the device in pairs, through `ReadFlash` (a 32-byte external-flash read
// returning the number of bytes it got, or -1); the pair fetched last is kept.
class HistoryRing {
 public:
  using FlashReader = std::function<int(uint32_t address, uint8_t* dest, int count)>;

  HistoryRing();

  // Every byte 0xFF, not loaded, the pair cache emptied.
  void Clear();
  void ForgetPair() { pairIndex_ = kNoPair; }

  // The record at a physical index (0 to 65279): from the copy once loaded, else from the
  // device. Nothing for an index above 65279 or a failed read.
  std::optional<HistoryRecord> ReadHistoryRecord(uint32_t physical);
  // Like ReadHistoryRecord, but keeps the record's bytes at its place in the copy.
  bool FetchIntoCopy(uint32_t physical);
  // The record at a logical index (0 = the oldest); nothing at or beyond RecordCount.
  std::optional<HistoryRecord> HistoryRecordAt(uint32_t logical);
  // The logical index of the first record whose end (Start + Duration) lies after `t`; nothing
  // without records or when `t` is at or after the end of the newest record.
  std::optional<uint32_t> FindHistoryRecord(uint32_t t);

  const uint8_t* RecordBytes(uint32_t physical) const {
    return copy_.data() + static_cast<size_t>(physical) * kHistoryRecordSize;
  }
  uint8_t* MutableRecordBytes(uint32_t physical) {
    return copy_.data() + static_cast<size_t>(physical) * kHistoryRecordSize;
  }

  FlashReader ReadFlash;
  HistoryRingDescription Ring;
  bool Loaded = false;
  int FlashReads = 0;  // device reads made, for figures and tests

 private:
  static constexpr uint32_t kNoPair = 0xFFFFFFFF;
  bool FetchPair(uint32_t even);

  std::vector<uint8_t> copy_;
  uint32_t pairIndex_ = kNoPair;
  uint8_t pair_[2 * kHistoryRecordSize] = {};
};

}  // namespace dravion
