#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "device/history_ring.h"

namespace dravion {

// The CSV text is kept below 8 MiB.
inline constexpr size_t kCsvTextLimit = 0x800000;

// The CSV text built while the ring is read: one line per measurement record, newest first, each
// line ending in CR LF, no header. The last column is a spreadsheet formula for the dose rate
// in µR/h over the line's own row.
struct HistoryCsv {
  std::string CsvText;
  uint32_t CsvLineCount = 0;  // records offered so far: the row number of the last line

  void Clear() {
    CsvText.clear();
    CsvLineCount = 0;
  }
};

// The line of a record as row `row` (counted from 1), CR LF included.
std::string CsvLine(const HistoryRecord& record, uint32_t row, uint32_t coefficient);
// Offers a record as the next row; the line is kept only while the text stays below the limit.
void AppendCsvLine(HistoryCsv& csv, const HistoryRecord& record, uint32_t coefficient);
// The lines of one downloaded sector: positions 255 down to 1 (a sector's position 0 never gives
// a line), usable measurements only; with `take`, only those of the physical indexes it takes.
void AppendSectorCsv(HistoryCsv& csv, const HistoryRing& ring, uint32_t sector,
                     uint32_t coefficient, const std::function<bool(uint32_t)>& take = {});

}  // namespace dravion
