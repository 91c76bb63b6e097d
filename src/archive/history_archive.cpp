#include "archive/history_archive.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <tuple>
#include <unordered_map>

#include "archive/archive_connection.h"
#include "archive/archive_files.h"
#include "archive/day_figures_cache.h"
#include "archive/sqlite_statement.h"
#include "archive/station_store.h"
#include "device/history_csv.h"

namespace dravion {

namespace {

constexpr uint32_t kHour = 3600;
constexpr uint32_t kDay = 86400;
// The size of a merge after which the log is copied into the file.
constexpr uint64_t kLargeMerge = 20000;
// Spans: records that run across an hour's end (level 1) or a day's end (level 2).
constexpr int kSpansHour = 1;
constexpr int kSpansDay = 2;

const char* const kTables[] = {
    "CREATE TABLE devices(id INTEGER PRIMARY KEY, serial TEXT NOT NULL, uid TEXT NOT NULL,"
    " records INTEGER NOT NULL DEFAULT 0, conflicts INTEGER NOT NULL DEFAULT 0,"
    " first_start INTEGER, last_start INTEGER, last_end INTEGER,"
    " max_duration INTEGER NOT NULL DEFAULT 0, coefficient INTEGER NOT NULL DEFAULT 100,"
    " downloads INTEGER NOT NULL DEFAULT 0)",
    // One row per download, or per coefficient of an imported file.
    "CREATE TABLE downloads(id INTEGER PRIMARY KEY, device INTEGER NOT NULL, merged TEXT NOT NULL,"
    " device_time INTEGER NOT NULL, coefficient INTEGER NOT NULL, sector_size INTEGER,"
    " low_half INTEGER, sector_count INTEGER, record_count INTEGER, first_record INTEGER,"
    " last_record INTEGER, flag INTEGER, file TEXT, added INTEGER NOT NULL DEFAULT 0,"
    " already INTEGER NOT NULL DEFAULT 0, conflicts INTEGER NOT NULL DEFAULT 0)",
    // seq tells records of the same start apart; conflict marks one kept beside a differing
    // record of the same start.
    "CREATE TABLE records(device INTEGER NOT NULL, start INTEGER NOT NULL, seq INTEGER NOT NULL,"
    " duration INTEGER NOT NULL, pulses INTEGER NOT NULL, kind INTEGER NOT NULL,"
    " status INTEGER NOT NULL, download INTEGER NOT NULL, conflict INTEGER NOT NULL,"
    " PRIMARY KEY(device, start, seq)) WITHOUT ROWID",
    // Sums of the chart's records that lie wholly inside one hour or one day: pulses x K,
    // covered seconds, the highest Pulses x 10 / Duration x K.
    "CREATE TABLE hour_sums(device INTEGER NOT NULL, start INTEGER NOT NULL,"
    " pulses_k INTEGER NOT NULL, covered INTEGER NOT NULL, max_k INTEGER NOT NULL,"
    " PRIMARY KEY(device, start)) WITHOUT ROWID",
    "CREATE TABLE day_sums(device INTEGER NOT NULL, start INTEGER NOT NULL,"
    " pulses_k INTEGER NOT NULL, covered INTEGER NOT NULL, max_k INTEGER NOT NULL,"
    " PRIMARY KEY(device, start)) WITHOUT ROWID",
    "CREATE TABLE spans(device INTEGER NOT NULL, level INTEGER NOT NULL, start INTEGER NOT NULL,"
    " seq INTEGER NOT NULL, duration INTEGER NOT NULL, pulses INTEGER NOT NULL,"
    " coefficient INTEGER NOT NULL, PRIMARY KEY(device, level, start, seq)) WITHOUT ROWID",
};

bool Unusable(int rc) {
  const int primary = rc & 0xFF;
  return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

struct Sum {
  int64_t PulsesK = 0;
  int64_t Covered = 0;
  int64_t MaxK = 0;
  void Add(const HistoryRecord& r, uint32_t k) {
    PulsesK += static_cast<int64_t>(r.Pulses) * k;
    Covered += r.Duration;
    if (r.Duration >= 10)
      MaxK =
          std::max<int64_t>(MaxK, static_cast<int64_t>(uint64_t{r.Pulses} * 10 / r.Duration) * k);
  }
};

// The share of a record in the period [from, to] (device seconds, `to` included): in
// proportion to the time it covers there, in units of pulses x K (a hundredth of a pulse), so
// that the bars agree with the figures of their periods; a record of no duration is a point
// that counts where its start lies.
void AddShare(PeriodTotals& totals, uint64_t start, uint32_t duration, uint32_t pulses, uint32_t k,
              uint64_t from, uint64_t to) {
  if (duration == 0) {
    if (start >= from && start <= to) totals.WeightedPulses += uint64_t{pulses} * k;
    return;
  }
  const uint64_t last = start + duration - 1;
  if (last < from || start > to) return;
  const uint64_t overlap = std::min(last, to) - std::max(start, from) + 1;
  totals.WeightedPulses += (overlap * pulses * k + duration / 2) / duration;
  totals.Covered += overlap;
  if (duration >= 10) {
    totals.WeightedMaxRate10 =
        std::max<uint64_t>(totals.WeightedMaxRate10, uint64_t{pulses} * 10 / duration * k);
  }
}

// A record from a row whose columns begin with start, duration, pulses and kind.
HistoryRecord RecordOfRow(const SqlStatement& row, uint8_t status) {
  HistoryRecord r;
  r.Start = static_cast<uint32_t>(row.Int(0));
  r.Duration = static_cast<uint16_t>(row.Int(1));
  r.Pulses = static_cast<uint32_t>(row.Int(2));
  r.Kind = static_cast<uint8_t>(row.Int(3));
  r.Status = status;
  return r;
}

}  // namespace

// The chart's periods over one device's records: whole days from the day sums, whole hours from
// the hour sums, each with the records that run across their ends; shorter periods from the
// records themselves, fetched an hour (and the longest record) at a time.
class ArchivePeriods : public HistoryPeriodSource {
 public:
  ArchivePeriods(HistoryArchive& archive, sqlite3* db, int64_t device)
      : archive_(archive),
        device_(device),
        days_(db,
              "SELECT sum(pulses_k), sum(covered), max(max_k) FROM day_sums"
              " WHERE device=?1 AND start>=?2 AND start<=?3"),
        hours_(db,
               "SELECT sum(pulses_k), sum(covered), max(max_k) FROM hour_sums"
               " WHERE device=?1 AND start>=?2 AND start<=?3"),
        spans_(db,
               "SELECT start, duration, pulses, coefficient FROM spans"
               " WHERE device=?1 AND level=?2 AND start>=?3 AND start<=?4"),
        records_(db,
                 "SELECT start, duration, pulses, download FROM records"
                 " WHERE device=?1 AND start>=?2 AND start<=?3 AND status=0 AND conflict=0") {
    archive_.readFailed_ = false;
    SqlStatement info(db, "SELECT max_duration FROM devices WHERE id=?1");
    info.Bind(1, device);
    int rc = info.Step();
    if (rc == SQLITE_ROW) maxDuration_ = static_cast<uint32_t>(info.Int(0));
    Note(rc);
    SqlStatement downloads(db, "SELECT id, coefficient FROM downloads WHERE device=?1");
    downloads.Bind(1, device);
    while ((rc = downloads.Step()) == SQLITE_ROW)
      coefficients_[downloads.Int(0)] = static_cast<uint32_t>(downloads.Int(1));
    Note(rc);
  }

