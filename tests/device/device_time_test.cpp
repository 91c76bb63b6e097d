#include "device/device_time.h"

#include <gtest/gtest.h>

#include <chrono>

namespace dravion {
namespace {

TimeRecord Record(int day, int month, int yearByte, int hour = 0, int minute = 0, int second = 0) {
  TimeRecord r;
  r.Bytes = {static_cast<uint8_t>(second),
             static_cast<uint8_t>(minute),
             static_cast<uint8_t>(hour),
             static_cast<uint8_t>(day),
             static_cast<uint8_t>(month),
             static_cast<uint8_t>(yearByte),
             0};
  return r;
}

TEST(DeviceTime, TextShowsFieldsOrDashes) {
  EXPECT_EQ(FormatDeviceTime(Record(5, 3, 22, 14, 7, 9)), "[05.03.2022]-[14:07:09]");
  EXPECT_EQ(FormatDeviceTime(NoTimeRecord()), "[--.--.----]-[--:--:--]");
  EXPECT_EQ(FormatDeviceDate(Record(0, 12, 1)), "--.12.2001");
  EXPECT_EQ(FormatDeviceDate(Record(31, 13, 255)), "31.--.----");
  EXPECT_EQ(FormatDeviceDate(Record(1, 1, 100)), "01.01.20100");
  EXPECT_EQ(FormatDeviceClock(Record(1, 1, 0, 24, 60, 60)), "--:--:--");
  EXPECT_EQ(FormatDeviceClock(Record(1, 1, 0, 23, 59, 59)), "23:59:59");
}

TEST(DeviceTime, RecordFromClockDropsMillisecondsAndZeroesTheSeventhByte) {
  const TimeRecord r = TimeRecordFromClock({2026, 12, 7, 10, 30, 15, 999});
  EXPECT_EQ(r.Bytes, (std::array<uint8_t, 7>{15, 30, 10, 7, 12, 26, 0}));
  EXPECT_EQ(TimeRecordFromClock({2000, 1, 1, 0, 0, 0, 0}).Bytes[5], 0);
  EXPECT_EQ(TimeRecordFromClock({2255, 1, 1, 0, 0, 0, 0}).Bytes[5], 255);
  EXPECT_EQ(TimeRecordFromClock({2256, 1, 1, 0, 0, 0, 0}).Bytes[5], 0);
}

TEST(DeviceTime, WorkedValues) {
  EXPECT_EQ(TimeRecordFromSeconds(0), Record(1, 1, 0));
  EXPECT_EQ(TimeRecordFromSeconds(86400u * 366), Record(1, 1, 1));
  EXPECT_EQ(SecondsFromTimeRecord(Record(29, 2, 4, 12)), 131371200u);
  EXPECT_EQ(TimeRecordFromSeconds(131371200u), Record(29, 2, 4, 12));
  EXPECT_EQ(DaysInMonth(2, 4), 29);
  EXPECT_EQ(DaysInMonth(2, 5), 28);
  EXPECT_EQ(DaysInMonth(0, 4), 0);
  EXPECT_EQ(DaysInMonth(13, 4), 0);
  EXPECT_EQ(DayNumber(0, 1, 1), 1u);
  EXPECT_EQ(DayNumber(0, 13, 32), 0u);  // a day above 31 counts 0, a bad month as January
  EXPECT_EQ(SecondsFromTimeRecord(Record(0, 1, 0, 1)), 3600u);
  // The device counts 2100 as a leap year, so the end of the count falls a day before the
  // calendar's 07.02.2136.
  EXPECT_EQ(TimeRecordFromSeconds(0xFFFFFFFFu), Record(6, 2, 136, 6, 28, 15));
}

// Every day from 2000 to 2099 at a few times of day, against the standard library's calendar.
TEST(DeviceTime, SecondsRoundTripAgreesWithAnIndependentCalendar) {
  using namespace std::chrono;
  const sys_days epoch = year{2000} / January / 1;
  for (sys_days d = epoch; d < sys_days{year{2100} / January / 1}; d += days{1}) {
    const year_month_day ymd{d};
    const uint32_t dayCount = static_cast<uint32_t>((d - epoch).count());
    for (uint32_t time : {0u, 1u, 43199u, 86399u}) {
      const uint32_t s = dayCount * 86400u + time;
      const TimeRecord r = TimeRecordFromSeconds(s);
      const TimeRecord expected =
          Record(static_cast<unsigned>(ymd.day()), static_cast<unsigned>(ymd.month()),
                 static_cast<int>(ymd.year()) - 2000, time / 3600, time / 60 % 60, time % 60);
      ASSERT_EQ(r, expected) << s;
      ASSERT_EQ(SecondsFromTimeRecord(r), s);
    }
  }
}

TEST(DeviceTime, SteppingCarriesAcrossMonthAndLeapYearEnds) {
  TimeRecord r = Record(31, 12, 3, 23, 59, 30);
  MinuteForward(r);
  EXPECT_EQ(r, Record(1, 1, 4, 0, 0, 30));
  MinuteBack(r);
  EXPECT_EQ(r, Record(31, 12, 3, 23, 59, 30));

  r = Record(1, 3, 4);
  DayBack(r);
  EXPECT_EQ(r, Record(29, 2, 4));
  DayForward(r);
  EXPECT_EQ(r, Record(1, 3, 4));
  r = Record(1, 3, 5);
  DayBack(r);
  EXPECT_EQ(r, Record(28, 2, 5));

  r = Record(31, 1, 8);
  MonthForward(r);
  EXPECT_EQ(r, Record(29, 2, 8));
  r = Record(31, 1, 9);
  MonthForward(r);
  EXPECT_EQ(r, Record(28, 2, 9));
  r = Record(31, 3, 9);
  MonthBack(r);
  EXPECT_EQ(r, Record(28, 2, 9));
  r = Record(15, 1, 9);
  MonthBack(r);
  EXPECT_EQ(r, Record(15, 12, 8));

  r = Record(29, 2, 4);
  YearForward(r);
  EXPECT_EQ(r, Record(28, 2, 5));
  r = Record(29, 2, 8);
  YearBack(r);
  EXPECT_EQ(r, Record(28, 2, 7));

  r = Record(1, 1, 9, 0, 0);
  HourBack(r);
  EXPECT_EQ(r, Record(31, 12, 8, 23, 0));
  HourForward(r);
  EXPECT_EQ(r, Record(1, 1, 9, 0, 0));
}

TEST(DeviceTime, SteppingStaysWithin2001And2059) {
  TimeRecord r = Record(15, 6, 1);
  YearBack(r);
  EXPECT_EQ(r, Record(15, 6, 1));
  r = Record(1, 1, 1, 0, 0);
  MinuteBack(r);  // would be 31.12.2000: the year stays
  EXPECT_EQ(r, Record(31, 12, 1, 23, 59));
  r = Record(15, 6, 59);
  YearForward(r);
  EXPECT_EQ(r, Record(15, 6, 59));
  r = Record(31, 12, 59, 23, 59);
  MinuteForward(r);
  EXPECT_EQ(r, Record(1, 1, 59, 0, 0));
}

}  // namespace
}  // namespace dravion
