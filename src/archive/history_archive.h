#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/history_chart_model.h"
#include "device/history_ring.h"
#include "services/file_replace.h"

struct sqlite3;

namespace dravion {

// The version of the archive's tables (the file's user_version). A file of a later version is
// moved aside at open rather than read by a program that does not know its tables.
inline constexpr int kArchiveSchemaVersion = 1;

// A device as the archive knows it: by serial number and chip identifier (empty for a device
// known only from imported files), with what it holds.
struct ArchiveDevice {
  int64_t Id = 0;
  std::string Serial;
  std::string Uid;
  uint64_t Records = 0;     // stored records, those in conflict included
  uint64_t Conflicts = 0;   // records kept beside a differing one of the same start
  uint32_t FirstStart = 0;  // the oldest record's start (device seconds)
  uint32_t LastStart = 0;   // the newest record's start
  uint32_t LastEnd = 0;     // the latest end of a record
  uint32_t MaxDuration = 0;
  uint32_t Coefficient = 100;  // K x 100 of its newest download or import
  uint32_t Downloads = 0;      // downloads and imports merged
};

// One complete download (or one imported file) to be merged. Records come in the ring's order,
// oldest first; those that are not measurements (other kinds, erased slots) are left out by
// the merge.
struct ArchiveBatch {
  std::string Serial;
  std::string Uid;
  uint32_t DeviceTime = 0;  // device seconds the device reported at the download's start
  uint32_t Coefficient = 100;
  HistoryRingDescription Ring;
  std::string File;  // an import: the file it came from
  std::vector<HistoryRecord> Records;
  // Per record, when they differ (an imported file): K x 100; empty: Coefficient for all.
  std::vector<uint16_t> Coefficients;
};

struct MergeResult {
  bool Ok = false;
  std::string Error;
  uint64_t Added = 0;         // records new to the archive
  uint64_t AlreadyThere = 0;  // records it held already
  uint64_t Conflicts = 0;     // of the added: differing from a stored record of the same start
};

// Which records an export writes: one device (0: the only one there is), starts in [From, To].
struct ArchiveRange {
  int64_t Device = 0;
  uint32_t From = 0;
  uint32_t To = 0xFFFFFFFF;
};

struct ExportResult {
  bool Ok = false;
  std::string Error;  // empty on a file error: then Failed says which step
  FileStep Failed = FileStep::Create;
  uint64_t Lines = 0;
};

// The user's archive of downloaded history: one SQLite file with every measurement record of
// every download, per device, each stored once, with per-hour and per-day sums for the chart.
// Writes are one transaction each (a process killed in the middle leaves the file as it was); the
// journal is a write-ahead log, so that the window and dravion-cli can use the file at once.
// Not thread-safe: one thread uses one instance.
class HistoryArchive {
 public:
  HistoryArchive();
  ~HistoryArchive();
  HistoryArchive(const HistoryArchive&) = delete;
  HistoryArchive& operator=(const HistoryArchive&) = delete;

  // Opens the file, creating it (and its folder) when missing. A file that is not a readable
  // archive, or one of a newer version, is renamed aside under a dated name first (MovedAside
  // then names it) and a new one is made. False with Error() when the file cannot be used.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return db_ != nullptr; }
  const std::string& Path() const { return path_; }
  const std::string& Error() const { return error_; }
  // Set by Open when a file was moved aside: its new name, and whether it was of a newer version
  // (else damaged).
  std::string MovedAside;
  bool MovedAsideNewer = false;

  // Whether an operation found the file damaged (its pages unreadable). StartAgain then moves it
  // aside under a dated name (MovedAside names it) and starts a new archive in its place.
  bool Damaged() const { return damaged_; }
  bool StartAgain();
  // Reads every page of the file (about a second for ten years of records); false, and Damaged,
  // when one is unreadable.
  bool Check();

  // Merges one download or import in one transaction.
  MergeResult Merge(const ArchiveBatch& batch);

  std::vector<ArchiveDevice> Devices();
  std::optional<ArchiveDevice> Device(int64_t id);
  // The device with this serial number and identifier; an empty identifier matches any device
  // of that serial number when there is exactly one.
  std::optional<ArchiveDevice> FindDevice(const std::string& serial, const std::string& uid);

  // Writes the range's records as the history page's Save CSV does (ten fields, newest first,
  // rows numbered from 1, each record with the coefficient it was downloaded with) to a new file
  // that replaces `path` only when complete.
  ExportResult ExportCsv(const ArchiveRange& range, const std::string& path,
                         const FileStepHook& hook = {});
  // The records of a range, newest first, each with its K x 100: for tests and the export.
  void ForEachRecord(const ArchiveRange& range,
                     const std::function<void(const HistoryRecord&, uint32_t)>& visit);

  // The chart's records of one device: usable measurements, one per start (a record in
  // conflict stays out).
  std::unique_ptr<HistoryPeriodSource> Periods(int64_t device);

  // Called during a merge after each thousand records written (tests stop the process there).
  std::function<void(uint64_t written)> MergeProgress;

 private:
  friend class ArchivePeriods;
  bool OpenFile(const std::string& path, bool& unusable, bool& newer);
  bool MoveAside(bool newer);
  void NoteError(int rc);
  bool CreateTables();
  bool Exec(const char* sql);
  std::string SqlError() const;
  int64_t DeviceFor(const std::string& serial, const std::string& uid);

  sqlite3* db_ = nullptr;
  std::string path_;
  std::string error_;
  bool damaged_ = false;
};

}  // namespace dravion
