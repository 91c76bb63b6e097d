#pragma once

#include <string>

struct sqlite3;

namespace dravion {

// Opens a connection to a history archive file (the user's own, one moved aside, another
// computer's given to an import) as every connection to one is opened: the file is data, never
// code. Its schema is not trusted (no function with side effects in a view, trigger or default,
// no virtual table), triggers and views do not run, extensions cannot be loaded, and the
// defensive mode refuses writes that would damage the file (the schema written directly). The
// archive's own tables use none of these. Result codes are extended. Returns sqlite3_open_v2's
// result; `db` is to be closed by the caller also when that failed.
int OpenArchiveConnection(const std::string& path, int flags, sqlite3** db);

}  // namespace dravion
