#include <gtest/gtest.h>

#include "device/history_csv.h"
#include "device/history_records.h"

namespace dravion {
namespace {

HistoryRecord Record(uint32_t start, uint16_t duration, uint32_t pulses) {
  HistoryRecord r;
  r.Kind = kKindOnTime;
  r.Status = 0;
  r.Start = start;
  r.Duration = duration;
  r.Pulses = pulses;
  return r;
}

TEST(HistoryCsv, LinesCarryTheRecordAndARateFormulaOverTheirOwnRow) {
  HistoryCsv csv;
  AppendCsvLine(csv, Record(131371200, 60, 1200), 127);
  EXPECT_EQ(csv.CsvText,
            "131371200;29.02.2004;12:00:00;60;1200;2;127;36;86;=E1*G1*H1/(D1*F1*I1)\r\n");
  AppendCsvLine(csv, Record(0, 0, 7), 999);
  for (int i = 0; i < 9; ++i)
    AppendCsvLine(csv, Record(86400 * 366 + 59, 5, 1), 10);
  EXPECT_EQ(csv.CsvLineCount, 11u);
  const std::string text = csv.CsvText;
  // A record without duration gives 0 in place of the formula.
  EXPECT_NE(text.find("\r\n0;01.01.2000;00:00:00;0;7;2;999;36;86;0\r\n"), std::string::npos);
  EXPECT_TRUE(text.ends_with(
      "\r\n31622459;01.01.2001;00:00:59;5;1;2;10;36;86;=E11*G11*H11/(D11*F11*I11)\r\n"));
}

TEST(HistoryCsv, TheTextStopsGrowingBelowEightMebibytesButRowsStillCount) {
  HistoryCsv csv;
  const std::string line = CsvLine(Record(131371200, 60, 1200), 1, 127);
  csv.CsvText.assign(kCsvTextLimit - line.size() - 5, 'x');
  AppendCsvLine(csv, Record(131371200, 60, 1200), 127);  // fits
  const size_t size = csv.CsvText.size();
  EXPECT_LT(size, kCsvTextLimit);
  AppendCsvLine(csv, Record(131371200, 60, 1200), 127);  // would reach the limit
  EXPECT_EQ(csv.CsvText.size(), size);
  EXPECT_EQ(csv.CsvLineCount, 2u);
}

TEST(HistoryCsv, ASectorGivesItsUsableRecordsNewestFirstWithoutPositionZero) {
  HistoryRing ring;
  std::vector<test::StoredRecord> records(512);
  for (uint32_t i = 0; i < 512; ++i)
    records[i] = {1000 + 60 * i, i, 60};
  records[256 + 0].kind = kKindOnTime;  // position 0 of sector 1: a measurement, still skipped
  records[256 + 3].status = 1;          // flagged
  records[256 + 4].kind = 0x02;         // an event record
  records[256 + 5].kind = kKindOnChange;
  records[256 + 5].duration = 0;
  test::LoadRing(ring, records);
  HistoryCsv csv;
  AppendSectorCsv(csv, ring, 1, 127);
  EXPECT_EQ(csv.CsvLineCount, 255u - 2);
  const std::string first = CsvLine(HistoryRecord::FromBytes(ring.RecordBytes(511)), 1, 127);
  EXPECT_TRUE(csv.CsvText.starts_with(first));
  const std::string last = CsvLine(HistoryRecord::FromBytes(ring.RecordBytes(257)), 253, 127);
  EXPECT_TRUE(csv.CsvText.ends_with(last));
  EXPECT_EQ(csv.CsvText.find(std::to_string(1000 + 60 * 256) + ";"), std::string::npos);
  EXPECT_EQ(csv.CsvText.find(std::to_string(1000 + 60 * 259) + ";"), std::string::npos);
  EXPECT_NE(csv.CsvText.find(std::to_string(1000 + 60 * 261) + ";"), std::string::npos);
  EXPECT_NE(csv.CsvText.find(";0;261;2;127;36;86;0\r\n"), std::string::npos);
}

}  // namespace
}  // namespace dravion
