#pragma once

#include <cstdint>
#include <string>

#include "protocol/device_records.h"
#include "services/clock.h"

namespace dravion {

// Operations on the device's 7-byte time record: second, minute, hour, day, month, year - 2000
// (the "year byte") and a seventh byte the manager does not use. All bytes 0xFF stand for "no
// time". Device seconds count from 1 January 2000 00:00:00; every fourth year from 2000 is a leap
// year, which is right for 2000 to 2099.

// "dd.mm.20yy"; a field out of range shows dashes ("--." for day or month, "----" for year 255).
std::string FormatDeviceDate(const TimeRecord& record);
// "hh:mm:ss"; a field out of range shows "--".
std::string FormatDeviceClock(const TimeRecord& record);
// "[dd.mm.20yy]-[hh:mm:ss]".
std::string FormatDeviceTime(const TimeRecord& record);
// A record with every byte 0xFF (what a failed read shows).
TimeRecord NoTimeRecord();
// Whether the record holds a real date and time of 2000 to 2099: second and minute 0 to 59,
// hour 0 to 23, month 1 to 12, day 1 to the month's last, year byte 0 to 99.
bool DeviceTimeValid(const TimeRecord& record);

// Bytes 0 to 5 from the local date and time (milliseconds dropped, year byte (year + 48) mod
// 256); the seventh byte is 0.
TimeRecord TimeRecordFromClock(const LocalDateTime& now);

// 28 to 31; 0 for a month outside 1 to 12.
int DaysInMonth(int month, int yearByte);
// Days from 1 January 2000 = 1. A day above 31 counts as 0 and a month outside 1 to 12 as
// January.
uint32_t DayNumber(int yearByte, int month, int day);
uint32_t SecondsFromTimeRecord(const TimeRecord& record);
// The seventh byte of the result is 0.
TimeRecord TimeRecordFromSeconds(uint32_t seconds);

// Calendar stepping in place, carrying into the next larger field. Years stay within year bytes
// 1 to 59 once inside them; a day past the end of a month is cut to its last day.
void MinuteForward(TimeRecord& record);
void HourForward(TimeRecord& record);
void DayForward(TimeRecord& record);
void MonthForward(TimeRecord& record);
void YearForward(TimeRecord& record);
void MinuteBack(TimeRecord& record);
void HourBack(TimeRecord& record);
void DayBack(TimeRecord& record);
void MonthBack(TimeRecord& record);
void YearBack(TimeRecord& record);

}  // namespace dravion
