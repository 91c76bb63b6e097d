#include "archive/station_store.h"

#include <sqlite3.h>

#include <limits>
#include <map>

#include "archive/archive_connection.h"
#include "archive/archive_files.h"
#include "archive/history_archive.h"
#include "archive/sqlite_statement.h"
#include "device/measurement.h"

namespace dravion {
namespace {

// Times are UTC seconds; the rate is the interval's mean in the device's unit (NULL when the
// device counts in CPM), usvh the same in µSv/h.
constexpr const char* kReadingsSchema =
    "CREATE TABLE IF NOT EXISTS station_readings(id INTEGER PRIMARY KEY, serial TEXT NOT NULL,"
    " uid TEXT NOT NULL, time INTEGER NOT NULL, utc_offset INTEGER NOT NULL,"
    " seconds INTEGER NOT NULL, samples INTEGER NOT NULL, units INTEGER NOT NULL, rate REAL,"
    " usvh REAL, cpm REAL NOT NULL, dose TEXT NOT NULL, dose_unit TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS station_readings_by_serial ON station_readings(serial, id);"
    "CREATE INDEX IF NOT EXISTS station_readings_by_time ON station_readings(serial, time);"
    // Readings an output of a station has still to deliver. A reading is one station's: its
    // entries name that station (its configuration file), and only that station sends them.
    // Archives of earlier versions lack `station`: it is added, empty (see kStationColumns).
    "CREATE TABLE IF NOT EXISTS station_queue(output TEXT NOT NULL, reading INTEGER NOT NULL,"
    " station TEXT NOT NULL DEFAULT '', PRIMARY KEY(output, reading)) WITHOUT ROWID;"
    // Where each reading went.
    "CREATE TABLE IF NOT EXISTS station_sent(reading INTEGER NOT NULL, output TEXT NOT NULL,"
    " PRIMARY KEY(reading, output)) WITHOUT ROWID;"
    // The stations running now (or killed: their heartbeat stops), and their outputs.
    "CREATE TABLE IF NOT EXISTS station_status(pid INTEGER NOT NULL, started INTEGER NOT NULL,"
    " heartbeat INTEGER NOT NULL, interval INTEGER NOT NULL, port INTEGER NOT NULL,"
    " serial TEXT NOT NULL, state TEXT NOT NULL, station TEXT NOT NULL DEFAULT '',"
    " PRIMARY KEY(pid, started));"
    "CREATE TABLE IF NOT EXISTS station_outputs(pid INTEGER NOT NULL, started INTEGER NOT NULL,"
    " output TEXT NOT NULL, delivered INTEGER NOT NULL, failed INTEGER NOT NULL,"
    " last_success INTEGER NOT NULL, note TEXT NOT NULL, PRIMARY KEY(pid, started, output));";

// Made after the columns that archives of earlier versions lack have been added.
constexpr const char* kQueueIndexes =
    "CREATE INDEX IF NOT EXISTS station_queue_by_station ON station_queue(station, output,"
    " reading);"
    // How many readings wait per station and output, kept in the transaction of every change
    // of the queue (archive connections run no triggers), so that the window reads it without
    // counting.
    "CREATE TABLE IF NOT EXISTS station_queue_size(station TEXT NOT NULL, output TEXT NOT NULL,"
    " waiting INTEGER NOT NULL, PRIMARY KEY(station, output)) WITHOUT ROWID;";

// Adds to the readings that wait for a station's output.
bool AddWaiting(sqlite3* db, const std::string& station, const std::string& output,
                int64_t change) {
  SqlStatement add(db,
                   "INSERT INTO station_queue_size(station, output, waiting) VALUES(?1, ?2, ?3)"
                   " ON CONFLICT(station, output) DO UPDATE SET waiting = waiting + ?3");
  return add.Bind(1, station).Bind(2, output).Bind(3, change).Run();
}

// Counts the queue again into station_queue_size (after the table was made, or entries were
// given to a station).
constexpr const char* kRecountQueue =
    "DELETE FROM station_queue_size;"
    "INSERT INTO station_queue_size(station, output, waiting)"
    " SELECT station, output, count(*) FROM station_queue GROUP BY station, output;";

// Whether `table` of `db` has `column`.
bool HasColumn(sqlite3* db, const char* table, const char* column) {
  const std::string sql = std::string("SELECT count(*) FROM pragma_table_info('") + table +
                          "') WHERE name = '" + column + "'";
  SqlStatement has(db, sql.c_str());
  return has.Step() == SQLITE_ROW && has.Int(0) > 0;
}

bool TableExists(sqlite3* db, const char* table) {
  SqlStatement has(db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = ?");
  has.Bind(1, std::string(table));
  return has.Step() == SQLITE_ROW && has.Int(0) > 0;
}

// The station tables, with what earlier versions lack added: the queue's and the status's
// `station` column, the queue's index and its counts. In one transaction; false with SQLite's
// error in `error`.
bool MakeStationTables(sqlite3* db, std::string& error) {
  auto exec = [&](const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return false;
  };
  if (!exec("BEGIN IMMEDIATE")) return false;
  bool ok = exec(kReadingsSchema);
  if (ok && !HasColumn(db, "station_queue", "station"))
    ok = exec("ALTER TABLE station_queue ADD COLUMN station TEXT NOT NULL DEFAULT ''");
  if (ok && !HasColumn(db, "station_status", "station"))
    ok = exec("ALTER TABLE station_status ADD COLUMN station TEXT NOT NULL DEFAULT ''");
  const bool counted = ok && TableExists(db, "station_queue_size");
  if (ok) ok = exec(kQueueIndexes);
  if (ok && !counted) ok = exec(kRecountQueue);
  if (ok && exec("COMMIT")) return true;
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  return false;
}

// Always preceded by r.id.
constexpr const char* kReadingColumns =
    "r.serial, r.uid, r.time, r.utc_offset, r.seconds, r.samples, r.units, r.rate, r.usvh, r.cpm,"
    " r.dose, r.dose_unit";

StationReading ReadingAt(const SqlStatement& select, int first) {
  StationReading r;
  r.id = select.Int(first - 1);
  r.serial = select.Text(first);
  r.uid = select.Text(first + 1);
  r.time = select.Int(first + 2);
  r.utcOffsetMinutes = static_cast<int>(select.Int(first + 3));
  r.seconds = static_cast<int>(select.Int(first + 4));
  r.samples = static_cast<int>(select.Int(first + 5));
  r.units = static_cast<uint32_t>(select.Int(first + 6));
  r.rateUnit = RateUnitCode(r.units);
  if (!select.IsNull(first + 7)) r.rate = select.Real(first + 7);
  if (!select.IsNull(first + 8)) r.microSievertPerHour = select.Real(first + 8);
  r.cpm = select.Real(first + 9);
  r.dose = select.Text(first + 10);
  r.doseUnit = select.Text(first + 11);
  return r;
}

// Writes one reading as a new row of `db`'s station_readings; true when it was.
bool InsertReading(sqlite3* db, const StationReading& r) {
  SqlStatement insert(db,
                      "INSERT INTO station_readings(serial, uid, time, utc_offset, seconds,"
                      " samples, units, rate, usvh, cpm, dose, dose_unit)"
                      " VALUES(?,?,?,?,?,?,?,?,?,?,?,?)");
  insert.Bind(1, r.serial).Bind(2, r.uid).Bind(3, r.time);
  insert.Bind(4, static_cast<int64_t>(r.utcOffsetMinutes)).Bind(5, static_cast<int64_t>(r.seconds));
  insert.Bind(6, static_cast<int64_t>(r.samples)).Bind(7, static_cast<int64_t>(r.units));
  if (r.rate) insert.BindReal(8, *r.rate);
  if (r.microSievertPerHour) insert.BindReal(9, *r.microSievertPerHour);
  insert.BindReal(10, r.cpm).Bind(11, r.dose).Bind(12, r.doseUnit);
  return insert.Run();
}

}  // namespace

StationStore::~StationStore() {
  Close();
}

void StationStore::Close() {
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
}

bool StationStore::Fail(const char* what) {
  error_ = std::string(what) + ": " + (db_ ? sqlite3_errmsg(db_) : "no archive");
  return false;
}

bool StationStore::Open(const std::string& path, const std::string& station) {
  Close();
  error_.clear();
  station_ = station;
  {
    // The history archive's own checks: a file of another program or of a newer version is
    // refused, a new one gets the archive's tables and stamp.
    HistoryArchive archive;
    if (!archive.Open(path)) {
      error_ = archive.Error();
      return false;
    }
  }
  if (OpenArchiveConnection(path, SQLITE_OPEN_READWRITE, &db_) != SQLITE_OK)
    return Fail("the archive could not be opened");
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, 15000);
  // A station keeps its connection for months while the file grows: a small page cache keeps
  // its memory flat (SQLite's default, 2 MB, fills over hours at a reading a second). Writing a
  // reading touches a few pages only.
  sqlite3_exec(db_, "PRAGMA cache_size = -256", nullptr, nullptr, nullptr);
  std::string why;
  if (!MakeStationTables(db_, why)) {
    error_ = "the table of readings could not be made: " + why;
    Close();
    return false;
  }
  // Entries queued before queues had a station are taken over by the first station that opens
  // the archive (until then one station was all that sent from it).
  if (!station_.empty()) {
    SqlStatement adopt(db_, "UPDATE station_queue SET station = ? WHERE station = ''");
    if (!adopt.Bind(1, station_).Run() ||
        (sqlite3_changes(db_) > 0 &&
         sqlite3_exec(db_, kRecountQueue, nullptr, nullptr, nullptr) != SQLITE_OK)) {
      Fail("the queue could not be taken over");
      Close();
      return false;
    }
  }
  return true;
}

bool StationStore::OpenToLook(const std::string& path, int waitMs) {
  Close();
  error_.clear();
  if (path.empty() || !FileIsThere(path)) return false;
  if (OpenArchiveConnection(path, SQLITE_OPEN_READONLY, &db_) != SQLITE_OK) {
    Fail("the archive could not be opened");
    Close();
    return false;
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, waitMs);
  return true;
}

bool StationStore::Exec(const char* sql) {
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool StationStore::Add(const StationReading& r, const std::vector<std::string>& queueFor) {
  dropped_.clear();
  if (!db_) return Fail("the reading could not be kept");
  if (!Exec("BEGIN IMMEDIATE")) return Fail("the reading could not be kept");
  bool ok = InsertReading(db_, r);
  const int64_t id = sqlite3_last_insert_rowid(db_);
  lastId_ = ok ? id : 0;
  SqlStatement queue(db_, "INSERT INTO station_queue(output, reading, station) VALUES(?,?,?)");
  SqlStatement size(db_, "SELECT waiting FROM station_queue_size WHERE station = ? AND output = ?");
  // A queue over its cap loses its oldest entries (their readings stay in the archive).
  SqlStatement drop(db_,
                    "DELETE FROM station_queue WHERE station = ?1 AND output = ?2 AND reading IN"
                    " (SELECT reading FROM station_queue WHERE station = ?1 AND output = ?2"
                    " ORDER BY reading LIMIT ?3)");
  for (const std::string& output : queueFor) {
    if (!ok) break;
    ok = queue.Bind(1, output).Bind(2, id).Bind(3, station_).Run() &&
         AddWaiting(db_, station_, output, 1);
    if (!ok) break;
    size.Bind(1, station_).Bind(2, output);
    const int64_t waiting = size.Step() == SQLITE_ROW ? size.Int(0) : 0;
    size.Reset();
    if (waiting > queueMax_) {
      const int64_t over = waiting - queueMax_;
      ok = drop.Bind(1, station_).Bind(2, output).Bind(3, over).Run() &&
           AddWaiting(db_, station_, output, -sqlite3_changes(db_));
      if (ok) dropped_.emplace_back(output, static_cast<uint64_t>(over));
    }
  }
  if (ok && Exec("COMMIT")) return true;
  dropped_.clear();
  Fail("the reading could not be kept");
  Exec("ROLLBACK");
  lastId_ = 0;
  return false;
}

std::vector<std::pair<int64_t, StationReading>> StationStore::Queued(const std::string& output,
                                                                     size_t count) {
  std::vector<std::pair<int64_t, StationReading>> readings;
  if (!db_) return readings;
  const std::string sql = std::string("SELECT r.id, ") + kReadingColumns +
                          " FROM station_queue q JOIN station_readings r ON r.id = q.reading"
                          " WHERE q.station = ? AND q.output = ? ORDER BY q.reading LIMIT ?";
  SqlStatement select(db_, sql.c_str());
  select.Bind(1, station_).Bind(2, output).Bind(3, static_cast<int64_t>(count));
  int rc;
  while ((rc = select.Step()) == SQLITE_ROW)
    readings.emplace_back(select.Int(0), ReadingAt(select, 1));
  if (rc != SQLITE_DONE) {
    Fail("the queue could not be read");
    readings.clear();
  }
  return readings;
}

bool StationStore::Dequeue(const std::string& output, int64_t id, bool delivered) {
  if (!db_ || !Exec("BEGIN IMMEDIATE")) return Fail("the queue could not be changed");
  SqlStatement remove(db_,
                      "DELETE FROM station_queue WHERE output = ? AND reading = ? AND station = ?");
  SqlStatement sent(db_, "INSERT OR IGNORE INTO station_sent(reading, output) VALUES(?,?)");
  // Only an entry of this station's queue is taken off, and noted as delivered.
  bool ok = remove.Bind(1, output).Bind(2, id).Bind(3, station_).Run();
  const bool removed = ok && sqlite3_changes(db_) > 0;
  if (removed) ok = AddWaiting(db_, station_, output, -1);
  if (ok && delivered && removed) ok = sent.Bind(1, id).Bind(2, output).Run();
  if (ok && Exec("COMMIT")) return true;
  Fail("the queue could not be changed");
  Exec("ROLLBACK");
  return false;
}

bool StationStore::MarkSent(const std::string& output, int64_t id) {
  if (!db_) return Fail("the delivery could not be noted");
  SqlStatement sent(db_, "INSERT OR IGNORE INTO station_sent(reading, output) VALUES(?,?)");
  return sent.Bind(1, id).Bind(2, output).Run() || Fail("the delivery could not be noted");
}

std::vector<std::string> StationStore::SentTo(int64_t id) {
  std::vector<std::string> outputs;
  if (!db_) return outputs;
  SqlStatement select(db_, "SELECT output FROM station_sent WHERE reading = ? ORDER BY output");
  select.Bind(1, id);
  while (select.Step() == SQLITE_ROW)
    outputs.push_back(select.Text(0));
  return outputs;
}

uint64_t StationStore::QueuedCount(const std::string& output) {
  return QueuedCount(station_, output);
}

uint64_t StationStore::QueuedCount(const std::string& station, const std::string& output) {
  if (!db_) return 0;
  SqlStatement count(db_,
                     "SELECT waiting FROM station_queue_size WHERE station = ? AND output = ?");
  count.Bind(1, station).Bind(2, output);
  return count.Step() == SQLITE_ROW && count.Int(0) > 0 ? static_cast<uint64_t>(count.Int(0)) : 0;
}

int64_t StationStore::NewestTime() {
  if (!db_) return 0;
  SqlStatement newest(db_, "SELECT max(time) FROM station_readings");
  return newest.Step() == SQLITE_ROW ? newest.Int(0) : 0;
}

bool StationStore::Prune(int64_t before, size_t most, uint64_t& removed) {
  removed = 0;
  if (!db_ || !Exec("BEGIN IMMEDIATE")) return Fail("old readings could not be removed");
  // The oldest first, by the index on (serial, time): a bounded piece at a time, so that the
  // archive is not held for long.
  Exec("CREATE TEMP TABLE IF NOT EXISTS station_pruned(id INTEGER PRIMARY KEY)");
  SqlStatement choose(db_,
                      "INSERT INTO temp.station_pruned(id) SELECT id FROM station_readings"
                      " WHERE time < ? ORDER BY id LIMIT ?");
  bool ok = Exec("DELETE FROM temp.station_pruned") &&
            choose.Bind(1, before).Bind(2, static_cast<int64_t>(most)).Run();
  removed = ok ? static_cast<uint64_t>(sqlite3_changes(db_)) : 0;
  ok = ok &&
       Exec("DELETE FROM station_queue WHERE reading IN (SELECT id FROM temp.station_pruned)") &&
       Exec(kRecountQueue) &&
       Exec("DELETE FROM station_sent WHERE reading IN (SELECT id FROM temp.station_pruned)") &&
       Exec("DELETE FROM station_readings WHERE id IN (SELECT id FROM temp.station_pruned)");
  if (ok && Exec("COMMIT")) return true;
  Fail("old readings could not be removed");
  Exec("ROLLBACK");
  removed = 0;
  return false;
}

std::vector<StationReading> StationStore::Latest(const std::string& serial, size_t count) {
  std::vector<StationReading> readings;
  if (!db_) return readings;
  const std::string sql = std::string("SELECT r.id, ") + kReadingColumns +
                          " FROM station_readings r WHERE ?1 = '' OR r.serial = ?1"
                          " ORDER BY r.id DESC LIMIT ?2";
  SqlStatement select(db_, sql.c_str());
  select.Bind(1, serial).Bind(2, static_cast<int64_t>(count));
  int rc;
  while ((rc = select.Step()) == SQLITE_ROW)
    readings.push_back(ReadingAt(select, 1));
  if (rc != SQLITE_DONE) {
    Fail("the readings could not be read");
    readings.clear();
  }
  return readings;
}

std::vector<double> StationStore::MeanRates(
    const std::string& serial, const std::vector<std::pair<uint32_t, uint32_t>>& periods) {
  std::vector<double> means(periods.size(), std::numeric_limits<double>::quiet_NaN());
  if (!db_) return means;
  // Local seconds from 2000 = UTC seconds from 1970 + the offset - 946684800. The UTC bounds
  // (any offset within 15 hours) let the index find the rows; the local ones choose them.
  constexpr int64_t k2000 = 946684800;
  constexpr int64_t kWidestOffset = 15 * 3600;
  SqlStatement select(db_,
                      "SELECT sum(usvh * seconds), sum(seconds) FROM station_readings"
                      " WHERE serial = ?1 AND time BETWEEN ?2 AND ?3 AND usvh IS NOT NULL"
                      " AND time + utc_offset * 60 >= ?4 AND time + utc_offset * 60 < ?5");
  for (size_t i = 0; i < periods.size(); ++i) {
    const int64_t from = k2000 + periods[i].first;
    const int64_t to = from + periods[i].second;
    select.Bind(1, serial).Bind(2, from - kWidestOffset).Bind(3, to + kWidestOffset);
    select.Bind(4, from).Bind(5, to);
    if (select.Step() == SQLITE_ROW && !select.IsNull(1) && select.Int(1) > 0)
      means[i] = select.Real(0) / static_cast<double>(select.Int(1));
    select.Reset();
  }
  return means;
}

uint64_t StationStore::Count() {
  if (!db_) return 0;
  SqlStatement count(db_, "SELECT count(*) FROM station_readings");
  return count.Step() == SQLITE_ROW ? static_cast<uint64_t>(count.Int(0)) : 0;
}

bool CarryStationReadings(sqlite3* to, const std::string& from, uint64_t& total, uint64_t& carried,
                          std::string& error) {
  total = carried = 0;
  sqlite3* source = nullptr;
  const int opened = OpenArchiveConnection(from, SQLITE_OPEN_READONLY, &source);
  struct Closer {
    sqlite3* db;
    ~Closer() { sqlite3_close_v2(db); }
  } closer{source};
  auto failed = [&](const std::string& why, sqlite3* db) {
    error = "the station's readings in " + from + ": " + why + ": " + sqlite3_errmsg(db);
    return false;
  };
  if (opened != SQLITE_OK) return failed("the file could not be opened", source);
  sqlite3_busy_timeout(source, 15000);
  {
    SqlStatement has(source,
                     "SELECT count(*) FROM sqlite_master WHERE type='table' AND"
                     " name='station_readings'");
    if (has.Step() != SQLITE_ROW) return failed("the file could not be read", source);
    if (has.Int(0) == 0) return true;  // it never held any
    SqlStatement count(source, "SELECT count(*) FROM station_readings");
    if (count.Step() == SQLITE_ROW) total = static_cast<uint64_t>(count.Int(0));
  }
  if (std::string why; !MakeStationTables(to, why)) {
    error = "the station's readings in " + from + ": the new archive could not take them: " + why;
    return false;
  }
  if (sqlite3_exec(to, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
    return failed("the new archive could not take them", to);
  // Read in the order kept; a damaged page ends the reading, what was read before goes over.
  std::map<int64_t, int64_t> ids;  // the file's row -> the new archive's
  bool ok = true;
  {
    const std::string sql =
        std::string("SELECT r.id, ") + kReadingColumns + " FROM station_readings r ORDER BY r.id";
    SqlStatement select(source, sql.c_str());
    int rc;
    while ((rc = select.Step()) == SQLITE_ROW) {
      const StationReading r = ReadingAt(select, 1);
      if (!InsertReading(to, r)) {
        ok = failed("a reading could not be written", to);
        break;
      }
      ids[r.id] = sqlite3_last_insert_rowid(to);
    }
    if (ok && rc != SQLITE_DONE) ok = failed("not every reading could be read", source);
  }
  // The queue and the deliveries of the readings carried (tables a file may lack read as none).
  // A queue of an earlier version has no station: its entries stay without one, to be taken
  // over as in any archive.
  for (const char* table : {"station_queue", "station_sent"}) {
    const bool queue = std::string(table) == "station_queue";
    const bool stations = queue && HasColumn(source, table, "station");
    const std::string read = std::string("SELECT output, reading") +
                             (stations ? ", station" : ", ''") + " FROM " + table;
    const std::string write =
        std::string("INSERT OR IGNORE INTO ") + table +
        (queue ? "(output, reading, station) VALUES(?,?,?)" : "(output, reading) VALUES(?,?)");
    SqlStatement select(source, read.c_str());
    SqlStatement insert(to, write.c_str());
    while (select.Step() == SQLITE_ROW) {
      const auto id = ids.find(select.Int(1));
      if (id == ids.end()) continue;
      if (queue) insert.Bind(3, select.Text(2));
      if (!insert.Bind(1, select.Text(0)).Bind(2, id->second).Run()) {
        ok = failed("the outputs' queue could not be written", to);
        break;
      }
    }
  }
  if (ok && sqlite3_exec(to, kRecountQueue, nullptr, nullptr, nullptr) != SQLITE_OK)
    ok = failed("the outputs' queue could not be counted", to);
  if (sqlite3_exec(to, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    failed("the readings could not be kept", to);
    sqlite3_exec(to, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
  }
  carried = ids.size();
  return ok;
}

bool StationStore::Announce(const StationStatus& status) {
  if (!db_ || !Exec("BEGIN IMMEDIATE")) return Fail("the station's state could not be kept");
  SqlStatement row(db_,
                   "INSERT OR REPLACE INTO station_status(pid, started, heartbeat, interval, port,"
                   " serial, state, station) VALUES(?,?,?,?,?,?,?,?)");
  row.Bind(1, status.pid).Bind(2, status.started).Bind(3, status.heartbeat);
  row.Bind(4, static_cast<int64_t>(status.interval)).Bind(5, static_cast<int64_t>(status.port));
  row.Bind(6, status.serial).Bind(7, status.state).Bind(8, station_);
  bool ok = row.Run();
  SqlStatement output(db_,
                      "INSERT OR REPLACE INTO station_outputs(pid, started, output, delivered,"
                      " failed, last_success, note) VALUES(?,?,?,?,?,?,?)");
  for (const StationOutputState& o : status.outputs) {
    if (!ok) break;
    output.Bind(1, status.pid).Bind(2, status.started).Bind(3, o.name);
    output.Bind(4, static_cast<int64_t>(o.counts.delivered));
    output.Bind(5, static_cast<int64_t>(o.counts.failed)).Bind(6, o.counts.lastSuccess);
    ok = output.Bind(7, o.note).Run();
  }
  // Stations silent for a day (killed) are forgotten with their outputs.
  if (ok) {
    SqlStatement forgetOutputs(db_,
                               "DELETE FROM station_outputs WHERE (pid, started) IN (SELECT pid,"
                               " started FROM station_status WHERE heartbeat < ?)");
    SqlStatement forget(db_, "DELETE FROM station_status WHERE heartbeat < ?");
    const int64_t before = status.heartbeat - 86400;
    ok = forgetOutputs.Bind(1, before).Run() && forget.Bind(1, before).Run();
  }
  if (ok && Exec("COMMIT")) return true;
  Fail("the station's state could not be kept");
  Exec("ROLLBACK");
  return false;
}

bool StationStore::Withdraw(int64_t pid, int64_t started) {
  if (!db_ || !Exec("BEGIN IMMEDIATE")) return Fail("the station's state could not be removed");
  SqlStatement outputs(db_, "DELETE FROM station_outputs WHERE pid = ? AND started = ?");
  SqlStatement row(db_, "DELETE FROM station_status WHERE pid = ? AND started = ?");
  if (outputs.Bind(1, pid).Bind(2, started).Run() && row.Bind(1, pid).Bind(2, started).Run() &&
      Exec("COMMIT"))
    return true;
  Fail("the station's state could not be removed");
  Exec("ROLLBACK");
  return false;
}

std::vector<StationStatus> StationStore::LiveStations(int64_t now) {
  std::vector<StationStatus> stations;
  if (!db_) return stations;
  // A heartbeat from the future (a clock set back) counts as live until it is silent as long.
  SqlStatement select(db_,
                      "SELECT pid, started, heartbeat, interval, port, serial, state, station FROM"
                      " station_status WHERE heartbeat BETWEEN ?1 - ?2 AND ?1 + ?2"
                      " ORDER BY started, pid");
  select.Bind(1, now).Bind(2, kStationSilenceSeconds);
  while (select.Step() == SQLITE_ROW) {
    StationStatus s;
    s.pid = select.Int(0);
    s.started = select.Int(1);
    s.heartbeat = select.Int(2);
    s.interval = static_cast<int>(select.Int(3));
    s.port = static_cast<int>(select.Int(4));
    s.serial = select.Text(5);
    s.state = select.Text(6);
    s.station = select.Text(7);
    stations.push_back(std::move(s));
  }
  SqlStatement outputs(db_,
                       "SELECT output, delivered, failed, last_success, note FROM station_outputs"
                       " WHERE pid = ? AND started = ? ORDER BY output");
  for (StationStatus& s : stations) {
    outputs.Bind(1, s.pid).Bind(2, s.started);
    while (outputs.Step() == SQLITE_ROW) {
      StationOutputState o;
      o.name = outputs.Text(0);
      o.counts.delivered = static_cast<uint64_t>(outputs.Int(1));
      o.counts.failed = static_cast<uint64_t>(outputs.Int(2));
      o.counts.lastSuccess = outputs.Int(3);
      o.note = outputs.Text(4);
      s.outputs.push_back(std::move(o));
    }
    outputs.Reset();
  }
  return stations;
}

}  // namespace dravion
