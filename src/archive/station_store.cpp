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
    "CREATE INDEX IF NOT EXISTS station_readings_by_serial ON station_readings(serial, id);";

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

bool StationStore::Add(const StationReading& r) {
  if (!db_) return Fail("the reading could not be kept");
  SqlStatement insert(db_,
                      "INSERT INTO station_readings(serial, uid, time, utc_offset, seconds,"
                      " samples, units, rate, usvh, cpm, dose, dose_unit)"
                      " VALUES(?,?,?,?,?,?,?,?,?,?,?,?)");
  if (!insert.Ok()) return Fail("the reading could not be kept");
  insert.Bind(1, r.serial)
      .Bind(2, r.uid)
      .Bind(3, r.time)
      .Bind(4, static_cast<int64_t>(r.utcOffsetMinutes))
      .Bind(5, static_cast<int64_t>(r.seconds))
      .Bind(6, static_cast<int64_t>(r.samples))
      .Bind(7, static_cast<int64_t>(r.units));
  if (r.rate) insert.BindReal(8, *r.rate);
  if (r.microSievertPerHour) insert.BindReal(9, *r.microSievertPerHour);
  insert.BindReal(10, r.cpm).Bind(11, r.dose).Bind(12, r.doseUnit);
  // One statement outside a transaction is a transaction of its own.
  if (insert.Step() != SQLITE_DONE) return Fail("the reading could not be kept");
  return true;
}

std::vector<StationReading> StationStore::Latest(const std::string& serial, size_t count) {
  std::vector<StationReading> readings;
  if (!db_) return readings;
  SqlStatement select(db_,
                      "SELECT serial, uid, time, utc_offset, seconds, samples, units, rate, usvh,"
                      " cpm, dose, dose_unit FROM station_readings"
                      " WHERE ?1 = '' OR serial = ?1 ORDER BY id DESC LIMIT ?2");
  select.Bind(1, serial).Bind(2, static_cast<int64_t>(count));
  int rc;
  while ((rc = select.Step()) == SQLITE_ROW) {
    StationReading r;
    r.serial = select.Text(0);
    r.uid = select.Text(1);
    r.time = select.Int(2);
    r.utcOffsetMinutes = static_cast<int>(select.Int(3));
    r.seconds = static_cast<int>(select.Int(4));
    r.samples = static_cast<int>(select.Int(5));
    r.units = static_cast<uint32_t>(select.Int(6));
    r.rateUnit = RateUnitCode(r.units);
    if (!select.IsNull(7)) r.rate = select.Real(7);
    if (!select.IsNull(8)) r.microSievertPerHour = select.Real(8);
    r.cpm = select.Real(9);
    r.dose = select.Text(10);
    r.doseUnit = select.Text(11);
    readings.push_back(std::move(r));
  }
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
