#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <random>

#include "device/history_query.h"
#include "device/history_records.h"
#include "device/history_ring.h"

namespace dravion {
namespace {

using test::StoredRecord;

struct Period {
  uint64_t pulses;
  uint32_t covered;
  uint32_t maxRate10;
};

Period Accumulate(HistoryQuery& query, uint32_t length) {
  query.AccumulatePeriod(length);
  return {query.PeriodPulses, query.PeriodCovered, query.PeriodMaxRate10};
}

TEST(HistoryQuery, ARecordStraddlingPeriodsIsSplitInProportionToTime) {
  HistoryRing ring;
  // 120 s with 240 pulses starting 30 s before the period.
  test::LoadRing(ring, {{970, 240, 120}});
  HistoryQuery query(ring);
  query.StartHistoryQuery(1000);
  ASSERT_TRUE(query.QueryActive);
  Period p = Accumulate(query, 10);
  EXPECT_EQ(p.pulses, 20u);
  EXPECT_EQ(p.covered, 10u);
  EXPECT_EQ(p.maxRate10, 20u);
  EXPECT_EQ(query.PeriodStart, 1010u);
  // The rest of the record: 1010..1089 in 10-s pieces, then nothing.
  uint64_t total = 20;
  for (int i = 0; i < 8; ++i)
    total += Accumulate(query, 10).pulses;
  EXPECT_EQ(total, 180u);  // 90 of its 120 s from 1000 on
  EXPECT_EQ(Accumulate(query, 10).covered, 0u);
}

TEST(HistoryQuery, GapsGivePartialCoverageAndStatusOrZeroDurationRecordsAreHandled) {
  HistoryRing ring;
  test::LoadRing(ring, {
                           {0, 60, 3600},             // hour 0 full
                           {3600, 30, 1800},          // half of hour 1, then a gap
                           {9000, 999, 60, 0xFE, 1},  // flagged: passed over
                           {10800, 5, 0},             // no duration: a point, 5 pulses
                           {10800, 100, 5},           // short, in the point's second
                           {10805, 7, 0},             // a point in the next one's second
                           {10805, 20, 5},
                       });
  HistoryQuery query(ring);
  query.StartHistoryQuery(0);
  Period h0 = Accumulate(query, 3600);
  EXPECT_EQ(h0.pulses, 60u);
  EXPECT_EQ(h0.covered, 3600u);
  Period h1 = Accumulate(query, 3600);
  EXPECT_EQ(h1.pulses, 30u);
  EXPECT_EQ(h1.covered, 1800u);
  Period h2 = Accumulate(query, 3600);
  EXPECT_EQ(h2.pulses, 0u);
  EXPECT_EQ(h2.covered, 0u);
  Period h3 = Accumulate(query, 3600);
  EXPECT_EQ(h3.pulses, 132u);
  EXPECT_EQ(h3.covered, 10u);
  EXPECT_EQ(h3.maxRate10, 0u);
}

TEST(HistoryQuery, ATimeAfterTheNewestRecordOrAJumpBackEndsTheWalk) {
  HistoryRing ring;
  test::LoadRing(ring, {{100, 1, 60}, {200, 1, 60}});
  HistoryQuery query(ring);
  query.StartHistoryQuery(260);
  EXPECT_FALSE(query.QueryActive);
  EXPECT_EQ(Accumulate(query, 60).covered, 0u);

  // The clock was set back by more than an hour between two records: the walk stops there.
  test::LoadRing(ring, {{10000, 1, 60}, {10060, 1, 60}, {5000, 7, 60}, {5060, 7, 60}});
  query.StartHistoryQuery(0);
  ASSERT_TRUE(query.QueryActive);
  EXPECT_EQ(Accumulate(query, 20000).covered, 120u);
}

TEST(HistoryQuery, LongRecordsWithManyPulsesDoNotOverflow) {
  HistoryRing ring;
  // 65,535 s with 3,000,000,000 pulses: overlap x pulses needs more than 32 bits.
  test::LoadRing(ring, {{1000, 3000000000u, 65535}});
  HistoryQuery query(ring);
  query.StartHistoryQuery(1000);
  const Period first = Accumulate(query, 3600);
  EXPECT_EQ(first.pulses, uint64_t{3600} * 3000000000u / 65535);
  EXPECT_EQ(first.maxRate10, static_cast<uint32_t>(uint64_t{3000000000u} * 10 / 65535));
}

// The pulses and coverage of a period, second by second: which record covers each second of the
// period, then each record's share of pulses for the seconds it covers there; a record of no
// duration adds its pulses to the period holding its second and covers nothing.
struct Timeline {
  explicit Timeline(const std::vector<StoredRecord>& records) : records(records) {
    origin = records.front().start;
    const StoredRecord& last = records.back();
    owner.assign(last.start + std::max<uint32_t>(last.duration, 1) - origin, -1);
    for (size_t i = 0; i < records.size(); ++i) {
      const StoredRecord& r = records[i];
      if (r.status != 0) continue;
      for (uint32_t s = r.start; s < r.start + r.duration; ++s)
        owner[s - origin] = static_cast<int>(i);
    }
  }
  Period Sum(uint64_t from, uint32_t length) const {
    std::map<int, uint64_t> seconds;
    for (uint64_t s = from; s < from + length; ++s)
      if (s >= origin && s - origin < owner.size() && owner[s - origin] >= 0)
        ++seconds[owner[s - origin]];
    Period p{0, 0, 0};
    for (const StoredRecord& r : records)
      if (r.status == 0 && r.duration == 0 && r.start >= from && r.start < from + length)
        p.pulses += r.pulses;
    for (const auto& [index, overlap] : seconds) {
      const StoredRecord& r = records[index];
      const uint64_t d = r.duration;
      p.pulses += overlap * r.pulses / d;
      p.covered += static_cast<uint32_t>(overlap);
      if (d >= 10)
        p.maxRate10 = std::max(p.maxRate10, static_cast<uint32_t>(uint64_t{r.pulses} * 10 / d));
    }
    return p;
  }
  const std::vector<StoredRecord>& records;
  uint64_t origin = 0;
  std::vector<int> owner;
};

TEST(HistoryQuery, RandomRingsMatchASecondBySecondSum) {
  std::mt19937 random(20240229);
  for (int round = 0; round < 40; ++round) {
    std::vector<StoredRecord> records;
    uint32_t t = 100000 + random() % 1000;
    const int count = 20 + static_cast<int>(random() % 200);
    for (int i = 0; i < count; ++i) {
      StoredRecord r;
      r.start = t;
      const uint32_t pick = random() % 10;
      r.duration = static_cast<uint16_t>(pick == 0  ? 0
                                         : pick < 3 ? 1 + random() % 20
                                                    : 30 + random() % 900);
      r.pulses = random() % 5000;
      r.status = random() % 12 == 0 ? 1 : 0;
      records.push_back(r);
      // A record of no duration shares its second with the next one.
      t += r.duration + (random() % 8 == 0 ? random() % 3000 : 0);
    }
    HistoryRing ring;
    test::LoadRing(ring, records, random() % 65280);
    const uint32_t length = std::array<uint32_t, 4>{10, 60, 600, 3600}[random() % 4];
    uint32_t from = records.front().start - random() % 500;
    const Timeline timeline(records);
    HistoryQuery query(ring);
    query.StartHistoryQuery(from);
    // Without a first record every period is empty; otherwise periods are walked in order.
    const uint32_t periods = (t - from) / length + 2;
    for (uint32_t i = 0; i < periods; ++i) {
      const Period expected = timeline.Sum(from, length);
      const Period got = Accumulate(query, length);
      ASSERT_EQ(got.covered, expected.covered) << "round " << round << " period " << i;
      ASSERT_EQ(got.pulses, expected.pulses) << "round " << round << " period " << i;
      ASSERT_EQ(got.maxRate10, expected.maxRate10) << "round " << round << " period " << i;
      from += length;
    }
  }
}

}  // namespace
}  // namespace dravion
