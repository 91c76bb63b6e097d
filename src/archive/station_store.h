#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "monitor/station_reading.h"

struct sqlite3;

namespace dravion {

// The readings of a monitoring station, kept in the history archive's file beside the history
// records: one row each, written in a transaction of its own, so that a reading taken is never
// lost to a kill of the program or another program holding the archive for a while (SQLite
// waits for it).
class StationStore {
 public:
  StationStore() = default;
  ~StationStore();
  StationStore(const StationStore&) = delete;
  StationStore& operator=(const StationStore&) = delete;

  // Opens (or creates) the archive at `path` as the history archive does, checked the same way,
  // and its table of readings. False with Error() set.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return db_ != nullptr; }
  const std::string& Error() const { return error_; }

  // Keeps one reading; false with Error() set (the reading is not kept).
  bool Add(const StationReading& reading);
  // The newest `count` readings of the device with serial number `serial` (any device when
  // empty), newest first.
  std::vector<StationReading> Latest(const std::string& serial, size_t count);
  // How many readings the archive holds.
  uint64_t Count();

 private:
  bool Fail(const char* what);

  sqlite3* db_ = nullptr;
  std::string error_;
};

}  // namespace dravion
