#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/history_chart_model.h"
#include "device/history_continuation.h"
#include "device/history_ring.h"
#include "services/file_replace.h"

struct sqlite3;

namespace dravion {

// The version of the archive's tables (the file's user_version). A file of a later version is
// refused, and left as it is, rather than read by a program that does not know its tables.
inline constexpr int kArchiveSchemaVersion = 1;
// The file's application_id: what tells the program's own archives from other SQLite files.
inline constexpr int32_t kArchiveApplicationId = 0x44726176;  // "Drav"
// How long an operation waits for another program that writes the archive.
inline constexpr int kArchiveBusyWaitMs = 15000;

// The most an import of another archive file reads: its size (pages of the file and its log)
// and the records it holds, all devices together. Ten years of a record a minute are some five
// million records in about 300 MB.
struct ArchiveImportLimits {
  uint64_t Bytes = uint64_t{4} << 30;  // 4 GiB
  uint64_t Records = 50'000'000;
};

// A device as the archive knows it: by serial number and chip identifier (empty for a device
// known only from imported files), with what it holds. A device whose clock was set back (its
// battery out) has a run for each time: one row each, the same serial number and identifier,
// numbered from 1 in the order they were begun.
struct ArchiveDevice {
  int64_t Id = 0;
  std::string Serial;
  std::string Uid;
  int Run = 1;              // which run of the device
  int Runs = 1;             // how many it has
  uint64_t Records = 0;     // stored records, those in conflict included
  uint64_t Conflicts = 0;   // records kept beside a differing one of the same start
  uint32_t FirstStart = 0;  // the oldest record's start (device seconds)
  uint32_t LastStart = 0;   // the newest record's start
  uint32_t LastEnd = 0;     // the latest end of a record
  uint32_t MaxDuration = 0;
  uint32_t Coefficient = 100;  // K x 100 of its newest download or import
  uint32_t Downloads = 0;      // downloads and imports merged
};

// What one device's records are, counted: the usable records (what the export writes; the
// chart takes those not in conflict), those in conflict among them, and the unusable ones kept
// (a status other than 0).
struct ArchiveCounts {
  uint64_t Records = 0;
  uint64_t Conflicts = 0;
  uint64_t Unusable = 0;
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
  // A further part of the file merged just before (a long import, merged in bounded
  // transactions): its rows of downloads are taken again and no download is counted.
  bool Continues = false;
  // A file saved by the program (records put together from several saved files may be there
  // twice): a record equal to one before it in the file, K included, is taken once and counted
  // as already there, neither as a further record nor as a clock set back.
  bool OnceEach = false;
  // Another archive's later run of the device: the run of this archive its run before went to.
  // Only a run begun after that one takes the records, else they begin a run.
  int64_t AfterRun = 0;
};

struct MergeResult {
  bool Ok = false;
  std::string Error;
  bool Busy = false;          // failed because another program held the archive's lock throughout
  uint64_t Added = 0;         // records new to the archive
  uint64_t AlreadyThere = 0;  // records it held already
  uint64_t Conflicts = 0;     // of the added: differing from a stored record of the same start
  uint64_t Compared = 0;      // stored records read to compare the batch with
  // The device's clock was set back (battery out): its time lies before the end of the newest
  // record the archive holds of it, or its records start again at times already passed. Records
  // after such a set back are kept as a new run of the device (NewRunRecords of them, from
  // NewRunStart on), never taken as already there.
  bool ClockSetBack = false;
  uint64_t NewRunRecords = 0;
  uint32_t NewRunStart = 0;
  // How far back it went, in seconds, where the records show it (0: not known).
  uint32_t SetBackBy = 0;
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

  // Opens the file, creating it (and its folder) when missing. The program's own archive found
  // damaged is renamed aside under a dated name first (MovedAside then names it), when no other
  // program has it open, and a new one is made with what could be read of it. A file of a newer
  // version, another program's file, or one that is in use is left as it is: false with Error().
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return db_ != nullptr; }
  const std::string& Path() const { return path_; }
  const std::string& Error() const { return error_; }
  // Set when a damaged file was moved aside: its new name, the records it held and those that
  // could be read and were carried over into the new archive.
  std::string MovedAside;
  uint64_t CarryTotal = 0;
  uint64_t CarriedOver = 0;
  // The same for a monitoring station's readings kept in the file.
  uint64_t StationReadingsTotal = 0;
  uint64_t StationReadingsCarried = 0;

  // Whether an operation found the file damaged (its pages unreadable). StartAgain then moves it
  // aside under a dated name (MovedAside names it), under an exclusive lock (false, with Error(),
  // while another program has it open), starts a new archive in its place and carries over every
  // record that still reads.
  bool Damaged() const { return damaged_; }
  bool StartAgain();
  // Reads every page of the file (about a second for ten years of records); false when one is
  // unreadable (then Damaged) or the file cannot be read now (busy, a read error).
  bool Check();

