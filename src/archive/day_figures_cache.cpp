#include "archive/day_figures_cache.h"

#include <sqlite3.h>

#include <string>

#include "archive/sqlite_statement.h"

namespace dravion {

namespace {

const char* const kFigureDaysTable =
    "CREATE TABLE IF NOT EXISTS figure_days(device INTEGER NOT NULL, start INTEGER NOT NULL,"
    " pulses_k INTEGER NOT NULL, covered INTEGER NOT NULL, records INTEGER NOT NULL,"
    " first_start INTEGER, last_end INTEGER, gaps INTEGER NOT NULL, longest_gap INTEGER NOT NULL,"
    " max_rate REAL, max_at INTEGER, min_rate REAL, min_at INTEGER,"
    " rated_seconds INTEGER NOT NULL, rates BLOB, counted_seconds REAL NOT NULL,"
    " counted_pulses REAL NOT NULL, weighted_pulses REAL NOT NULL,"
    " weighted_squares REAL NOT NULL, largest_weight REAL NOT NULL, exposure REAL NOT NULL,"
    " PRIMARY KEY(device, start)) WITHOUT ROWID";
const char* const kRulesTable =
    "CREATE TABLE IF NOT EXISTS figure_days_rules(rules INTEGER NOT NULL)";

bool Exec(sqlite3* db, const std::string& sql) {
  return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The rules the kept rows were made by: 0 for rows made before they were written down (or none).
int KeptRules(sqlite3* db) {
  SqlStatement select(db, "SELECT max(rules) FROM figure_days_rules");
  return select.Step() == SQLITE_ROW ? static_cast<int>(select.Int(0)) : -1;
}

}  // namespace

bool PrepareDayFigures(sqlite3* db) {
  // Tables that are there already are not written to: a reader of a busy file goes on.
  SqlStatement tables(db,
                      "SELECT count(*) FROM sqlite_master WHERE type='table' AND name IN"
                      " ('figure_days', 'figure_days_rules')");
  const bool present = tables.Step() == SQLITE_ROW && tables.Int(0) == 2;
  tables.Reset();
  if (present && KeptRules(db) == kDayFiguresRules) return true;
  if (!Exec(db, "SAVEPOINT day_figures")) return false;
  // Rows of other rules may lack columns these need: their table is made anew.
  bool made = Exec(db, kRulesTable);
  const int kept = made ? KeptRules(db) : -1;
  made = kept != -1 &&
         (kept == kDayFiguresRules || (Exec(db, "DROP TABLE IF EXISTS figure_days") &&
                                       Exec(db, "DELETE FROM figure_days_rules") &&
                                       Exec(db, "INSERT INTO figure_days_rules(rules) VALUES(" +
                                                    std::to_string(kDayFiguresRules) + ")"))) &&
         Exec(db, kFigureDaysTable);
  if (!made) {
    Exec(db, "ROLLBACK TO day_figures");
    Exec(db, "RELEASE day_figures");
    return false;
  }
  return Exec(db, "RELEASE day_figures");
}

bool ForgetDayFigures(sqlite3* db, int64_t device, const std::set<uint32_t>& days) {
  if (days.empty()) return true;
  SqlStatement present(db, "SELECT 1 FROM sqlite_master WHERE type='table' AND name='figure_days'");
  const int rc = present.Step();
  if (rc == SQLITE_DONE) return true;  // nothing kept yet
  if (rc != SQLITE_ROW) return false;
  SqlStatement forget(db, "DELETE FROM figure_days WHERE device=?1 AND start=?2");
  for (const uint32_t day : days) {
    if (!forget.Bind(1, device).Bind(2, day).Run()) return false;
  }
  return true;
}

}  // namespace dravion
