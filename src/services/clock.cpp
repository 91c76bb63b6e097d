#include "services/clock.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace dravion {

std::string Clock::DateTimeText() {
  return FormatDateTime(Now());
}

std::string FormatDateTime(const LocalDateTime& t) {
  char text[40];
  std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d", t.day, t.month, t.year, t.hour,
                t.minute, t.second);
  return text;
}

std::string FormatIsoDateTime(const LocalDateTime& t) {
  const int offset = t.utcOffsetMinutes < 0 ? -t.utcOffsetMinutes : t.utcOffsetMinutes;
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.year, t.month,
                t.day, t.hour, t.minute, t.second, t.utcOffsetMinutes < 0 ? '-' : '+', offset / 60,
                offset % 60);
  return text;
}

uint32_t SystemClock::TickMs() {
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

LocalDateTime SystemClock::Now() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  std::tm parts{};
#ifdef _WIN32
  localtime_s(&parts, &seconds);
  // The local fields read as UTC give the offset, daylight saving included.
  std::tm local = parts;
  const long long offsetSeconds = static_cast<long long>(_mkgmtime(&local)) - seconds;
#else
  localtime_r(&seconds, &parts);
  const long long offsetSeconds = parts.tm_gmtoff;
#endif
  LocalDateTime t;
  t.year = parts.tm_year + 1900;
  t.month = parts.tm_mon + 1;
  t.day = parts.tm_mday;
  t.hour = parts.tm_hour;
  t.minute = parts.tm_min;
  t.second = parts.tm_sec;
  t.millisecond =
      static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  t.utcOffsetMinutes = static_cast<int>(offsetSeconds / 60);
  return t;
}

}  // namespace dravion
