#include <gtest/gtest.h>

#include <algorithm>

#include "device/history_ring.h"
#include "sim/link_harness.h"

namespace dravion {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kRingBase = 0x100000;
constexpr uint32_t kSlots = 65280;

struct Ring {
  uint32_t sectorSize = 0, low = 0, sectors = 0, count = 0, first = 0, last = 0;
};

Ring ReadDescription(test::SimLink& link) {
  Ring r;
  uint32_t v = 0;
  EXPECT_TRUE(link.ReadParameter(0xC020, v));
  r.sectorSize = v >> 16;
  r.low = v & 0xFFFF;
  EXPECT_TRUE(link.ReadParameter(0xC021, v));
  r.sectors = v >> 16;
  r.count = v & 0xFFFF;
  EXPECT_TRUE(link.ReadParameter(0xC022, v));
  r.first = v >> 16;
  r.last = v & 0xFFFF;
  EXPECT_TRUE(link.ReadParameter(0xC023, v));
  return r;
}

// The manager's format check: sectors from the oldest to the newest against the record count.
bool FormatAccepted(const Ring& r) {
  HistoryRingDescription ring;
  ring.SetGeometry(r.sectorSize << 16 | r.low);
  ring.SetCount(r.sectors << 16 | r.count);
  ring.SetBounds(r.first << 16 | r.last);
  return HistoryFormatAccepted(ring, PlanHistorySectors(ring));
}

// Records by physical index, read in pairs of 32 bytes through ReadExternalFlash.
Bytes ReadRecords(test::SimLink& link, uint32_t physical, uint32_t count) {
  Bytes all;
  for (uint32_t p = physical; p < physical + count; p += 2) {
    Bytes data;
    if (!link.Read(2, kRingBase + 16 * p, 32, data) || data.size() != 32) return {};
    all.insert(all.end(), data.begin(), data.end());
  }
  return all;
}

TEST(HistoryLink, RingReadBackMatchesItsDescriptionAndLooksReal) {
  sim::DeviceConfig config;
  config.historySize = 1500;
  config.seed = 2;  // a ring recorded on time and, for a stretch, on change
  config.historyStart = 0x100;
  config.background = 0.12;
  test::SimLink link(config);
  const Ring ring = ReadDescription(link);
  EXPECT_EQ(ring.sectorSize, 4096u);
  EXPECT_EQ(ring.count, 1500u);
  EXPECT_EQ(ring.first, 0x100u);
  EXPECT_EQ(ring.last, 0x100u + 1499u);
  EXPECT_TRUE(FormatAccepted(ring));

  const uint32_t sectors = ring.last / 256 + 1;
  const Bytes flash = ReadRecords(link, 0, sectors * 256);
  ASSERT_EQ(flash.size(), sectors * 256 * 16);
  auto at = [&](uint32_t p) { return flash.data() + 16 * p; };
  // Outside the ring the flash is erased.
  EXPECT_TRUE(std::all_of(at(0), at(0x100), [](uint8_t b) { return b == 0xFF; }));
  EXPECT_TRUE(
      std::all_of(at(ring.last + 1), at(sectors * 256), [](uint8_t b) { return b == 0xFF; }));

  int onTime = 0, onChange = 0, flagged = 0, zeroLength = 0, gaps = 0, other = 0;
  std::vector<double> rates;
  uint32_t previousEnd = 0;
  for (uint32_t p = ring.first; p <= ring.last; ++p) {
    const uint8_t* r = at(p);
    const uint32_t start = LoadU32(r + 4), pulses = LoadU32(r + 8), duration = LoadU16(r + 12);
    if (p % 256 == 0) {
      EXPECT_EQ(r[0], 0x01) << "sector header at " << p;
    }
    if (p > ring.first) {
      EXPECT_GE(start, previousEnd) << "records out of time order at " << p;
      if (start - previousEnd >= 3600) ++gaps;
    }
    previousEnd = start + duration;
    if (r[0] == 0xFE)
      ++onTime;
    else if (r[0] == 0xFC)
      ++onChange;
    else
      ++other;
    if ((r[0] == 0xFE || r[0] == 0xFC) && r[1] != 0) ++flagged;
    if (r[0] == 0xFC && duration == 0) ++zeroLength;
    if (r[0] == 0xFE && r[1] == 0 && duration > 0) {
      rates.push_back(pulses * 36.0 * 127 / (duration * 172.0));
    }
  }
  EXPECT_GT(onTime, 100);
  EXPECT_GT(onChange, 0);
  EXPECT_GT(flagged, 0);
  EXPECT_GT(other, 5);  // sector headers and events
  EXPECT_GT(gaps, 0);
  EXPECT_GT(zeroLength, 0);  // points in time among the records of change
  // The newest record ends about now.
  EXPECT_LE(previousEnd, link.device->DeviceSeconds());
  EXPECT_GE(previousEnd + 120, link.device->DeviceSeconds());
  // Pulses follow the background: the median record rate is near 12 µR/h (0,12 µSv/h).
  std::sort(rates.begin(), rates.end());
  ASSERT_FALSE(rates.empty());
  EXPECT_NEAR(rates[rates.size() / 2], 12.0, 4.0);
}

TEST(HistoryLink, RingRunningAcrossThePhysicalEndAndAWrappedRing) {
  {
    sim::DeviceConfig config;
    config.historyStart = 0x0500;
    config.historySize = 65185;  // newest at 0x04A0
    test::SimLink link(config);
    const Ring ring = ReadDescription(link);
    EXPECT_EQ(ring.first, 0x0500u);
    EXPECT_EQ(ring.last, 0x04A0u);
    EXPECT_TRUE(FormatAccepted(ring));
    // The records on both sides of the physical end follow each other in time.
    const Bytes end = ReadRecords(link, kSlots - 2, 2);
    const Bytes begin = ReadRecords(link, 0, 2);
    ASSERT_EQ(end.size(), 32u);
    ASSERT_EQ(begin.size(), 32u);
    EXPECT_EQ(begin[0], 0x01);  // physical 0 is a sector start
    EXPECT_LE(LoadU32(&end[16 + 4]) + LoadU16(&end[16 + 12]), LoadU32(&begin[4]));
  }
  {
    sim::DeviceConfig config;
    config.historyWrap = true;
    config.historyStart = 0x1234;
    config.historySize = 100;  // a wrapped ring holds 65,025 to 65,279 records
    test::SimLink link(config);
    const Ring ring = ReadDescription(link);
    EXPECT_EQ(ring.first, 0x1200u);
    EXPECT_EQ(ring.last / 256, 0x11u);  // the newest sector directly precedes the oldest
    EXPECT_TRUE(FormatAccepted(ring));
  }
}

TEST(HistoryLink, DeleteEmptiesTheRingAndTheReadFlagFollowsStartAndEnd) {
  test::SimLink link;
  uint32_t flag = 0;
  ASSERT_TRUE(link.WriteParameter(0xFF00, 0xC0BA0010));
  ASSERT_TRUE(link.ReadParameter(0xC023, flag));
  EXPECT_EQ(flag & 0xFF, 1u);
  ASSERT_TRUE(link.WriteParameter(0xFF00, 0xC0BA0012));
  ASSERT_TRUE(link.WriteParameter(0xFF00, 0xC0BA0011));
  ASSERT_TRUE(link.ReadParameter(0xC023, flag));
  EXPECT_EQ(flag & 0xFF, 0u);
  const Ring ring = ReadDescription(link);
  EXPECT_EQ(ring.count, 0u);
  EXPECT_TRUE(FormatAccepted(ring));
  const Bytes records = ReadRecords(link, 0, 16);
  EXPECT_TRUE(std::all_of(records.begin(), records.end(), [](uint8_t b) { return b == 0xFF; }));
}

}  // namespace
}  // namespace dravion