  // Merges every record that still reads from another archive file (one moved aside, or given
  // to archive import), device by device, in bounded transactions. False with Error() when the
  // file is not a history archive or none of it can be read; `total` and `carried` count the
  // records it says it holds and those merged (added or already there).
  bool MergeArchiveFile(const std::string& file, uint64_t& total, uint64_t& carried);
  // What that merge reads at most (a larger file is refused with the limit named).
  ArchiveImportLimits ImportLimits;
  // Why records it counted were not carried over: one line per reason, with how many (a record
  // with a value the device never writes, one whose coefficient could not be read, a device
  // whose serial number or identifier is not of a device's form). Printable text only.
  std::vector<std::string> NotCarried;

  // Merges one download or import in one transaction. The batch is cut where a record starts
  // before the one it follows (the clock was set back); each piece goes to the run of the
  // device that holds some of its records, else continues the newest run when it starts after
  // that run's newest record (and the device's time is not behind its end), else begins a run.
  MergeResult Merge(const ArchiveBatch& batch);

  // The devices; a read that failed gives what was read and sets ReadFailed and Error().
  std::vector<ArchiveDevice> Devices();
  std::optional<ArchiveDevice> Device(int64_t id);
  // The device with this serial number and identifier (its newest run), else the one of that
  // serial number known only from imported files; an empty identifier matches any device of that
  // serial number when there is exactly one.
  std::optional<ArchiveDevice> FindDevice(const std::string& serial, const std::string& uid);
  // Where a download of new records from this device continues the archive: the newest record
  // of its newest run and the ring description of its last download. Nothing when the archive
  // holds no record of it, or when the read failed (then ReadFailed and Error()).
  std::optional<ArchivedEnd> EndOf(const std::string& serial, const std::string& uid);
  // The devices of that serial number (every run, oldest first).
  std::vector<ArchiveDevice> DevicesOfSerial(const std::string& serial);
  // Counts one device's records by reading them (a second for ten years); false on a failed read.
  bool Count(int64_t device, ArchiveCounts& counts);
  // Whether the last read (Devices, Count, ForEachRecord, the chart's periods) failed.
  bool ReadFailed() const { return readFailed_; }

  // Writes the range's records as the history page's Save CSV does (ten fields, newest first,
  // rows numbered from 1, each record with the coefficient it was downloaded with) to a new file
  // that replaces `path` only when complete.
  ExportResult ExportCsv(const ArchiveRange& range, const std::string& path,
                         const FileStepHook& hook = {});
  // The records of a range, newest first (or oldest first), each with its K x 100: for tests
  // and the exports. SQLITE_DONE, or the code of the read that failed (then ReadFailed and
  // Error()).
  int ForEachRecord(const ArchiveRange& range,
                    const std::function<void(const HistoryRecord&, uint32_t)>& visit,
                    bool oldestFirst = false);

  // The chart's records of one device: usable measurements, one per start (a record in
  // conflict stays out). A read that fails shows nothing for the period and sets ReadFailed,
  // Error() and, for damage, Damaged.
  std::unique_ptr<HistoryPeriodSource> Periods(int64_t device);

  // Called during a merge after each thousand records written (tests stop the process there).
  std::function<void(uint64_t written)> MergeProgress;
  // Renames a file when a damaged archive is moved aside (RenameFile unless set; tests make it
  // fail).
  std::function<bool(const std::string& from, const std::string& to)> RenameAside;

 private:
  friend class ArchivePeriods;
  friend class ArchiveFigureReader;
  friend class ArchiveFileMerge;
  bool OpenFile(const std::string& path, bool& unusable, bool& newer);
  bool MoveAside();
  void NoteError(int rc);
  void NoteReadFailure(int rc);
  bool CreateTables();
  bool Exec(const char* sql);
  std::string SqlError() const;
  struct Incoming;
  struct Run;
  // The runs of the device (oldest first), after it took its identifier where it was known only
  // from imports; false on a failed write.
  bool RunsOf(const std::string& serial, const std::string& uid, std::string& runUid,
              std::vector<Run>& runs);
  int64_t NewRun(const std::string& serial, const std::string& uid);
  // Leaves out the records of a batch of OnceEach that repeat one before them (counted as
  // already there); false on a failed read.
  bool DropRepeats(std::vector<Incoming>& in, bool continued, MergeResult& result);
  // How many of the sampled records that run holds as they are; false on a failed read.
  bool CountHeld(int64_t device, const std::vector<Incoming>& records,
                 const std::vector<size_t>& sample, size_t& held);
  // Merges records of one run into it, under the download's rows (made when missing); false on
  // a failed read or write.
  bool MergeRun(int64_t device, std::vector<Incoming> in, const ArchiveBatch& batch, bool continued,
                std::map<uint32_t, int64_t>& downloadOf, MergeResult& result);

  sqlite3* db_ = nullptr;
  std::string path_;
  std::string error_;
  bool damaged_ = false;
  bool readFailed_ = false;
  // The rows of downloads the last merge wrote, per run and coefficient (a continued import
  // takes them).
  std::map<int64_t, std::map<uint32_t, int64_t>> lastDownloads_;
  int64_t lastRun_ = 0;                 // the run its newest records went to
  std::optional<uint32_t> lastLatest_;  // the start of its last piece's latest usable record
  std::vector<int64_t> lastNewRuns_;    // the runs it and the parts before it began
};

}  // namespace dravion
