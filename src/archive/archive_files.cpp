#include "archive/archive_files.h"

#include <cstdio>

#include "services/clock.h"

namespace dravion {

namespace {

// The computer's local time now, as `format` lays out year, month, day, hour, minute, second.
std::string LocalTime(const char* format) {
  SystemClock clock;
  const LocalDateTime t = clock.Now();
  char text[32];
  std::snprintf(text, sizeof text, format, t.year, t.month, t.day, t.hour, t.minute, t.second);
  return text;
}

}  // namespace

std::string LocalStampForFileName() {
  return LocalTime("%04d-%02d-%02d-%02d%02d%02d");
}

std::string LocalTimeText() {
  return LocalTime("%04d-%02d-%02d %02d:%02d:%02d");
}

}  // namespace dravion
