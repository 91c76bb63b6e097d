#pragma once

#include <cstdint>
#include <string>
#include <utility>
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

  // Keeps one reading and, in the same transaction, queues it for each output named in
  // `queueFor`; false with Error() set (nothing is kept).
  bool Add(const StationReading& reading, const std::vector<std::string>& queueFor = {});
  // The oldest `count` readings queued for `output`, in the order they were taken, each with its
  // row's id.
  std::vector<std::pair<int64_t, StationReading>> Queued(const std::string& output, size_t count);
  // Takes a delivered reading off `output`'s queue; false with Error() set.
  bool Dequeue(const std::string& output, int64_t id);
  uint64_t QueuedCount(const std::string& output);
  // The newest `count` readings of the device with serial number `serial` (any device when
  // empty), newest first.
  std::vector<StationReading> Latest(const std::string& serial, size_t count);
  // How many readings the archive holds.
  uint64_t Count();

 private:
  bool Fail(const char* what);
  bool Exec(const char* sql);

  sqlite3* db_ = nullptr;
  std::string error_;
};

}  // namespace dravion