  void StartPeriods(uint32_t t) override { periodStart_ = t; }

  PeriodTotals NextPeriod(uint32_t length) override {
    PeriodTotals totals;
    const uint64_t from = periodStart_;
    const uint64_t to = from + length - 1;
    periodStart_ += length;
    if (length == 0) return totals;
    if (from % kDay == 0 && length % kDay == 0) {
      Sums(days_, from, to, totals);
      Spans(kSpansDay, from, to, totals);
    } else if (from % kHour == 0 && length % kHour == 0) {
      Sums(hours_, from, to, totals);
      Spans(kSpansHour, from, to, totals);
      Spans(kSpansDay, from, to, totals);
    } else {
      Records(from, to, totals);
    }
    return totals;
  }

 private:
  struct Row {
    uint32_t Start, Duration, Pulses, K;
  };

  void Sums(SqlStatement& sums, uint64_t from, uint64_t to, PeriodTotals& totals) {
    // Sums lie wholly inside their hour or day, and so inside the period or outside it.
    sums.Bind(1, device_).Bind(2, static_cast<int64_t>(from)).Bind(3, static_cast<int64_t>(to));
    const int rc = sums.Step();
    Note(rc);
    if (rc == SQLITE_ROW && !sums.IsNull(0)) {
      totals.WeightedPulses += static_cast<uint64_t>(sums.Int(0));
      totals.Covered += static_cast<uint64_t>(sums.Int(1));
      totals.WeightedMaxRate10 =
          std::max(totals.WeightedMaxRate10, static_cast<uint64_t>(sums.Int(2)));
    }
    sums.Reset();
  }

  void Spans(int level, uint64_t from, uint64_t to, PeriodTotals& totals) {
    const uint64_t earliest = from > maxDuration_ ? from - maxDuration_ : 0;
    spans_.Bind(1, device_)
        .Bind(2, level)
        .Bind(3, static_cast<int64_t>(earliest))
        .Bind(4, static_cast<int64_t>(to));
    int rc;
    while ((rc = spans_.Step()) == SQLITE_ROW) {
      AddShare(totals, static_cast<uint64_t>(spans_.Int(0)), static_cast<uint32_t>(spans_.Int(1)),
               static_cast<uint32_t>(spans_.Int(2)), static_cast<uint32_t>(spans_.Int(3)), from,
               to);
    }
    Note(rc);
    spans_.Reset();
  }

  void Records(uint64_t from, uint64_t to, PeriodTotals& totals) {
    const uint64_t earliest = from > maxDuration_ ? from - maxDuration_ : 0;
    if (!(cached_ && earliest >= cacheFrom_ && to <= cacheTo_)) {
      // The records of the next hour at once: the bars of an hour or a minute follow each other.
      cacheFrom_ = earliest;
      cacheTo_ = std::max(to, from + kHour - 1);
      rows_.clear();
      records_.Bind(1, device_)
          .Bind(2, static_cast<int64_t>(cacheFrom_))
          .Bind(3, static_cast<int64_t>(cacheTo_));
      int rc;
      while ((rc = records_.Step()) == SQLITE_ROW) {
        const auto k = coefficients_.find(records_.Int(3));
        rows_.push_back(
            {static_cast<uint32_t>(records_.Int(0)), static_cast<uint32_t>(records_.Int(1)),
             static_cast<uint32_t>(records_.Int(2)), k == coefficients_.end() ? 100u : k->second});
      }
      Note(rc);
      records_.Reset();
      cached_ = true;
    }
    auto row = std::lower_bound(rows_.begin(), rows_.end(), earliest,
                                [](const Row& r, uint64_t t) { return r.Start < t; });
    for (; row != rows_.end() && row->Start <= to; ++row)
      AddShare(totals, row->Start, row->Duration, row->Pulses, row->K, from, to);
  }

  // A read that did not run to its end: the archive hears of it (the bars show what was read).
  void Note(int rc) {
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) archive_.NoteReadFailure(rc);
  }

