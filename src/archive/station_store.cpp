#include "archive/station_store.h"

#include <sqlite3.h>

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
    // Readings an output has still to deliver.
    "CREATE TABLE IF NOT EXISTS station_queue(output TEXT NOT NULL, reading INTEGER NOT NULL,"
    " PRIMARY KEY(output, reading)) WITHOUT ROWID;";

constexpr const char* kReadingColumns =
    "r.serial, r.uid, r.time, r.utc_offset, r.seconds, r.samples, r.units, r.rate, r.usvh, r.cpm,"
    " r.dose, r.dose_unit";

StationReading ReadingAt(const SqlStatement& select, int first) {
  StationReading r;
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

bool StationStore::Open(const std::string& path) {
  Close();
  error_.clear();
  {
    // The history archive's own checks: a file of another program or of a newer version is
    // refused, a new one gets the archive's tables and stamp.
    HistoryArchive archive;
    if (!archive.Open(path)) {
      error_ = archive.Error();
      return false;
    }
  }
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
    return Fail("the archive could not be opened");
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, 15000);
  char* message = nullptr;
  if (sqlite3_exec(db_, kReadingsSchema, nullptr, nullptr, &message) != SQLITE_OK) {
    error_ = std::string("the table of readings could not be made: ") +
             (message ? message : sqlite3_errmsg(db_));
    sqlite3_free(message);
    Close();
    return false;
  }
  return true;
}

bool StationStore::Exec(const char* sql) {
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool StationStore::Add(const StationReading& r, const std::vector<std::string>& queueFor) {
  if (!db_) return Fail("the reading could not be kept");
  if (!Exec("BEGIN IMMEDIATE")) return Fail("the reading could not be kept");
  SqlStatement insert(db_,
                      "INSERT INTO station_readings(serial, uid, time, utc_offset, seconds,"
                      " samples, units, rate, usvh, cpm, dose, dose_unit)"
                      " VALUES(?,?,?,?,?,?,?,?,?,?,?,?)");
  insert.Bind(1, r.serial).Bind(2, r.uid).Bind(3, r.time);
  insert.Bind(4, static_cast<int64_t>(r.utcOffsetMinutes)).Bind(5, static_cast<int64_t>(r.seconds));
  insert.Bind(6, static_cast<int64_t>(r.samples)).Bind(7, static_cast<int64_t>(r.units));
  if (r.rate) insert.BindReal(8, *r.rate);
  if (r.microSievertPerHour) insert.BindReal(9, *r.microSievertPerHour);
  insert.BindReal(10, r.cpm).Bind(11, r.dose).Bind(12, r.doseUnit);
  bool ok = insert.Step() == SQLITE_DONE;
  const int64_t id = sqlite3_last_insert_rowid(db_);
  SqlStatement queue(db_, "INSERT INTO station_queue(output, reading) VALUES(?,?)");
  for (const std::string& output : queueFor) {
    if (!ok) break;
    ok = queue.Bind(1, output).Bind(2, id).Run();
  }
  if (ok && Exec("COMMIT")) return true;
  Fail("the reading could not be kept");
  Exec("ROLLBACK");
  return false;
}

std::vector<std::pair<int64_t, StationReading>> StationStore::Queued(const std::string& output,
                                                                     size_t count) {
  std::vector<std::pair<int64_t, StationReading>> readings;
  if (!db_) return readings;
  const std::string sql = std::string("SELECT r.id, ") + kReadingColumns +
                          " FROM station_queue q JOIN station_readings r ON r.id = q.reading"
                          " WHERE q.output = ? ORDER BY q.reading LIMIT ?";
  SqlStatement select(db_, sql.c_str());
  select.Bind(1, output).Bind(2, static_cast<int64_t>(count));
  int rc;
  while ((rc = select.Step()) == SQLITE_ROW)
    readings.emplace_back(select.Int(0), ReadingAt(select, 1));
  if (rc != SQLITE_DONE) {
    Fail("the queue could not be read");
    readings.clear();
  }
  return readings;
}

bool StationStore::Dequeue(const std::string& output, int64_t id) {
  if (!db_) return Fail("the queue could not be changed");
  SqlStatement remove(db_, "DELETE FROM station_queue WHERE output = ? AND reading = ?");
  return remove.Bind(1, output).Bind(2, id).Run() || Fail("the queue could not be changed");
}

uint64_t StationStore::QueuedCount(const std::string& output) {
  if (!db_) return 0;
  SqlStatement count(db_, "SELECT count(*) FROM station_queue WHERE output = ?");
  count.Bind(1, output);
  return count.Step() == SQLITE_ROW ? static_cast<uint64_t>(count.Int(0)) : 0;
}

std::vector<StationReading> StationStore::Latest(const std::string& serial, size_t count) {
  std::vector<StationReading> readings;
  if (!db_) return readings;
  const std::string sql = std::string("SELECT ") + kReadingColumns +
                          " FROM station_readings r WHERE ?1 = '' OR r.serial = ?1"
                          " ORDER BY r.id DESC LIMIT ?2";
  SqlStatement select(db_, sql.c_str());
  select.Bind(1, serial).Bind(2, static_cast<int64_t>(count));
  int rc;
  while ((rc = select.Step()) == SQLITE_ROW)
    readings.push_back(ReadingAt(select, 0));
  if (rc != SQLITE_DONE) {
    Fail("the readings could not be read");
    readings.clear();
  }
  return readings;
}

uint64_t StationStore::Count() {
  if (!db_) return 0;
  SqlStatement count(db_, "SELECT count(*) FROM station_readings");
  return count.Step() == SQLITE_ROW ? static_cast<uint64_t>(count.Int(0)) : 0;
}

}  // namespace dravion
