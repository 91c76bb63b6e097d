#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "device/history_ring.h"

namespace dravion {

// A history CSV file as the history page's Save CSV writes it, read back: records oldest first,
// each with the coefficient (K x 100) of its line. Records carry kind 0 (a CSV line does not say
// whether it was measured on time or on change) and status 0.
struct HistoryCsvFile {
  bool Ok = false;
  size_t Line = 0;     // where the file is not in that format (counted from 1)
  std::string Reason;  // and why
  std::vector<HistoryRecord> Records;
  std::vector<uint16_t> Coefficients;
};

// Every line must be the ten fields of a record: start (device seconds), its date and clock
// time, duration, pulses, 2, K (10 to 999), 36, 86, and 0 or the row's rate formula; lines end
// in CR LF (or LF), the last one may lack it. Nothing is taken from a file with one bad line; an
// empty line, a byte-order mark and an empty last line are each refused with a reason naming it.
HistoryCsvFile ParseHistoryCsv(std::string_view text);

// The same rules on a file read piece by piece: a line may be split across pieces; only the
// line being read is held. Each record line goes to OnRecord as it is read, in the file's order
// (newest first), with the offset (from the first byte fed) where the line begins.
class HistoryCsvReader {
 public:
  std::function<void(const HistoryRecord& record, uint16_t coefficient, uint64_t lineStart)>
      OnRecord;
  // The next piece of the file; false once a line is not a record line (Line and Reason).
  bool Feed(std::string_view piece);
  // The end of the file: its last line may lack the line end; a file without records is refused.
  bool Finish();
  // Whether a line was begun and not ended.
  bool InLine() const { return !pending_.empty(); }
  size_t Line = 0;  // lines read (counted from 1); the bad one on failure
  std::string Reason;
  uint64_t Records = 0;

 private:
  bool TakeLine(std::string_view line, uint64_t lineStart);
  std::string pending_;   // the start of a line a piece ended in
  uint64_t offset_ = 0;   // bytes fed
  size_t emptyLine_ = 0;  // the first empty line met (counted from 1), refused once it is known
                          // whether a record line follows it
  bool failed_ = false;
};

}  // namespace dravion
