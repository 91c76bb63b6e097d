#pragma once

#include <cstddef>
#include <cstdint>
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
// in CR LF (or LF), the last one may lack it. Nothing is taken from a file with one bad line.
HistoryCsvFile ParseHistoryCsv(std::string_view text);

}  // namespace dravion
