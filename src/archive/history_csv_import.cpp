#include "archive/history_csv_import.h"

#include <algorithm>

#include "device/device_time.h"

namespace dravion {

namespace {

// Longer than any record line (ten short fields and the rate formula).
constexpr size_t kLongestLine = 4096;

// A decimal number of at most `digits` digits, no sign or blank.
bool Number(std::string_view text, size_t digits, uint64_t& value) {
  if (text.empty() || text.size() > digits) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

// "=E7*G7*H7/(D7*F7*I7)": the same row number throughout.
bool RateFormula(std::string_view text) {
  if (text.size() < 3 || text.substr(0, 2) != "=E") return false;
  size_t digits = 0;
  while (2 + digits < text.size() && text[2 + digits] >= '0' && text[2 + digits] <= '9')
    ++digits;
  if (digits == 0 || digits > 10) return false;
  const std::string n(text.substr(2, digits));
  return text == "=E" + n + "*G" + n + "*H" + n + "/(D" + n + "*F" + n + "*I" + n + ")";
}

// The reason a line is not a record line, or empty.
std::string CheckLine(std::string_view line, HistoryRecord& record, uint16_t& coefficient) {
  std::vector<std::string_view> fields;
  for (size_t from = 0;;) {
    const size_t semicolon = line.find(';', from);
    fields.push_back(line.substr(from, semicolon - from));
    if (semicolon == std::string_view::npos) break;
    from = semicolon + 1;
  }
  if (fields.size() != 10)
    return std::to_string(fields.size()) + " fields where a record line has 10";
  uint64_t start = 0, duration = 0, pulses = 0, k = 0;
  if (!Number(fields[0], 10, start) || start > 0xFFFFFFFFu) return "the start is not a number";
  const TimeRecord time = TimeRecordFromSeconds(static_cast<uint32_t>(start));
  if (fields[1] != FormatDeviceDate(time) || fields[2] != FormatDeviceClock(time))
    return "the date and time are not those of the start";
  if (!Number(fields[3], 5, duration) || duration > 0xFFFF) return "the duration is not a number";
  if (!Number(fields[4], 10, pulses) || pulses > 0xFFFFFFFFu) return "the pulses are not a number";
  if (fields[5] != "2" || fields[7] != "36" || fields[8] != "86")
    return "the constant fields are not 2, 36 and 86";
  if (!Number(fields[6], 3, k) || k < 10) return "the coefficient is not one of 10 to 999";
  if (duration == 0 ? fields[9] != "0" : !RateFormula(fields[9]))
    return "the last field is not the rate formula";
  record = HistoryRecord{};
  record.Kind = 0;
  record.Status = 0;
  record.Start = static_cast<uint32_t>(start);
  record.Duration = static_cast<uint16_t>(duration);
  record.Pulses = static_cast<uint32_t>(pulses);
  coefficient = static_cast<uint16_t>(k);
  return {};
}

}  // namespace

bool HistoryCsvReader::TakeLine(std::string_view line, uint64_t lineStart) {
  ++Line;
  std::string_view content = line;
  if (!content.empty() && content.back() == '\n') content.remove_suffix(1);
  if (!content.empty() && content.back() == '\r') content.remove_suffix(1);
  // An empty line is refused where a record line follows it; at the end of the file (an editor's
  // last line end), Finish names it so.
  if (content.empty()) {
    if (emptyLine_ == 0) emptyLine_ = Line;
    return true;
  }
  if (emptyLine_ != 0) {
    Line = emptyLine_;
    Reason = "an empty line";
    failed_ = true;
    return false;
  }
  HistoryRecord record;
  uint16_t k = 0;
  Reason = Line == 1 && content.substr(0, 3) == "\xEF\xBB\xBF"
               ? "the file begins with a UTF-8 byte-order mark, which a history CSV file does not"
                 " have (saved again by another program?)"
               : CheckLine(content, record, k);
  if (!Reason.empty()) {
    failed_ = true;
    return false;
  }
  ++Records;
  if (OnRecord) OnRecord(record, k, lineStart);
  return true;
}

bool HistoryCsvReader::Feed(std::string_view piece) {
  if (failed_) return false;
  const uint64_t pieceStart = offset_;
  offset_ += piece.size();
  size_t from = 0;
  if (!pending_.empty()) {
    // The line the piece before ended in.
    const size_t end = piece.find('\n');
    const size_t take = end == std::string_view::npos ? piece.size() : end + 1;
    if (pending_.size() + take > kLongestLine) {
      ++Line;
      Reason = "the line is too long to be a record line";
      failed_ = true;
      return false;
    }
    pending_.append(piece.substr(0, take));
    if (end == std::string_view::npos) return true;
    const std::string line = std::move(pending_);
    pending_.clear();
    if (!TakeLine(line, pieceStart + take - line.size())) return false;
    from = take;
  }
  while (from < piece.size()) {
    const size_t end = piece.find('\n', from);
    if (end == std::string_view::npos) {
      // Carried into the next piece; a line longer than any record line is refused here.
      if (piece.size() - from > kLongestLine) {
        ++Line;
        Reason = "the line is too long to be a record line";
        failed_ = true;
        return false;
      }
      pending_.assign(piece.substr(from));
      return true;
    }
    if (!TakeLine(piece.substr(from, end + 1 - from), pieceStart + from)) return false;
    from = end + 1;
  }
  return true;
}

bool HistoryCsvReader::Finish() {
  if (failed_) return false;
  if (!pending_.empty()) {
    const std::string line = std::move(pending_);
    pending_.clear();
    if (!TakeLine(line, offset_ - line.size())) return false;
  }
  if (Records == 0) {
    Line = 1;
    Reason = "the file holds no record lines";
    failed_ = true;
    return false;
  }
  if (emptyLine_ != 0) {
    Line = emptyLine_;
    Reason = "an empty line at the end of the file, after the last record line";
    failed_ = true;
    return false;
  }
  return true;
}

HistoryCsvFile ParseHistoryCsv(std::string_view text) {
  HistoryCsvFile file;
  HistoryCsvReader reader;
  reader.OnRecord = [&](const HistoryRecord& record, uint16_t k, uint64_t) {
    file.Records.push_back(record);
    file.Coefficients.push_back(k);
  };
  if (!reader.Feed(text) || !reader.Finish()) {
    file = HistoryCsvFile{};
    file.Line = reader.Line;
    file.Reason = reader.Reason;
    return file;
  }
  // The file is newest first.
  std::reverse(file.Records.begin(), file.Records.end());
  std::reverse(file.Coefficients.begin(), file.Coefficients.end());
  file.Ok = true;
  return file;
}

}  // namespace dravion
