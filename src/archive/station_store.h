#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "monitor/station_output.h"
#include "monitor/station_reading.h"

struct sqlite3;

namespace dravion {

// How one output of a running station fares: its counts and the last thing it said.
struct StationOutputState {
  std::string name;
  OutputCounts counts;
  std::string note;
};

// A running monitoring station as it tells the archive every few seconds, so that the window
// knows the device's port is held and by whom, and shows what the station does.
struct StationStatus {
  int64_t pid = 0;        // the station's process
  int64_t started = 0;    // UTC seconds
  int64_t heartbeat = 0;  // UTC seconds of its last word
  int interval = 0;       // seconds between readings
  int port = 0;           // the port it holds (0: none now)
  std::string serial;     // of the device it reads (empty before the first)
  std::string state;      // "starting", "reading", "away", "bootloader", "oldprogram"
  std::string station;    // which station: the key its queue is kept under
  std::vector<StationOutputState> outputs;
};

// A station is taken as gone when it has said nothing for this long (it speaks every few
// seconds; one killed cannot take its word back).
inline constexpr int64_t kStationSilenceSeconds = 30;

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
  // and its table of readings, for the station `station` (the key its outputs' queues are kept
  // under; see MonitorConfig::station). Queue entries of an earlier version, which name no
  // station, are taken over by it. False with Error() set.
  bool Open(const std::string& path, const std::string& station = {});
  // Opens an existing archive only to look at its stations and readings: read-only, without the
  // archive's checks, and waiting at most `waitMs` for a writer. Tables not there yet read as
  // empty. False when the file is not there or cannot be opened.
  bool OpenToLook(const std::string& path, int waitMs);
  void Close();
  bool IsOpen() const { return db_ != nullptr; }
  const std::string& Error() const { return error_; }

  // Keeps one reading and, in the same transaction, queues it for each output named in
  // `queueFor`, dropping the oldest entries of a queue that goes over its cap; false with Error()
  // set (nothing is kept). LastId() is then its row, Dropped() the entries dropped per output.
  bool Add(const StationReading& reading, const std::vector<std::string>& queueFor = {});
  int64_t LastId() const { return lastId_; }
  const std::vector<std::pair<std::string, uint64_t>>& Dropped() const { return dropped_; }
  // The most readings a queue of this station holds.
  void SetQueueMax(int64_t most) { queueMax_ = most; }
  // The oldest `count` readings this station queued for `output`, in the order they were taken,
  // each with its row's id.
  std::vector<std::pair<int64_t, StationReading>> Queued(const std::string& output, size_t count);
  // Takes a reading off `output`'s queue and, when `delivered`, notes in the same transaction
  // that it went there; false with Error() set.
  bool Dequeue(const std::string& output, int64_t id, bool delivered);
  // Notes that reading `id` went to `output` (one that takes only the current value).
  bool MarkSent(const std::string& output, int64_t id);
  // The outputs reading `id` went to, by name, in name order.
  std::vector<std::string> SentTo(int64_t id);
  // How many readings wait for `output` of this station (of `station`), read without counting.
  uint64_t QueuedCount(const std::string& output);
  uint64_t QueuedCount(const std::string& station, const std::string& output);
  // The end of the newest reading kept by any station (UTC seconds), 0 without one.
  int64_t NewestTime();
  // Removes at most `most` of the readings that ended before `before` (UTC seconds), with
  // their queue entries and deliveries, in one transaction; `removed` says how many.
  bool Prune(int64_t before, size_t most, uint64_t& removed);
  // The newest `count` readings of the device with serial number `serial` (any device when
  // empty), newest first.
  std::vector<StationReading> Latest(const std::string& serial, size_t count);
  // How many readings the archive holds.
  uint64_t Count();
  // The mean dose rate in µSv/h of the readings of device `serial` in each of `periods` (start
  // and length in seconds from 2000-01-01 on the computer's local clock, as the history chart's
  // bars), weighted by their seconds and placed by the local time at which each was kept; NaN
  // for a period without one.
  std::vector<double> MeanRates(const std::string& serial,
                                const std::vector<std::pair<uint32_t, uint32_t>>& periods);

  // A running station says how it is (again every few seconds, with the time in `heartbeat`),
  // and withdraws when it stops; false with Error() set.
  bool Announce(const StationStatus& status);
  bool Withdraw(int64_t pid, int64_t started);
  // The stations that spoke within kStationSilenceSeconds of `now` (UTC seconds), with their
  // outputs.
  std::vector<StationStatus> LiveStations(int64_t now);

 private:
  bool Fail(const char* what);
  bool Exec(const char* sql);

  sqlite3* db_ = nullptr;
  std::string error_;
  std::string station_;
  int64_t queueMax_ = INT64_MAX;
  int64_t lastId_ = 0;
  std::vector<std::pair<std::string, uint64_t>> dropped_;
};

// Copies the monitoring station's readings that still read in the archive file `from` (one moved
// aside as damaged) into the open archive `to`, with the outputs' queue and where each went, in
// one transaction: `total` readings were there, `carried` are now in `to`. False with `error`
// when some could not be read or written (those carried stay).
bool CarryStationReadings(sqlite3* to, const std::string& from, uint64_t& total, uint64_t& carried,
                          std::string& error);

}  // namespace dravion
