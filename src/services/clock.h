#pragma once

#include <cstdint>
#include <string>

namespace dravion {

// Local calendar time as the user's machine sees it.
struct LocalDateTime {
  int year = 2000;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  // Local time minus UTC, in minutes (+180 in Moscow, -300 in New York in winter).
  int utcOffsetMinutes = 0;
};

// Time source of the manager: a wrapping millisecond tick for time-outs and spacing, and the
// local date and time for log headers and the device clock.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint32_t TickMs() = 0;
  virtual LocalDateTime Now() = 0;
  // The date and time as the log header shows them (short date, long time).
  virtual std::string DateTimeText();
};

// "dd.MM.yyyy HH:mm:ss", the form used where the platform offers no locale format.
std::string FormatDateTime(const LocalDateTime& t);
// ISO 8601 with the offset from UTC: "2026-12-07T10:30:15+03:00".
std::string FormatIsoDateTime(const LocalDateTime& t);

// Days from 1 January 1970 of a date of the proleptic Gregorian calendar (negative before).
int64_t DaysFromCivil(int year, int month, int day);
// Seconds since 1970-01-01 UTC of a local time with its offset.
int64_t UniversalSeconds(const LocalDateTime& t);
// The local time `seconds` later (earlier when negative), with the same offset.
LocalDateTime ShiftedBy(const LocalDateTime& t, int64_t seconds);
// Seconds of `b` minus seconds of `a`, each taken as a local time with its own offset.
int64_t SecondsBetween(const LocalDateTime& a, const LocalDateTime& b);

// Milliseconds elapsed between two ticks, immune to the tick's wrap-around.
inline uint32_t TicksSince(uint32_t start, uint32_t now) {
  return now - start;
}

// The real clock: a monotonic tick and the system's local time.
class SystemClock : public Clock {
 public:
  uint32_t TickMs() override;
  LocalDateTime Now() override;
};

}  // namespace dravion
