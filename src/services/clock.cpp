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

int64_t DaysFromCivil(int year, int month, int day) {
  // Howard Hinnant's days_from_civil: March-based years make the leap day the last of the year.
  const int64_t y = static_cast<int64_t>(year) - (month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yearOfEra = y - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

int64_t UniversalSeconds(const LocalDateTime& t) {
  return DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second -
         static_cast<int64_t>(t.utcOffsetMinutes) * 60;
}

LocalDateTime ShiftedBy(const LocalDateTime& t, int64_t seconds) {
  const int64_t total = DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 +
                        t.minute * 60 + t.second + seconds;
  const int64_t days = total >= 0 ? total / 86400 : (total - 86399) / 86400;
  const int64_t rest = total - days * 86400;
  // civil_from_days, the inverse of DaysFromCivil.
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t dayOfEra = z - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t mp = (5 * dayOfYear + 2) / 153;
  LocalDateTime shifted = t;
  shifted.day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  shifted.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  shifted.year = static_cast<int>(yearOfEra + era * 400 + (shifted.month <= 2 ? 1 : 0));
  shifted.hour = static_cast<int>(rest / 3600);
  shifted.minute = static_cast<int>(rest / 60 % 60);
  shifted.second = static_cast<int>(rest % 60);
  return shifted;
}

int64_t SecondsBetween(const LocalDateTime& a, const LocalDateTime& b) {
  return UniversalSeconds(b) - UniversalSeconds(a);
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
