#pragma once

#include <cstdint>
#include <set>

struct sqlite3;

namespace dravion {

// The figures of each day kept in the archive beside the day sums (table figure_days), so that
// the figures of years need not read every record. The figures' reader makes a day's row when it
// needs it; every merge forgets the rows of the days it changed, whatever it added (a record of
// no pulses and no time changes a day's count but not its sums); and a program whose rules for
// the figures differ from those the rows were made by forgets them all.

// The rules the kept rows follow: raised whenever what a day's figures hold or how they are
// made changes.
inline constexpr int kDayFiguresRules = 3;

// Makes the tables when missing and forgets rows made by other rules (their table is made
// anew, with the columns of these). False when the file
// cannot take that now (read-only, another program writing): the figures are then made without
// the kept rows, and none is written.
bool PrepareDayFigures(sqlite3* db);

// Forgets one device's kept rows for the days (their starts, device seconds) a merge changed;
// inside the merge's transaction. False on a failed write.
bool ForgetDayFigures(sqlite3* db, int64_t device, const std::set<uint32_t>& days);

}  // namespace dravion