  HistoryArchive& archive_;
  int64_t device_;
  uint32_t maxDuration_ = 0;
  uint64_t periodStart_ = 0;
  std::unordered_map<int64_t, uint32_t> coefficients_;
  SqlStatement days_, hours_, spans_, records_;
  bool cached_ = false;
  uint64_t cacheFrom_ = 0, cacheTo_ = 0;
  std::vector<Row> rows_;
};

HistoryArchive::HistoryArchive() = default;

HistoryArchive::~HistoryArchive() {
  Close();
}

void HistoryArchive::Close() {
  if (db_ != nullptr) sqlite3_close_v2(db_);
  db_ = nullptr;
}

std::string HistoryArchive::SqlError() const {
  return db_ ? sqlite3_errmsg(db_) : "no archive";
}

bool HistoryArchive::Exec(const char* sql) {
  char* message = nullptr;
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
  if (rc != SQLITE_OK) error_ = message ? message : sqlite3_errstr(rc);
  sqlite3_free(message);
  return rc == SQLITE_OK;
}

bool HistoryArchive::Open(const std::string& path) {
  Close();
  path_ = path;
  error_.clear();
  MovedAside.clear();
  CarryTotal = CarriedOver = 0;
  StationReadingsTotal = StationReadingsCarried = 0;
  damaged_ = readFailed_ = false;
  lastDownloads_.clear();
  lastRun_ = 0;
  lastLatest_.reset();
  lastNewRuns_.clear();
  if (path.empty()) {
    error_ = "no folder for application data";
    return false;
  }
  if (!MakeFolderFor(path, error_)) return false;
  bool unusable = false, ours = false;
  if (OpenFile(path, unusable, ours)) return true;
  Close();
  // Only the program's own archive, found damaged, makes way for a new one.
  if (!unusable || !ours) return false;
  damaged_ = true;
  return StartAgain();
}

bool HistoryArchive::MoveAside() {
  // Never overwritten: the file (and its write-ahead log, which belongs to it) goes aside under
  // a name of its own, and a new archive starts. Only while no other program has it open: one
  // that has would go on writing into the file moved aside, and remove the new archive's -wal
  // and -shm when it closes. The lock is an exclusive one on the file, taken by a connection of
  // its own that keeps its log index in memory and neither checkpoints nor removes the log when
  // it closes (the log by then lies under the new name).
  const std::string& path = path_;
  const std::string why = error_;
  sqlite3* lock = nullptr;
  int rc = OpenArchiveConnection(path, SQLITE_OPEN_READWRITE, &lock);
  if (rc == SQLITE_OK) {
    sqlite3_db_config(lock, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_busy_timeout(lock, 2000);
    rc = sqlite3_exec(lock, "PRAGMA locking_mode=EXCLUSIVE", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_exec(lock, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
  }
  auto refuse = [&](const std::string& reason) {
    sqlite3_close_v2(lock);
    error_ = (why.empty() ? "" : why + "; ") + reason;
    return false;
  };
  if (rc != SQLITE_OK) {
    const int primary = rc & 0xFF;
    return refuse(primary == SQLITE_BUSY || primary == SQLITE_LOCKED
                      ? "the damaged archive is open in another program: close the Dravion "
                        "Manager window and every dravion-cli that uses it, then try again"
                      : std::string("the damaged archive could not be locked to move it aside: ") +
                            sqlite3_errstr(rc));
  }
  auto rename = [&](const std::string& from, const std::string& to) {
    return RenameAside ? RenameAside(from, to) : RenameFile(from, to);
  };
  std::string aside = path + ".damaged-" + LocalStampForFileName();
  for (int n = 2; FileIsThere(aside) || FileIsThere(aside + "-wal"); ++n)
    aside = path + ".damaged-" + LocalStampForFileName() + "-" + std::to_string(n);
  // Where an open file cannot be renamed, the lock has shown that no other program has it open;
  // it is let go, and the rename itself then fails if one opened it since.
  if (!RenameWhileOpen()) {
    sqlite3_close_v2(lock);
    lock = nullptr;
  }
  if (!rename(path, aside)) return refuse("the file could not be moved aside");
  // The log holds the newest pages: without it the file moved aside would lose them, and a new
  // archive would take it for its own.
  if (FileIsThere(path + "-wal") && !rename(path + "-wal", aside + "-wal")) {
    rename(aside, path);
    return refuse("its write-ahead log could not be moved aside");
  }
  // The index of the log is rebuilt from the log: one left behind only wastes space.
  if (FileIsThere(path + "-shm")) rename(path + "-shm", aside + "-shm");
  sqlite3_close_v2(lock);
  MovedAside = aside;
  damaged_ = false;
  error_.clear();
  return true;
}

bool HistoryArchive::OpenFile(const std::string& path, bool& unusable, bool& ours) {
  unusable = ours = false;
  int rc = OpenArchiveConnection(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, &db_);
  if (rc != SQLITE_OK) {
    error_ = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    unusable = Unusable(rc);
    return false;
  }
  // Another program writing: wait for it (SQLite sleeps between its attempts).
  sqlite3_busy_timeout(db_, kArchiveBusyWaitMs);
  auto check = [&](const char* sql) {
    char* message = nullptr;
    rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
      error_ = message ? message : sqlite3_errstr(rc);
      unusable = Unusable(rc);
    }
    sqlite3_free(message);
    return rc == SQLITE_OK;
  };
  // What the file is, before anything is written into it: the header's application id and
  // version, and whether it holds tables.
  int64_t application = -1;
  int version = -1;
  int tables = -1;
  {
    SqlStatement id(db_, "PRAGMA application_id");
    if ((rc = id.Step()) == SQLITE_ROW) application = id.Int(0);
    SqlStatement user(db_, "PRAGMA user_version");
    if (application >= 0 && (rc = user.Step()) == SQLITE_ROW)
      version = static_cast<int>(user.Int(0));
  }
  if (application < 0 || version < 0) {
    // Not even the header reads: nothing says the file is the program's.
    error_ = (rc & 0xFF) == SQLITE_NOTADB ? "the file is not a history archive of this program"
                                          : sqlite3_errmsg(db_);
    return false;
  }
  ours = application == kArchiveApplicationId;
  if (version > kArchiveSchemaVersion) {
    error_ = "the archive was written by a newer version; update the program";
    return false;
  }
  {
    SqlStatement master(db_, "SELECT count(*) FROM sqlite_master");
    if ((rc = master.Step()) == SQLITE_ROW) tables = static_cast<int>(master.Int(0));
  }
  if (tables < 0) {
    error_ = sqlite3_errmsg(db_);
    unusable = Unusable(rc);
    return false;
  }
  // Archives made before the id was written: version 1 and the archive's tables.
  bool earlier = false;
  if (!ours && application == 0 && version == kArchiveSchemaVersion) {
    SqlStatement own(db_,
                     "SELECT count(*) FROM sqlite_master WHERE type='table' AND name IN"
                     " ('devices','downloads','records','hour_sums','day_sums','spans')");
    earlier = own.Step() == SQLITE_ROW && own.Int(0) == 6;
  }
  const bool empty = application == 0 && version == 0 && tables == 0;
  if (!ours && !earlier && !empty) {
    error_ = "the file is not a history archive of this program";
    return false;
  }
  if (!check("PRAGMA journal_mode=WAL") || !check("PRAGMA synchronous=FULL") ||
      !check("PRAGMA cache_size=-8000") || !check("PRAGMA journal_size_limit=67108864")) {
    return false;
  }
  if (earlier) {
    // Stamped now, so that it is known as the program's own should it ever be damaged; a busy
    // file is stamped another time.
    const std::string stamp = "PRAGMA application_id=" + std::to_string(kArchiveApplicationId);
    sqlite3_exec(db_, stamp.c_str(), nullptr, nullptr, nullptr);
    ours = true;
  }
  if (version == 0) return CreateTables();
  // Pages damaged deeper in the file are found by the operation that reads them (a check of
  // every page takes a second on ten years of records, too long for every start of the CLI).
  return true;
}

bool HistoryArchive::Check() {
  if (db_ == nullptr) return false;
  SqlStatement quick(db_, "PRAGMA quick_check(1)");
  const int rc = quick.Step();
  if (rc == SQLITE_ROW && quick.Text(0) == "ok") return true;
  if (rc == SQLITE_ROW) {
    // The check ran and names what it found wrong. A page it could not read at all is named
    // with the read's result code ("unable to get the page. error code=266"): a failing disk is
    // not damage, a page that reads as garbage is.
    error_ = quick.Text(0);
    const size_t code = error_.find("error code=");
    damaged_ = code == std::string::npos ||
               Unusable(std::atoi(error_.c_str() + code + std::strlen("error code=")));
    return false;
  }
  // A busy file or a failing disk is not damage; corruption met on the way is.
  error_ = sqlite3_errmsg(db_);
  NoteError(sqlite3_extended_errcode(db_));
  return false;
}

void HistoryArchive::NoteError(int rc) {
  if (Unusable(rc)) damaged_ = true;
}

void HistoryArchive::NoteReadFailure(int rc) {
  NoteError(rc);
  if (readFailed_) return;  // the first failure is the one to tell
  readFailed_ = true;
  error_ = "the history archive " + path_ + " could not be read (" + sqlite3_errstr(rc) +
           (damaged_ ? "): it is damaged" : ")");
}

bool HistoryArchive::StartAgain() {
  Close();
  if (!MoveAside()) return false;
  bool unusable = false, ours = false;
  if (!OpenFile(path_, unusable, ours)) {
    Close();
    return false;
  }
  // Every record that still reads goes into the new archive.
  std::string failed;
  if (!MergeArchiveFile(MovedAside, CarryTotal, CarriedOver)) failed = error_;
  // And every reading of a monitoring station, with what its outputs have still to send.
  std::string stationFailed;
  if (!CarryStationReadings(db_, MovedAside, StationReadingsTotal, StationReadingsCarried,
                            stationFailed))
    failed += (failed.empty() ? "" : "; ") + stationFailed;
  error_ = failed;
  damaged_ = false;
  return true;
}

bool HistoryArchive::CreateTables() {
  // Another program may be making them at the same moment: look again inside the transaction.
  if (!Exec("BEGIN IMMEDIATE")) return false;
  SqlStatement user(db_, "PRAGMA user_version");
  if (user.Step() == SQLITE_ROW && user.Int(0) == kArchiveSchemaVersion) {
    return Exec("COMMIT");
  }
  for (const char* sql : kTables) {
    if (!Exec(sql)) {
      Exec("ROLLBACK");
      return false;
    }
  }
  const std::string version = "PRAGMA user_version=" + std::to_string(kArchiveSchemaVersion);
  const std::string id = "PRAGMA application_id=" + std::to_string(kArchiveApplicationId);
  if (!Exec(version.c_str()) || !Exec(id.c_str()) || !Exec("COMMIT")) {
    Exec("ROLLBACK");
    return false;
  }
  return true;
}

struct HistoryArchive::Incoming {
  HistoryRecord Record;
  uint32_t K;
};

struct HistoryArchive::Run {
  int64_t Id;
  bool HasRecords;
  uint32_t LastStart, LastEnd;
};

bool HistoryArchive::RunsOf(const std::string& serial, const std::string& uid, std::string& runUid,
                            std::vector<Run>& runs) {
  runs.clear();
  runUid = uid;
  if (uid.empty()) {
    // Without an identifier: the device of that serial number seen last.
    SqlStatement newest(db_, "SELECT uid FROM devices WHERE serial=?1 ORDER BY id DESC LIMIT 1");
    newest.Bind(1, serial);
    if (newest.Step() == SQLITE_ROW) runUid = newest.Text(0);
  } else {
    // A device known only from imports of that serial number takes its identifier now.
    SqlStatement adopt(db_,
                       "UPDATE devices SET uid=?2 WHERE serial=?1 AND uid='' AND NOT EXISTS"
                       " (SELECT 1 FROM devices WHERE serial=?1 AND uid=?2)");
    if (!adopt.Bind(1, serial).Bind(2, uid).Run()) return false;
  }
  SqlStatement select(db_,
                      "SELECT id, last_start, last_end FROM devices WHERE serial=?1 AND uid=?2"
                      " ORDER BY id");
  select.Bind(1, serial).Bind(2, runUid);
  int rc;
  while ((rc = select.Step()) == SQLITE_ROW) {
    runs.push_back({select.Int(0), !select.IsNull(1), static_cast<uint32_t>(select.Int(1)),
                    static_cast<uint32_t>(select.Int(2))});
  }
  return rc == SQLITE_DONE;
}

int64_t HistoryArchive::NewRun(const std::string& serial, const std::string& uid) {
  SqlStatement insert(db_, "INSERT INTO devices(serial, uid) VALUES(?1, ?2)");
  if (!insert.Bind(1, serial).Bind(2, uid).Run()) return 0;
  return sqlite3_last_insert_rowid(db_);
}

bool HistoryArchive::CountHeld(int64_t device, const std::vector<Incoming>& records,
                               const std::vector<size_t>& sample, size_t& held) {
  held = 0;
  SqlStatement same(db_,
                    "SELECT 1 FROM records WHERE device=?1 AND start=?2 AND duration=?3"
                    " AND pulses=?4 AND status=?5 LIMIT 1");
  for (const size_t i : sample) {
    const HistoryRecord& r = records[i].Record;
    same.Bind(1, device).Bind(2, r.Start).Bind(3, r.Duration).Bind(4, r.Pulses).Bind(5, r.Status);
    const int rc = same.Step();
    same.Reset();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return false;
    if (rc == SQLITE_ROW) ++held;
  }
  return true;
}

MergeResult HistoryArchive::Merge(const ArchiveBatch& batch) {
  MergeResult result;
  if (db_ == nullptr) {
    result.Error = "the archive is not open";
    return result;
  }
  const bool imported = !batch.File.empty();
  // The measurements, in the batch's order.
  std::vector<Incoming> in;
  in.reserve(batch.Records.size());
  for (size_t i = 0; i < batch.Records.size(); ++i) {
    const HistoryRecord& r = batch.Records[i];
    if (!imported && r.Kind != kKindOnTime && r.Kind != kKindOnChange) continue;
    const uint32_t k = i < batch.Coefficients.size() ? batch.Coefficients[i] : batch.Coefficient;
    in.push_back({r, k});
  }

  // Another program writing the archive holds its lock beyond the busy time-out.
  auto busy = [this] {
    const int code = sqlite3_errcode(db_) & 0xFF;
    return code == SQLITE_BUSY || code == SQLITE_LOCKED;
  };
  if (!Exec("BEGIN IMMEDIATE")) {
    result.Error = error_;
    result.Busy = busy();
    return result;
  }
  auto fail = [&](const std::string& why) {
    NoteError(sqlite3_extended_errcode(db_));
    const bool wasBusy = busy();
    result = MergeResult{};
    result.Busy = wasBusy;
    result.Error = why.empty() ? SqlError() : why;
    Exec("ROLLBACK");
    return result;
  };
  std::string uid;
  std::vector<Run> runs;
  if (!RunsOf(batch.Serial, batch.Uid, uid, runs)) return fail("");
  if (batch.OnceEach && !DropRepeats(in, batch.Continues, result)) return fail("");

  // The device's clock behind the end of the newest record the archive holds of it: it was set
  // back since, and what it recorded after that cannot continue the newest run.
  const bool behind = !imported && batch.DeviceTime != 0 && !runs.empty() &&
                      runs.back().HasRecords && batch.DeviceTime < runs.back().LastEnd;
  result.ClockSetBack = behind;
  // Records follow each other in time: one that starts before the usable record it follows was
  // made after the clock was set back. Each piece goes to its run.
  std::map<int64_t, std::vector<Incoming>> ofRun;
  // The runs begun by this merge; a further part's records that go to one its earlier parts
  // began are counted as the new run's too.
  std::vector<int64_t> newRuns;
  const std::vector<int64_t> begunBefore = batch.Continues ? lastNewRuns_ : std::vector<int64_t>{};
  int64_t lastPiece = 0;
  // A further part of a file whose first usable record starts before the last one of the part
  // before: the clock was set back where the parts meet, and the part begins a piece of its own
  // after the run that part ended in.
  bool cutAtStart = false;
  if (batch.Continues && lastLatest_) {
    const auto usable =
        std::find_if(in.begin(), in.end(), [](const Incoming& i) { return i.Record.Status == 0; });
    cutAtStart = usable != in.end() && usable->Record.Start < *lastLatest_;
  }
  uint32_t latest = 0;
  uint64_t pieceEnd = 0;  // the latest end of a usable record of the piece before
  for (size_t first = 0; first < in.size();) {
    const bool cut = first > 0 || cutAtStart;
    size_t end = first + 1;
    latest = in[first].Record.Status == 0 ? in[first].Record.Start : 0;
    for (; end < in.size(); ++end) {
      const HistoryRecord& r = in[end].Record;
      if (r.Status != 0) continue;
      if (r.Start < latest) break;
      latest = r.Start;
    }
    // The run that holds the most of the piece's records (its oldest ones, which an earlier
    // download brought, and some spread over it: records of the same start and counts may lie
    // in another run by chance); after a set back only a run begun after the one of the records
    // before.
    std::vector<size_t> sample;
    for (size_t i = first; i < end && i < first + 8; ++i)
      sample.push_back(i);
    for (size_t i = first + 8, step = std::max<size_t>(1, (end - first) / 56); i < end; i += step)
      sample.push_back(i);
    int64_t target = 0;
    size_t most = 0;
    const int64_t after = first > 0 ? lastPiece : cutAtStart ? lastRun_ : batch.AfterRun;
    for (const Run& run : runs) {
      if (run.Id <= after) continue;
      size_t held = 0;
      if (!CountHeld(run.Id, in, sample, held)) return fail("");
      if (held > most) {
        most = held;
        target = run.Id;
      }
    }
    // Records the archive does not hold: the further part of a long file continues where its
    // part before went; an imported file's records otherwise join the newest run wherever they
    // lie (an old file of the device), and a download's only when they follow that run's
    // records, with the device's time not behind them. A piece after a set back begins a run.
    if (target == 0 && !cut && batch.Continues &&
        std::any_of(runs.begin(), runs.end(), [&](const Run& r) { return r.Id == lastRun_; })) {
      target = lastRun_;
    }
    if (target == 0 && !runs.empty() && !cut && batch.AfterRun == 0 && !behind &&
        (imported || !runs.back().HasRecords || in[first].Record.Start > runs.back().LastStart))
      target = runs.back().Id;
    if (target == 0) {
      if (!runs.empty()) {
        result.ClockSetBack = true;
        if (newRuns.empty()) {
          result.NewRunStart = in[first].Record.Start;
          const uint64_t back = first > 0                 ? pieceEnd
                                : behind && !runs.empty() ? runs.back().LastEnd
                                                          : 0;
          if (back > in[first].Record.Start)
            result.SetBackBy = static_cast<uint32_t>(back - in[first].Record.Start);
        }
      }
      target = NewRun(batch.Serial, uid);
      if (target == 0) return fail("");
      if (!runs.empty()) newRuns.push_back(target);
      runs.push_back({target, false, 0, 0});
    }
    // The piece's records are the run's newest now, for the pieces after it.
    for (Run& run : runs) {
      if (run.Id != target) continue;
      for (size_t i = first; i < end; ++i) {
        const HistoryRecord& r = in[i].Record;
        run.LastStart = run.HasRecords ? std::max(run.LastStart, r.Start) : r.Start;
        run.LastEnd = std::max(run.LastEnd, r.Start + r.Duration);
        run.HasRecords = true;
      }
    }
    lastPiece = target;
    pieceEnd = 0;
    for (size_t i = first; i < end; ++i) {
      const HistoryRecord& r = in[i].Record;
      if (r.Status == 0) pieceEnd = std::max<uint64_t>(pieceEnd, uint64_t{r.Start} + r.Duration);
    }
    std::vector<Incoming>& to = ofRun[target];
    to.insert(to.end(), in.begin() + static_cast<ptrdiff_t>(first),
              in.begin() + static_cast<ptrdiff_t>(end));
    first = end;
  }
  if (in.empty() && runs.empty()) {
    // A download without measurements still counts as one of the device.
    const int64_t device = NewRun(batch.Serial, uid);
    if (device == 0) return fail("");
    ofRun[lastPiece = device];
  } else if (in.empty()) {
    ofRun[lastPiece = runs.back().Id];
  }

  std::map<int64_t, std::map<uint32_t, int64_t>> downloads;
  for (auto& [device, records] : ofRun) {
    MergeResult part;
    const bool continued = batch.Continues && lastDownloads_.count(device) != 0;
    std::map<uint32_t, int64_t>& downloadOf = downloads[device];
    if (continued) downloadOf = lastDownloads_[device];
    if (!MergeRun(device, std::move(records), batch, continued, downloadOf, part)) return fail("");
    result.Added += part.Added;
    result.AlreadyThere += part.AlreadyThere;
    result.Conflicts += part.Conflicts;
    result.Compared += part.Compared;
    if (std::find(newRuns.begin(), newRuns.end(), device) != newRuns.end() ||
        std::find(begunBefore.begin(), begunBefore.end(), device) != begunBefore.end())
      result.NewRunRecords += part.Added;
  }
  if (!Exec("COMMIT")) return fail(error_);
  result.Ok = true;
  lastDownloads_ = downloads;
  lastRun_ = lastPiece;
  lastLatest_.reset();
  if (latest != 0) lastLatest_ = latest;
  lastNewRuns_ = begunBefore;
  lastNewRuns_.insert(lastNewRuns_.end(), newRuns.begin(), newRuns.end());
  // A large merge leaves a large log: copy it into the file now, where nobody waits for it (a
  // reader of the same pages only holds the copy back), so the log starts again small.
  if (result.Added >= kLargeMerge)
    sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  return result;
}

bool HistoryArchive::DropRepeats(std::vector<Incoming>& in, bool continued, MergeResult& result) {
  // Only a record that does not start after every record before it can be a repeat: the records
  // of this part before it, and for a further part of a file, those its parts before merged into
  // the run they ended in.
  using Key = std::tuple<uint32_t, uint16_t, uint32_t, uint8_t, uint32_t>;
  std::set<Key> seen;
  std::optional<uint32_t> latest;
  if (continued && lastLatest_ && lastRun_ != 0) latest = lastLatest_;
  SqlStatement held(db_,
                    "SELECT 1 FROM records WHERE device=?1 AND start=?2 AND duration=?3"
                    " AND pulses=?4 AND status=?5 LIMIT 1");
  std::vector<Incoming> kept;
  kept.reserve(in.size());
  for (const Incoming& i : in) {
    const HistoryRecord& r = i.Record;
    const Key key{r.Start, r.Duration, r.Pulses, r.Status, i.K};
    bool repeat = false;
    if (latest && r.Start <= *latest) {
      repeat = seen.count(key) != 0;
      if (!repeat && continued && lastLatest_ && r.Start <= *lastLatest_ && lastRun_ != 0) {
        held.Bind(1, lastRun_).Bind(2, r.Start).Bind(3, r.Duration).Bind(4, r.Pulses);
        const int rc = held.Bind(5, r.Status).Step();
        held.Reset();
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) return false;
        repeat = rc == SQLITE_ROW;
      }
    }
    if (repeat) {
      ++result.AlreadyThere;
      continue;
    }
    seen.insert(key);
    latest = latest ? std::max(*latest, r.Start) : r.Start;
    kept.push_back(i);
  }
  in.swap(kept);
  return true;
}

bool HistoryArchive::MergeRun(int64_t device, std::vector<Incoming> in, const ArchiveBatch& batch,
                              bool continued, std::map<uint32_t, int64_t>& downloadOf,
                              MergeResult& result) {
  const bool imported = !batch.File.empty();
  // Oldest first (stable: records of one start keep the batch's order).
  std::stable_sort(in.begin(), in.end(), [](const Incoming& a, const Incoming& b) {
    return a.Record.Start < b.Record.Start;
  });
  // The download's row (an imported file: one per coefficient it holds); a continued import
  // takes those of its earlier parts.
  {
    SqlStatement insert(db_,
                        "INSERT INTO downloads(device, merged, device_time, coefficient,"
                        " sector_size, low_half, sector_count, record_count, first_record,"
                        " last_record, flag, file) VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12)");
    std::vector<uint32_t> ks{batch.Coefficient};
    for (const Incoming& i : in) {
      if (std::find(ks.begin(), ks.end(), i.K) == ks.end()) ks.push_back(i.K);
    }
    const std::string now = LocalTimeText();
    const HistoryRingDescription& ring = batch.Ring;
    for (const uint32_t k : ks) {
      if (downloadOf.count(k) != 0) continue;
      if (continued && k == batch.Coefficient && !downloadOf.empty() &&
          std::none_of(in.begin(), in.end(), [k](const Incoming& i) { return i.K == k; }))
        continue;
      if (imported && k == batch.Coefficient && ks.size() > 1 &&
          std::none_of(in.begin(), in.end(), [k](const Incoming& i) { return i.K == k; }))
        continue;
      insert.Bind(1, device).Bind(2, now).Bind(3, batch.DeviceTime).Bind(4, k);
      insert.Bind(5, ring.SectorSize).Bind(6, ring.LowHalf).Bind(7, ring.SectorCount);
      insert.Bind(8, ring.RecordCount).Bind(9, ring.FirstRecord).Bind(10, ring.LastRecord);
      insert.Bind(11, ring.Flag).Bind(12, batch.File);
      if (!insert.Run()) return false;
      downloadOf[k] = sqlite3_last_insert_rowid(db_);
    }
  }

  // What the archive holds already where the batch has records: run by run (records less than
  // an hour apart), so that a stray record years away does not bring in everything between.
  struct Stored {
    uint32_t Start, Seq, Duration, Pulses;
    uint8_t Kind, Status;
    bool Chart;  // usable and not in conflict: the chart's record of its start
    bool Used;
  };
  std::vector<Stored> stored;
  {
    SqlStatement select(db_,
                        "SELECT start, seq, duration, pulses, kind, status, conflict FROM records"
                        " WHERE device=?1 AND start>=?2 AND start<=?3 ORDER BY start, seq");
    for (size_t first = 0; first < in.size();) {
      size_t last = first;
      while (last + 1 < in.size() &&
             uint64_t{in[last + 1].Record.Start} <=
                 uint64_t{in[last].Record.Start} + in[last].Record.Duration + kHour)
        ++last;
      select.Bind(1, device).Bind(2, in[first].Record.Start).Bind(3, in[last].Record.Start);
      int rc;
      while ((rc = select.Step()) == SQLITE_ROW) {
        const auto status = static_cast<uint8_t>(select.Int(5));
        stored.push_back({static_cast<uint32_t>(select.Int(0)),
                          static_cast<uint32_t>(select.Int(1)),
                          static_cast<uint32_t>(select.Int(2)),
                          static_cast<uint32_t>(select.Int(3)), static_cast<uint8_t>(select.Int(4)),
                          status, status == 0 && select.Int(6) == 0, false});
      }
      select.Reset();
      if (rc != SQLITE_DONE) return false;
      first = last + 1;
    }
    result.Compared = stored.size();
  }

  SqlStatement insert(db_,
                      "INSERT INTO records(device, start, seq, duration, pulses, kind, status,"
                      " download, conflict) VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9)");
  std::map<uint32_t, Sum> hours, days;
  struct Span {
    int Level;
    uint32_t Start, Seq;
    HistoryRecord Record;
    uint32_t K;
  };
  std::vector<Span> spans;
  uint32_t maxDuration = 0, lastEnd = 0;
  std::set<uint32_t> changedDays;  // whose kept figures no longer hold
  size_t s = 0;                    // the first stored record of the current start
  for (size_t i = 0; i < in.size();) {
    const uint32_t start = in[i].Record.Start;
    while (s < stored.size() && stored[s].Start < start)
      ++s;
    size_t sEnd = s;
    int64_t seq = -1;
    // A chart record of some duration holds this start already (one with a status, or one in
    // conflict, is not the chart's and holds nothing).
    bool interval = false;
    for (; sEnd < stored.size() && stored[sEnd].Start == start; ++sEnd) {
      seq = std::max<int64_t>(seq, stored[sEnd].Seq);
      interval = interval || (stored[sEnd].Chart && stored[sEnd].Duration > 0);
    }
    for (; i < in.size() && in[i].Record.Start == start; ++i) {
      const HistoryRecord& r = in[i].Record;
      const uint32_t k = in[i].K;
      // The same record (an imported one has no kind) is there once for each time this
      // download holds it.
      auto same = std::find_if(stored.begin() + s, stored.begin() + sEnd, [&](const Stored& x) {
        return !x.Used && x.Duration == r.Duration && x.Pulses == r.Pulses &&
               x.Status == r.Status && (x.Kind == r.Kind || x.Kind == 0 || r.Kind == 0);
      });
      if (same != stored.begin() + sEnd) {
        same->Used = true;
        ++result.AlreadyThere;
        continue;
      }
      // Two records of some duration cannot begin in the same second: the later one is kept
      // beside the other and counted, never put in its place. Only usable records take part.
      const bool usable = r.Status == 0;
      const bool conflict = usable && r.Duration > 0 && interval;
      interval = interval || (usable && r.Duration > 0);
      ++seq;
      insert.Bind(1, device).Bind(2, start).Bind(3, seq).Bind(4, r.Duration).Bind(5, r.Pulses);
      insert.Bind(6, r.Kind).Bind(7, r.Status).Bind(8, downloadOf[k]).Bind(9, conflict ? 1 : 0);
      if (!insert.Run()) return false;
      ++result.Added;
      for (uint64_t day = start / kDay; day <= (uint64_t{start} + r.Duration) / kDay; ++day)
        changedDays.insert(static_cast<uint32_t>(day * kDay));
      if (conflict) ++result.Conflicts;
      if (MergeProgress && result.Added % 1000 == 0) MergeProgress(result.Added);
      maxDuration = std::max<uint32_t>(maxDuration, r.Duration);
      lastEnd = std::max<uint32_t>(lastEnd, start + r.Duration);
      if (conflict || r.Status != 0) continue;  // not the chart's
      const uint32_t last = r.Duration == 0 ? start : start + r.Duration - 1;
      if (start / kHour == last / kHour) {
        hours[start - start % kHour].Add(r, k);
      } else {
        spans.push_back({start / kDay == last / kDay ? kSpansHour : kSpansDay, start,
                         static_cast<uint32_t>(seq), r, k});
      }
      if (start / kDay == last / kDay) days[start - start % kDay].Add(r, k);
    }
  }

  auto upsert = [&](const char* table, const std::map<uint32_t, Sum>& sums) {
    const std::string sql = std::string("INSERT INTO ") + table +
                            "(device, start, pulses_k, covered, max_k) VALUES(?1,?2,?3,?4,?5)"
                            " ON CONFLICT(device, start) DO UPDATE SET"
                            " pulses_k=pulses_k+excluded.pulses_k,"
                            " covered=covered+excluded.covered, max_k=max(max_k, excluded.max_k)";
    SqlStatement statement(db_, sql.c_str());
    for (const auto& [start, sum] : sums) {
      statement.Bind(1, device).Bind(2, start).Bind(3, sum.PulsesK).Bind(4, sum.Covered);
      if (!statement.Bind(5, sum.MaxK).Run()) return false;
    }
    return true;
  };
  if (!upsert("hour_sums", hours) || !upsert("day_sums", days) ||
      !ForgetDayFigures(db_, device, changedDays))
    return false;
  {
    SqlStatement statement(db_,
                           "INSERT INTO spans(device, level, start, seq, duration, pulses,"
                           " coefficient) VALUES(?1,?2,?3,?4,?5,?6,?7)");
    for (const Span& span : spans) {
      statement.Bind(1, device).Bind(2, span.Level).Bind(3, span.Start).Bind(4, span.Seq);
      statement.Bind(5, span.Record.Duration).Bind(6, span.Record.Pulses).Bind(7, span.K);
      if (!statement.Run()) return false;
    }
  }

  // The device's figures, and what the download brought.
  {
    SqlStatement update(
        db_,
        "UPDATE devices SET records=records+?2, conflicts=conflicts+?3,"
        " first_start=CASE WHEN ?4 IS NULL THEN first_start ELSE min(coalesce(first_start, ?4), ?4)"
        " END, last_start=CASE WHEN ?5 IS NULL THEN last_start ELSE"
        " max(coalesce(last_start, ?5), ?5) END, last_end=max(coalesce(last_end, 0), ?6),"
        " max_duration=max(max_duration, ?7), downloads=downloads+?10,"
        " coefficient=CASE WHEN ?8 OR downloads=0 THEN ?9 ELSE coefficient END WHERE id=?1");
    update.Bind(1, device).Bind(2, result.Added).Bind(3, result.Conflicts);
    if (!in.empty()) {
      // Every record of the download is in the archive now, added or found there.
      uint32_t first = 0xFFFFFFFF, lastStart = 0;
      for (const Incoming& i : in) {
        first = std::min(first, i.Record.Start);
        lastStart = std::max(lastStart, i.Record.Start);
      }
      update.Bind(4, first).Bind(5, lastStart);
    }
    update.Bind(6, lastEnd).Bind(7, maxDuration).Bind(8, imported ? 0 : 1);
    update.Bind(10, continued ? 0 : 1);
    if (!update.Bind(9, batch.Coefficient).Run()) return false;
    SqlStatement counts(db_,
                        "UPDATE downloads SET added=added+?2, already=already+?3,"
                        " conflicts=conflicts+?4 WHERE id=?1");
    for (const auto& [k, id] : downloadOf) {
      counts.Bind(1, id).Bind(2, result.Added).Bind(3, result.AlreadyThere);
      if (!counts.Bind(4, result.Conflicts).Run()) return false;
    }
  }
  return true;
}

std::vector<ArchiveDevice> HistoryArchive::Devices() {
  std::vector<ArchiveDevice> devices;
  readFailed_ = false;
  if (db_ == nullptr) return devices;
  SqlStatement select(db_,
                      "SELECT id, serial, uid, records, conflicts, first_start, last_start,"
                      " last_end, max_duration, coefficient, downloads FROM devices ORDER BY id");
  int rc;
  while ((rc = select.Step()) == SQLITE_ROW) {
    ArchiveDevice d;
    d.Id = select.Int(0);
    d.Serial = select.Text(1);
    d.Uid = select.Text(2);
    d.Records = static_cast<uint64_t>(select.Int(3));
    d.Conflicts = static_cast<uint64_t>(select.Int(4));
    d.FirstStart = static_cast<uint32_t>(select.Int(5));
    d.LastStart = static_cast<uint32_t>(select.Int(6));
    d.LastEnd = static_cast<uint32_t>(select.Int(7));
    d.MaxDuration = static_cast<uint32_t>(select.Int(8));
    d.Coefficient = static_cast<uint32_t>(select.Int(9));
    d.Downloads = static_cast<uint32_t>(select.Int(10));
    devices.push_back(d);
  }
  if (rc != SQLITE_DONE) NoteReadFailure(rc);
  // Runs of one device are numbered in the order they were begun.
  std::map<std::pair<std::string, std::string>, int> runs;
  for (ArchiveDevice& d : devices)
    d.Run = ++runs[{d.Serial, d.Uid}];
  for (ArchiveDevice& d : devices)
    d.Runs = runs[{d.Serial, d.Uid}];
  return devices;
}

std::optional<ArchiveDevice> HistoryArchive::Device(int64_t id) {
  for (const ArchiveDevice& d : Devices()) {
    if (d.Id == id) return d;
  }
  return std::nullopt;
}

std::vector<ArchiveDevice> HistoryArchive::DevicesOfSerial(const std::string& serial) {
  std::vector<ArchiveDevice> found;
  for (const ArchiveDevice& d : Devices()) {
    if (d.Serial == serial) found.push_back(d);
  }
  return found;
}

std::optional<ArchiveDevice> HistoryArchive::FindDevice(const std::string& serial,
                                                        const std::string& uid) {
  std::optional<ArchiveDevice> found, importedOnly;
  int matches = 0;
  for (const ArchiveDevice& d : DevicesOfSerial(serial)) {
    if (!uid.empty() && d.Uid == uid) found = d;  // the newest run
    if (!uid.empty() && d.Uid.empty()) importedOnly = d;
    if (uid.empty()) {
      found = d;
      ++matches;
    }
  }
  // A device known only from imported files is this one until a download gives it the
  // identifier (as the merge does).
  if (!uid.empty()) return found ? found : importedOnly;
  if (matches == 1) return found;
  return std::nullopt;
}

bool HistoryArchive::Count(int64_t device, ArchiveCounts& counts) {
  counts = ArchiveCounts{};
  readFailed_ = false;
  SqlStatement count(db_,
                     "SELECT total(status=0), total(status=0 AND conflict<>0), total(status<>0)"
                     " FROM records WHERE device=?1");
  count.Bind(1, device);
  const int rc = count.Step();
  if (rc != SQLITE_ROW) {
    NoteReadFailure(rc);
    return false;
  }
  counts.Records = static_cast<uint64_t>(count.Int(0));
  counts.Conflicts = static_cast<uint64_t>(count.Int(1));
  counts.Unusable = static_cast<uint64_t>(count.Int(2));
  return true;
}

int HistoryArchive::ForEachRecord(const ArchiveRange& range,
                                  const std::function<void(const HistoryRecord&, uint32_t)>& visit,
                                  bool oldestFirst) {
  readFailed_ = false;
  std::unordered_map<int64_t, uint32_t> coefficients;
  SqlStatement downloads(db_, "SELECT id, coefficient FROM downloads WHERE device=?1");
  downloads.Bind(1, range.Device);
  int rc;
  while ((rc = downloads.Step()) == SQLITE_ROW)
    coefficients[downloads.Int(0)] = static_cast<uint32_t>(downloads.Int(1));
  if (rc != SQLITE_DONE) {
    NoteReadFailure(rc);
    return rc;
  }
  SqlStatement select(db_, oldestFirst
                               ? "SELECT start, duration, pulses, kind, download FROM records"
                                 " WHERE device=?1 AND start>=?2 AND start<=?3 AND status=0"
                                 " ORDER BY start, seq"
                               : "SELECT start, duration, pulses, kind, download FROM records"
                                 " WHERE device=?1 AND start>=?2 AND start<=?3 AND status=0"
                                 " ORDER BY start DESC, seq DESC");
  select.Bind(1, range.Device).Bind(2, range.From).Bind(3, range.To);
  while ((rc = select.Step()) == SQLITE_ROW) {
    const HistoryRecord r = RecordOfRow(select, 0);
    const auto k = coefficients.find(select.Int(4));
    visit(r, k == coefficients.end() ? 100u : k->second);
  }
  if (rc != SQLITE_DONE) NoteReadFailure(rc);
  return rc;
}

ExportResult HistoryArchive::ExportCsv(const ArchiveRange& range, const std::string& path,
                                       const FileStepHook& hook) {
  ExportResult result;
  if (db_ == nullptr) {
    result.Error = "the archive is not open";
    return result;
  }
  ArchiveRange chosen = range;
  if (chosen.Device == 0) {
    // A CSV line does not say which device it is from: only one device's records go in a file.
    const std::vector<ArchiveDevice> devices = Devices();
    if (readFailed_) {
      result.Error = error_;
      return result;
    }
    if (devices.empty() || devices.back().Runs != static_cast<int>(devices.size())) {
      result.Error = devices.empty() ? "the archive holds no records"
                                     : "the archive holds several devices: name one";
      return result;
    }
    chosen.Device = devices.back().Id;  // the newest run
  }
  // One consistent picture of the archive, also while another program merges.
  if (!Exec("BEGIN")) {
    result.Error = error_;
    return result;
  }
  ReplacingFile file(path, hook);
  if (!file.Open()) {
    Exec("ROLLBACK");
    return result;
  }
  std::string buffer;
  buffer.reserve(1 << 20);
  uint32_t row = 0;
  const int rc = ForEachRecord(chosen, [&](const HistoryRecord& r, uint32_t k) {
    buffer += CsvLine(r, ++row, k);
    if (buffer.size() >= (1u << 20) - 128) {
      file.Write(buffer);
      buffer.clear();
    }
  });
  const std::string why = error_;
  Exec("COMMIT");
  if (rc != SQLITE_DONE) {
    error_ = why;
    // A file cut short is never put in place of the one there (the new one is discarded).
    result.Error = error_;
    return result;
  }
  file.Write(buffer);
  const FileWriteResult written = file.Commit();
  result.Ok = written.Ok;
  result.Failed = written.Failed;
  result.Lines = row;
  return result;
}

std::unique_ptr<HistoryPeriodSource> HistoryArchive::Periods(int64_t device) {
  return std::make_unique<ArchivePeriods>(*this, db_, device);
}

}  // namespace dravion
