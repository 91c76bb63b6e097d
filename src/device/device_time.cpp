#include "device/device_time.h"

#include <algorithm>
#include <cstdio>

namespace dravion {

namespace {

constexpr uint8_t kYearFirst = 1;  // stepping keeps the year within 2001...
constexpr uint8_t kYearLast = 59;  // ...and 2059

constexpr int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool LeapYear(int yearByte) {
  return yearByte % 4 == 0;
}

// Days of the months before `month` (1 to 12) in the year.
int DaysBeforeMonth(int month, bool leap) {
  int days = 0;
  for (int m = 1; m < month; ++m)
    days += kMonthDays[m - 1] + (m == 2 && leap ? 1 : 0);
  return days;
}

std::string TwoDigits(unsigned value, const char* after) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u%s", value, after);
  return text;
}

uint8_t& Second(TimeRecord& r) {
  return r.Bytes[0];
}
uint8_t& Minute(TimeRecord& r) {
  return r.Bytes[1];
}
uint8_t& Hour(TimeRecord& r) {
  return r.Bytes[2];
}
uint8_t& Day(TimeRecord& r) {
  return r.Bytes[3];
}
uint8_t& Month(TimeRecord& r) {
  return r.Bytes[4];
}
uint8_t& Year(TimeRecord& r) {
  return r.Bytes[5];
}

void CutDay(TimeRecord& r) {
  const int last = DaysInMonth(Month(r), Year(r));
  if (Day(r) > last) Day(r) = static_cast<uint8_t>(last);
}

}  // namespace

bool DeviceTimeValid(const TimeRecord& record) {
  const uint8_t* r = record.Bytes.data();
  return r[0] < 60 && r[1] < 60 && r[2] < 24 && r[4] >= 1 && r[4] <= 12 && r[5] <= 99 &&
         r[3] >= 1 && r[3] <= DaysInMonth(r[4], r[5]);
}

std::string FormatDeviceDate(const TimeRecord& record) {
  const uint8_t day = record.Bytes[3];
  const uint8_t month = record.Bytes[4];
  const uint8_t year = record.Bytes[5];
  std::string text = day >= 1 && day <= 31 ? TwoDigits(day, ".") : "--.";
  text += month >= 1 && month <= 12 ? TwoDigits(month, ".") : "--.";
  text += year == 255 ? std::string("----") : "20" + TwoDigits(year, "");
  return text;
}

std::string FormatDeviceClock(const TimeRecord& record) {
  const uint8_t second = record.Bytes[0];
  const uint8_t minute = record.Bytes[1];
  const uint8_t hour = record.Bytes[2];
  std::string text = hour < 24 ? TwoDigits(hour, ":") : "--:";
  text += minute < 60 ? TwoDigits(minute, ":") : "--:";
  text += second < 60 ? TwoDigits(second, "") : "--";
  return text;
}

std::string FormatDeviceTime(const TimeRecord& record) {
  return "[" + FormatDeviceDate(record) + "]-[" + FormatDeviceClock(record) + "]";
}

TimeRecord NoTimeRecord() {
  TimeRecord record;
  record.Bytes.fill(0xFF);
  return record;
}

TimeRecord TimeRecordFromClock(const LocalDateTime& now) {
  TimeRecord record;  // the seventh byte stays 0: the device never gets stale memory
  Second(record) = static_cast<uint8_t>(now.second);
  Minute(record) = static_cast<uint8_t>(now.minute);
  Hour(record) = static_cast<uint8_t>(now.hour);
  Day(record) = static_cast<uint8_t>(now.day);
  Month(record) = static_cast<uint8_t>(now.month);
  Year(record) = static_cast<uint8_t>((now.year + 48) % 256);
  return record;
}

int DaysInMonth(int month, int yearByte) {
  if (month < 1 || month > 12) return 0;
  return kMonthDays[month - 1] + (month == 2 && LeapYear(yearByte) ? 1 : 0);
}

uint32_t DayNumber(int yearByte, int month, int day) {
  uint32_t days = day > 31 ? 0 : static_cast<uint32_t>(std::max(day, 0));
  if (month < 1 || month > 12) month = 1;
  days += static_cast<uint32_t>(DaysBeforeMonth(month, LeapYear(yearByte)));
  if (yearByte > 0) days += 365u * yearByte + (yearByte + 3u) / 4u;
  return days;
}

uint32_t SecondsFromTimeRecord(const TimeRecord& record) {
  const uint32_t day = DayNumber(record.Bytes[5], record.Bytes[4], record.Bytes[3]);
  return (day == 0 ? 0 : day - 1) * 86400u + record.Bytes[2] * 3600u + record.Bytes[1] * 60u +
         record.Bytes[0];
}

TimeRecord TimeRecordFromSeconds(uint32_t seconds) {
  TimeRecord record;
  Second(record) = static_cast<uint8_t>(seconds % 60);
  Minute(record) = static_cast<uint8_t>(seconds / 60 % 60);
  Hour(record) = static_cast<uint8_t>(seconds / 3600 % 24);
  const uint16_t days = static_cast<uint16_t>(seconds / 86400);
  const int r = days % 1461;
  const int yearInCycle = (std::max(r, 1) - 1) / 365;
  Year(record) = static_cast<uint8_t>(4 * (days / 1461) + yearInCycle);
  int dayOfYear = r;
  if (r > 1095) {
    dayOfYear = r - 1096;
  } else if (r > 730) {
    dayOfYear = r - 731;
  } else if (r > 365) {
    dayOfYear = r - 366;
  }
  const bool leap = yearInCycle == 0;
  int month = 12;
  while (month > 1 && DaysBeforeMonth(month, leap) > dayOfYear)
    --month;
  Month(record) = static_cast<uint8_t>(month);
  Day(record) = static_cast<uint8_t>(dayOfYear - DaysBeforeMonth(month, leap) + 1);
  return record;
}

void MinuteForward(TimeRecord& record) {
  if (++Minute(record) >= 60) {
    Minute(record) = 0;
    HourForward(record);
  }
}

void HourForward(TimeRecord& record) {
  if (++Hour(record) > 23) {
    Hour(record) = 0;
    DayForward(record);
  }
}

void DayForward(TimeRecord& record) {
  if (++Day(record) > DaysInMonth(Month(record), Year(record))) {
    Day(record) = 1;
    MonthForward(record);
  }
}

void MonthForward(TimeRecord& record) {
  if (++Month(record) > 12) {
    Month(record) = 1;
    YearForward(record);
  } else {
    CutDay(record);
  }
}

void YearForward(TimeRecord& record) {
  if (Year(record) < kYearLast) ++Year(record);
  CutDay(record);
}

void MinuteBack(TimeRecord& record) {
  if (--Minute(record) > 58) {
    Minute(record) = 59;
    HourBack(record);
  }
}

void HourBack(TimeRecord& record) {
  if (--Hour(record) > 22) {
    Hour(record) = 23;
    DayBack(record);
  }
}

void DayBack(TimeRecord& record) {
  if (--Day(record) == 0) {
    MonthBack(record);
    Day(record) = static_cast<uint8_t>(DaysInMonth(Month(record), Year(record)));
  }
}

void MonthBack(TimeRecord& record) {
  if (--Month(record) == 0) {
    Month(record) = 12;
    YearBack(record);
  } else {
    CutDay(record);
  }
}

void YearBack(TimeRecord& record) {
  if (Year(record) > kYearFirst) --Year(record);
  CutDay(record);
}

}  // namespace dravion
