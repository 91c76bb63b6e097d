#pragma once

#include <string>

#include "archive/history_archive.h"
#include "services/language.h"

namespace dravion {

class HistoryController;

// How much of the ring the last read took ("1,440 of 65,279 records of the ring read").
std::string RingReadText(const HistoryController& download, const Language& language);
// What a read of new records brought: the merge's sentence ("1,440 new records, 0 already in the
// archive") and how much of the ring was read.
std::string NewRecordsMessage(const MergeResult& merged, const HistoryController& download,
                              const Language& language);

}  // namespace dravion
