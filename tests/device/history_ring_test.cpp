#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "device/history_records.h"
#include "device/history_ring.h"

namespace dravion {
namespace {

HistoryRingDescription Description(uint32_t first, uint32_t last, uint32_t count,
                                   uint32_t sectors = 255, uint32_t sectorSize = 4096) {
  HistoryRingDescription ring;
  ring.SetGeometry(sectorSize << 16 | 16);
  ring.SetCount(sectors << 16 | count);
  ring.SetBounds(first << 16 | last);
  return ring;
}

std::vector<uint32_t> Order(const HistoryRingDescription& ring) {
  const HistorySectorPlan plan = PlanHistorySectors(ring);
  std::vector<uint32_t> order;
  for (uint32_t k = 0; k < plan.Count; ++k)
    order.push_back(plan.SectorAt(k, ring.SectorCount));
  return order;
}

TEST(HistoryRingPlan, ARingFromTheStartAndAWrappedRingReadNewestSectorFirst) {
  const HistoryRingDescription small = Description(0x0000, 0x01F3, 500);
  const HistorySectorPlan a = PlanHistorySectors(small);
  EXPECT_EQ(a.Start, 0u);
  EXPECT_EQ(a.End, 1u);
  EXPECT_EQ(a.Count, 2u);
  EXPECT_TRUE(HistoryFormatAccepted(small, a));
  EXPECT_EQ(Order(small), (std::vector<uint32_t>{1, 0}));

  const HistoryRingDescription wrapped = Description(0x0500, 0x04A0, 65200);
  const HistorySectorPlan b = PlanHistorySectors(wrapped);
  EXPECT_EQ(b.Start, 5u);
  EXPECT_EQ(b.End, 4u);
  EXPECT_EQ(b.Count, 255u);
  EXPECT_TRUE(HistoryFormatAccepted(wrapped, b));
  const std::vector<uint32_t> order = Order(wrapped);
  ASSERT_EQ(order.size(), 255u);
  EXPECT_EQ((std::vector<uint32_t>(order.begin(), order.begin() + 7)),
            (std::vector<uint32_t>{4, 3, 2, 1, 0, 254, 253}));
  EXPECT_EQ(order.back(), 5u);
  // Every sector exactly once.
  std::map<uint32_t, int> seen;
  for (uint32_t s : order)
    ++seen[s];
  EXPECT_EQ(seen.size(), 255u);
}

TEST(HistoryRingPlan, ARingAcrossThePhysicalEndThatIsNotFullCountsItsOwnSectors) {
  // Oldest at 64768 (sector 253), 2,000 records: sectors 253, 254, 0, ..., 5.
  const HistoryRingDescription ring = Description(64768, (64768 + 1999) % 65280, 2000);
  const HistorySectorPlan plan = PlanHistorySectors(ring);
  EXPECT_EQ(plan.Start, 253u);
  EXPECT_EQ(plan.End, 5u);
  EXPECT_EQ(plan.Count, 8u);
  EXPECT_TRUE(HistoryFormatAccepted(ring, plan));
  EXPECT_EQ(Order(ring), (std::vector<uint32_t>{5, 4, 3, 2, 1, 0, 254, 253}));
}

TEST(HistoryRingPlan, FormatCheckRefusesWrongGeometry) {
  const HistoryRingDescription good = Description(0, 0x01F3, 500);
  auto accepted = [](HistoryRingDescription ring) {
    return HistoryFormatAccepted(ring, PlanHistorySectors(ring));
  };
  EXPECT_TRUE(accepted(good));
  EXPECT_FALSE(accepted(Description(0, 0x01F3, 500, 255, 2048)));
  EXPECT_FALSE(accepted(Description(0, 0x01F3, 600)));  // three sectors' worth of records
  HistoryRingDescription low = good;
  low.LowHalf = 0x701;
  EXPECT_FALSE(accepted(low));
  EXPECT_FALSE(accepted(Description(0, 0x01F3, 500, 256)));
  // An empty ring still reads its one sector.
  const HistoryRingDescription empty = Description(0, 0, 0);
  EXPECT_EQ(PlanHistorySectors(empty).Count, 1u);
  EXPECT_TRUE(accepted(empty));
}

TEST(HistoryRingPlan, EveryRingTheDeviceWritesPassesTheFormatCheck) {
  auto accepted = [](const HistoryRingDescription& ring) {
    return HistoryFormatAccepted(ring, PlanHistorySectors(ring));
  };
  // The newest sector full: the device opens the next one only with its next record.
  EXPECT_TRUE(accepted(Description(0, 255, 256)));
  EXPECT_TRUE(accepted(Description(0, 511, 512)));
  EXPECT_TRUE(accepted(Description(0, 65279, 65280)));        // all 255 sectors
  EXPECT_TRUE(accepted(Description(0x0500, 0x04FF, 65280)));  // full and run round
  EXPECT_EQ(PlanHistorySectors(Description(0x0500, 0x04FF, 65280)).Count, 255u);
  // The oldest anywhere in its sector, the newest in any slot, across the physical end.
  EXPECT_TRUE(accepted(Description(100, 399, 300)));
  EXPECT_TRUE(accepted(Description(255, 256, 2)));
  EXPECT_TRUE(accepted(Description(65000, (65000 + 1279) % 65280, 1280)));
  EXPECT_TRUE(accepted(Description(64768 + 37, 255, 731)));
  // Counts that do not fit the sectors, and ends outside the ring.
  EXPECT_FALSE(accepted(Description(0, 0x01F3, 600)));
  EXPECT_FALSE(accepted(Description(0, 255, 257)));
  EXPECT_FALSE(accepted(Description(0, 0x0500, 100)));
  EXPECT_FALSE(accepted(Description(0, 65300, 65280)));
  EXPECT_FALSE(accepted(Description(0, 300, 301, 1)));
}

TEST(HistoryRing, RecordsDecodeLittleEndianAndUsableMeansKindAndStatus) {
  uint8_t bytes[16] = {0xFE, 0x00, 0x12, 0x34, 0xC0, 0x90, 0xD4, 0x07,
                       0xB0, 0x04, 0x00, 0x00, 0x3C, 0x00, 0xAA, 0xBB};
  HistoryRecord r = HistoryRecord::FromBytes(bytes);
  EXPECT_EQ(r.Start, 131371200u);
  EXPECT_EQ(r.Pulses, 1200u);
  EXPECT_EQ(r.Duration, 60u);
  EXPECT_TRUE(r.IsMeasurement());
  bytes[0] = 0xFC;
  EXPECT_TRUE(HistoryRecord::FromBytes(bytes).IsMeasurement());
  bytes[1] = 1;
  EXPECT_FALSE(HistoryRecord::FromBytes(bytes).IsMeasurement());
  bytes[0] = 0xFF, bytes[1] = 0;
  EXPECT_FALSE(HistoryRecord::FromBytes(bytes).IsMeasurement());
}

TEST(HistoryRing, DeviceReadsFetchPairsAndKeepTheLastOne) {
  HistoryRing ring;
  std::vector<uint32_t> addresses;
  ring.ReadFlash = [&](uint32_t address, uint8_t* dest, int count) {
    addresses.push_back(address);
    for (int i = 0; i < count; ++i)
      dest[i] = static_cast<uint8_t>((address - kHistoryBase) / 16 + i / 16);
    return count;
  };
  ASSERT_TRUE(ring.ReadHistoryRecord(6));
  EXPECT_EQ(ring.ReadHistoryRecord(7)->Kind, 7);
  EXPECT_EQ(ring.ReadHistoryRecord(6)->Kind, 6);
  ASSERT_TRUE(ring.ReadHistoryRecord(9));
  EXPECT_EQ(addresses, (std::vector<uint32_t>{kHistoryBase + 6 * 16, kHistoryBase + 8 * 16}));
  EXPECT_FALSE(ring.ReadHistoryRecord(65280));  // beyond the ring: no read
  EXPECT_EQ(addresses.size(), 2u);
  // A download starts with an empty pair cache.
  ring.Clear();
  ASSERT_TRUE(ring.ReadHistoryRecord(8));
  EXPECT_EQ(addresses.size(), 3u);

  // A read without data fails and is not taken for the pair.
  ring.ReadFlash = [&](uint32_t, uint8_t*, int) { return -1; };
  EXPECT_FALSE(ring.ReadHistoryRecord(20));
  ring.ReadFlash = [&](uint32_t, uint8_t*, int) { return 0; };
  EXPECT_FALSE(ring.ReadHistoryRecord(20));
  EXPECT_FALSE(ring.FetchIntoCopy(20));
  // Nor is a short answer: 16 of 32 bytes would leave the second record invented.
  for (int got : {1, 16, 24, 31}) {
    ring.ReadFlash = [&](uint32_t, uint8_t* dest, int) {
      std::memset(dest, 0xFE, static_cast<size_t>(got));
      return got;
    };
    EXPECT_FALSE(ring.ReadHistoryRecord(21)) << got;
    EXPECT_FALSE(ring.FetchIntoCopy(22)) << got;
  }
}

TEST(HistoryRing, LogicalIndexesWrapAcrossThePhysicalEnd) {
  HistoryRing ring;
  std::vector<test::StoredRecord> records;
  for (uint32_t i = 0; i < 10; ++i)
    records.push_back({1000 + 60 * i, i, 60});
  test::LoadRing(ring, records, 65275);
  EXPECT_EQ(ring.HistoryRecordAt(0)->Start, 1000u);
  EXPECT_EQ(ring.HistoryRecordAt(5)->Start, 1300u);  // physical 0
  EXPECT_EQ(HistoryRecord::FromBytes(ring.RecordBytes(0)).Start, 1300u);
  EXPECT_EQ(ring.HistoryRecordAt(9)->Start, 1540u);
  EXPECT_FALSE(ring.HistoryRecordAt(10));
}

TEST(HistoryRing, FindHistoryRecordGivesTheFirstRecordEndingAfterTheTime) {
  HistoryRing ring;
  // 100..160, 160..220, a gap, 1000..1000 (no duration), 1000..1030, 2000..2060
  test::LoadRing(ring, {{100, 1, 60}, {160, 1, 60}, {1000, 0, 0}, {1000, 1, 30}, {2000, 1, 60}});
  EXPECT_EQ(ring.FindHistoryRecord(0), 0u);
  EXPECT_EQ(ring.FindHistoryRecord(100), 0u);
  EXPECT_EQ(ring.FindHistoryRecord(159), 0u);
  EXPECT_EQ(ring.FindHistoryRecord(160), 1u);
  EXPECT_EQ(ring.FindHistoryRecord(500), 2u);  // in the gap: the next record
  EXPECT_EQ(ring.FindHistoryRecord(1000), 3u);
  EXPECT_EQ(ring.FindHistoryRecord(1029), 3u);
  EXPECT_EQ(ring.FindHistoryRecord(1030), 4u);
  EXPECT_EQ(ring.FindHistoryRecord(2059), 4u);
  EXPECT_FALSE(ring.FindHistoryRecord(2060));  // at the end of the newest
  EXPECT_FALSE(ring.FindHistoryRecord(0xFFFFFFFFu));

  test::LoadRing(ring, {});
  EXPECT_FALSE(ring.FindHistoryRecord(0));

  // A large ring against a linear scan, with few record reads.
  std::vector<test::StoredRecord> many;
  uint32_t t = 5000;
  for (uint32_t i = 0; i < 65000; ++i) {
    const uint16_t d = static_cast<uint16_t>(i % 7 == 0 ? 0 : 5 + i % 50);
    many.push_back({t, 1, d});
    t += d + (i % 1000 == 0 ? 7200 : 0);
  }
  test::LoadRing(ring, many, 300);
  for (uint32_t probe = 4000; probe < t + 10; probe += 9973) {
    uint32_t expected = 0;
    while (expected < many.size() && many[expected].start + many[expected].duration <= probe)
      ++expected;
    const auto found = ring.FindHistoryRecord(probe);
    if (expected == many.size()) {
      EXPECT_FALSE(found) << probe;
    } else {
      EXPECT_EQ(found, expected) << probe;
    }
  }
}

TEST(HistoryRing, BeforeADownloadFindReadsTheDeviceThroughThePairs) {
  HistoryRing source;
  std::vector<test::StoredRecord> records;
  for (uint32_t i = 0; i < 4000; ++i)
    records.push_back({10000 + 60 * i, 5, 60});
  test::LoadRing(source, records, 1000);
  HistoryRing ring;
  ring.Ring = source.Ring;
  int reads = 0;
  ring.ReadFlash = [&](uint32_t address, uint8_t* dest, int count) {
    ++reads;
    std::memcpy(dest, source.RecordBytes((address - kHistoryBase) / 16), count);
    return count;
  };
  EXPECT_EQ(ring.FindHistoryRecord(10000 + 60 * 2500 + 30), 2500u);
  EXPECT_LE(reads, 2 * 13 + 2);  // a binary search, each of lo and hi read once while it stays
}

}  // namespace
}  // namespace dravion
