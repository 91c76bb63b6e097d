#pragma once

#include <string>

#include "archive/history_archive.h"
#include "services/language.h"

namespace dravion {

class HistoryController;

// What a read of new records brought: the merge's sentence ("1,440 new records, 0 already in the
// archive") and how much of the ring was read ("1,440 of 65,279 records of the ring read").
std::string NewRecordsMessage(const MergeResult& merged, const HistoryController& download,
                              const Language& language);

}  // namespace dravion
