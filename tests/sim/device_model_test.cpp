#include "sim/device_model.h"

#include <gtest/gtest.h>

namespace dravion::sim {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(DeviceTime, SecondsAndRecordsConvertBothWays) {
  const uint8_t leapNoon[7] = {0, 0, 12, 29, 2, 4, 0};
  EXPECT_EQ(SecondsFromTime(leapNoon), 131371200u);
  const auto newYear = TimeFromSeconds(86400u * 366);
  EXPECT_EQ(Bytes(newYear.begin(), newYear.begin() + 6), (Bytes{0, 0, 0, 1, 1, 1}));
  EXPECT_EQ(TimeFromSeconds(0)[6], 6);  // 1 January 2000 was a Saturday
  for (uint32_t s : {0u, 59u, 86399u, 131371200u, 951868799u, 3155759999u}) {
    const auto record = TimeFromSeconds(s);
    EXPECT_TRUE(TimeRecordValid(record.data())) << s;
    EXPECT_EQ(SecondsFromTime(record.data()), s);
  }
  const uint8_t february30[7] = {0, 0, 0, 30, 2, 24, 0};
  const uint8_t hour24[7] = {0, 0, 24, 1, 1, 24, 0};
  EXPECT_FALSE(TimeRecordValid(february30));
  EXPECT_FALSE(TimeRecordValid(hour24));
}

TEST(DeviceModel, WriteTimeRefusesImpossibleDatesAndParametersKeepTheirRange) {
  DeviceConfig config;
  config.historySize = 0;
  DeviceModel model(config);
  Counters counters;
  const uint8_t bad[7] = {0, 0, 0, 31, 4, 24, 1};
  const uint32_t before = model.Seconds();
  EXPECT_TRUE(model.Handle(1, 0x0B, bad, 7, counters).answer);
  EXPECT_LE(model.Seconds() - before, 1u);

  const uint8_t language[6] = {6, 0, 4, 0, 0, 0};  // language 4 does not exist
  const Outcome kept = model.Handle(1, 0x0F, language, 6, counters);
  ASSERT_EQ(kept.data.size(), 6u);
  EXPECT_EQ(kept.data[2], 0);
  // Pointers are read-only; a short request is not answered.
  const uint8_t pointer[6] = {0x01, 0xC0, 1, 2, 3, 4};
  EXPECT_EQ(model.Handle(1, 0x0F, pointer, 6, counters).data[2], map::kRateAddress & 0xFF);
  EXPECT_FALSE(model.Handle(1, 0x0F, pointer, 5, counters).answer);
  EXPECT_FALSE(model.Handle(1, 0x02, pointer, 4, counters).answer);
}

TEST(ProgramFlash, RewriteIsCompleteOnlyWhenEveryPageWasErasedAndWrittenWhole) {
  ProgramFlash flash(0x1000, 0x400, 128);
  flash.Track(0x1100, 0x200);            // pages 2-5
  EXPECT_TRUE(flash.RewriteComplete());  // untouched factory content
  const Bytes chunk(128, 0x11);
  for (uint32_t page = 0x1100; page < 0x1300; page += 128) {
    flash.ErasePage(page);
    EXPECT_FALSE(flash.RewriteComplete());
    flash.Program(page, chunk.data(), page == 0x1280 ? 127 : 128);
  }
  EXPECT_FALSE(flash.RewriteComplete());  // one byte of the last page never written
  EXPECT_FALSE(flash.Program(0x12FF, chunk.data(), 1));
  EXPECT_TRUE(flash.RewriteComplete());
  // Outside the flash nothing is written and nothing counts.
  EXPECT_FALSE(flash.Contains(0x13FF, 2));
  EXPECT_FALSE(flash.Program(0x13FF, chunk.data(), 2));
}

}  // namespace
}  // namespace dravion::sim
