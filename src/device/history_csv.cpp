#include "device/history_csv.h"

#include "device/device_time.h"

namespace dravion {

std::string CsvLine(const HistoryRecord& record, uint32_t row, uint32_t coefficient) {
  const TimeRecord start = TimeRecordFromSeconds(record.Start);
  const std::string n = std::to_string(row);
  std::string line;
  line.reserve(96);
  line += std::to_string(record.Start);
  line += ';';
  line += FormatDeviceDate(start);
  line += ';';
  line += FormatDeviceClock(start);
  line += ';';
  line += std::to_string(record.Duration);
  line += ';';
  line += std::to_string(record.Pulses);
  line += ";2;";
  line += std::to_string(coefficient);
  line += ";36;86;";
  if (record.Duration == 0) {
    line += '0';
  } else {
    line += "=E" + n + "*G" + n + "*H" + n + "/(D" + n + "*F" + n + "*I" + n + ")";
  }
  line += "\r\n";
  return line;
}

void AppendCsvLine(HistoryCsv& csv, const HistoryRecord& record, uint32_t coefficient) {
  ++csv.CsvLineCount;
  std::string line = CsvLine(record, csv.CsvLineCount, coefficient);
  if (csv.CsvText.size() + line.size() < kCsvTextLimit) csv.CsvText += line;
}

void AppendSectorCsv(HistoryCsv& csv, const HistoryRing& ring, uint32_t sector,
                     uint32_t coefficient, const std::function<bool(uint32_t)>& take) {
  for (uint32_t i = kHistorySectorRecords - 1; i >= 1; --i) {
    const uint32_t physical = sector * kHistorySectorRecords + i;
    if (take && !take(physical)) continue;
    const HistoryRecord record = HistoryRecord::FromBytes(ring.RecordBytes(physical));
    if (record.IsMeasurement()) AppendCsvLine(csv, record, coefficient);
  }
}

}  // namespace dravion
