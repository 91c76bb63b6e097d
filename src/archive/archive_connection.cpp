#include "archive/archive_connection.h"

#include <sqlite3.h>

namespace dravion {

int OpenArchiveConnection(const std::string& path, int flags, sqlite3** db) {
  const int rc = sqlite3_open_v2(path.c_str(), db, flags, nullptr);
  if (*db == nullptr) return rc;
  sqlite3_extended_result_codes(*db, 1);
  // Each setting must take: a library that lacks one opens nothing.
  const int settings[][2] = {{SQLITE_DBCONFIG_DEFENSIVE, 1},
                             {SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0},
                             {SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0},
                             {SQLITE_DBCONFIG_ENABLE_TRIGGER, 0},
                             {SQLITE_DBCONFIG_ENABLE_VIEW, 0}};
  for (const auto& [option, value] : settings) {
    if (sqlite3_db_config(*db, option, value, nullptr) != SQLITE_OK) return SQLITE_ERROR;
  }
  return rc;
}

}  // namespace dravion
