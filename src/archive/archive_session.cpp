#include "archive/archive_session.h"

#include <algorithm>
#include <cstdint>

#include "archive/archive_stats.h"
#include "archive/history_csv_import.h"
#include "device/device_time.h"
#include "device/history_controller.h"
#include "protocol/device_format.h"
#include "protocol/identification.h"

namespace dravion {

namespace {

// Russian noun forms after a number: 1 запись, 2 записи, 5 записей.
const char* RussianForm(uint64_t n, const char* one, const char* few, const char* many) {
  const uint64_t lastTwo = n % 100, last = n % 10;
  if (lastTwo >= 11 && lastTwo <= 14) return many;
  if (last == 1) return one;
  if (last >= 2 && last <= 4) return few;
  return many;
}

}  // namespace

std::string ArchiveSerialOf(const DeviceInfo& device) {
  return FormatSerial(SerialBytes(device.Factory), "-");
}

std::string ArchiveUidOf(const DeviceInfo& device) {
  return FormatUid(device.Uid);
}

ArchiveBatch BatchFromDownload(const HistoryController& download, const DeviceInfo& device) {
  ArchiveBatch batch;
  batch.Serial = ArchiveSerialOf(device);
  batch.Uid = ArchiveUidOf(device);
  batch.DeviceTime = SecondsFromTimeRecord(download.HistoryDeviceTime);
  batch.Coefficient = download.HistoryCoefficient;
  batch.Ring = download.Ring.Ring;
  batch.Records = download.ReadRecords();
  return batch;
}

MergeResult MergeIntoArchive(HistoryArchive& archive, const ArchiveBatch& batch,
                             const Language& language, std::string& notice) {
  notice.clear();
  MergeResult result = archive.Merge(batch);
  if (!result.Ok && archive.Damaged()) {
    if (!archive.StartAgain()) {
      result.Error = archive.Error();
      return result;
    }
    notice = MovedAsideMessage(archive, language);
    result = archive.Merge(batch);
  }
  return result;
}

CsvImportPlan PlanCsvImport(FileReader& file, size_t partRecords, size_t pieceBytes) {
  CsvImportPlan plan;
  HistoryCsvReader reader;
  uint64_t inPart = 0;
  uint32_t previousStart = 0;
  reader.OnRecord = [&](const HistoryRecord& r, uint16_t k, uint64_t lineStart) {
    if (plan.PartStarts.empty()) {
      plan.NewestCoefficient = k;
      plan.PartStarts.push_back(lineStart);
      plan.PartRecords.push_back(0);
    } else if (inPart >= partRecords && r.Start != previousStart) {
      plan.PartStarts.push_back(lineStart);
      plan.PartRecords.push_back(0);
      inPart = 0;
    }
    ++inPart;
    ++plan.PartRecords.back();
    previousStart = r.Start;
  };
  std::string piece(pieceBytes, '\0');
  for (;;) {
    size_t got = 0;
    if (!file.Read(piece.data(), piece.size(), got, plan.ReadError)) return plan;
    if (got == 0) break;
    if (!reader.Feed(std::string_view(piece.data(), got))) break;
  }
  if (!reader.Reason.empty() || !reader.Finish()) {
    plan.Line = reader.Line;
    plan.Reason = reader.Reason;
    plan.PartStarts.clear();
    plan.PartRecords.clear();
    return plan;
  }
  plan.Records = reader.Records;
  plan.Ok = true;
  return plan;
}

CsvImportResult ImportCsvParts(HistoryArchive& archive, FileReader& file, const CsvImportPlan& plan,
                               ArchiveBatch batch, const Language& language, std::string& notice,
                               size_t pieceBytes) {
  CsvImportResult result;
  notice.clear();
  batch.Coefficient = plan.NewestCoefficient;
  batch.OnceEach = true;
  std::string piece(pieceBytes, '\0');
  for (size_t part = plan.PartStarts.size(); part-- > 0;) {
    // The part's lines, newest first as the file holds them, read again: a file changed since
    // it was checked is not taken further.
    batch.Records.clear();
    batch.Coefficients.clear();
    HistoryCsvReader reader;
    reader.OnRecord = [&](const HistoryRecord& r, uint16_t k, uint64_t) {
      batch.Records.push_back(r);
      batch.Coefficients.push_back(k);
    };
    const bool last = part + 1 == plan.PartStarts.size();
    uint64_t left = last ? UINT64_MAX : plan.PartStarts[part + 1] - plan.PartStarts[part];
    bool read = file.Seek(plan.PartStarts[part], result.Error);
    while (read && left > 0) {
      size_t got = 0;
      read = file.Read(piece.data(), static_cast<size_t>(std::min<uint64_t>(piece.size(), left)),
                       got, result.Error);
      if (!read || got == 0) break;
      left -= got;
      read = reader.Feed(std::string_view(piece.data(), got));
    }
    if (read) read = last ? reader.Finish() : !reader.InLine() && left == 0;
    if (!read || reader.Records != plan.PartRecords[part]) {
      if (result.Error.empty()) result.Error = "the file changed while it was imported";
      return result;
    }
    std::reverse(batch.Records.begin(), batch.Records.end());
    std::reverse(batch.Coefficients.begin(), batch.Coefficients.end());
    batch.Continues = result.PartsMerged > 0;
    std::string moved;
    const MergeResult merged = MergeIntoArchive(archive, batch, language, moved);
    if (!moved.empty()) notice += (notice.empty() ? "" : "\n") + moved;
    if (!merged.Ok) {
      result.Error = merged.Error;
      return result;
    }
    MergeResult& sum = result.Merged;
    if (merged.NewRunRecords > 0 && sum.NewRunRecords == 0) {
      sum.NewRunStart = merged.NewRunStart;
      sum.SetBackBy = merged.SetBackBy;
    }
    sum.Added += merged.Added;
    sum.AlreadyThere += merged.AlreadyThere;
    sum.Conflicts += merged.Conflicts;
    sum.Compared += merged.Compared;
    sum.ClockSetBack = sum.ClockSetBack || merged.ClockSetBack;
    sum.NewRunRecords += merged.NewRunRecords;
    ++result.PartsMerged;
  }
  result.Merged.Ok = true;
  result.Ok = true;
  return result;
}

std::string GroupedNumber(uint64_t value, const Language& language) {
  const std::string digits = std::to_string(value);
  const std::string separator = language.Current() == Lang::Russian ? "\xC2\xA0" : ",";
  std::string text;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text += separator;
    text += digits[i];
  }
  return text;
}

std::string MergeMessage(const MergeResult& result, const Language& language) {
  const std::string added = GroupedNumber(result.Added, language);
  const std::string there = GroupedNumber(result.AlreadyThere, language);
  std::string text;
  if (language.Current() == Lang::Russian) {
    text = added + " " +
           RussianForm(result.Added, "новая запись", "новые записи", "новых записей") + ", " +
           there + " " + RussianForm(result.AlreadyThere, "уже была", "уже были", "уже были") +
           " в архиве";
    if (result.Conflicts > 0)
      text += "; " + GroupedNumber(result.Conflicts, language) + " " +
              RussianForm(result.Conflicts, "расходится", "расходятся", "расходятся") +
              " с записями архива того же времени и сохранены рядом";
  } else {
    text = added + (result.Added == 1 ? " new record, " : " new records, ") + there +
           " already in the archive";
    if (result.Conflicts > 0)
      text += "; " + GroupedNumber(result.Conflicts, language) +
              (result.Conflicts == 1 ? " differs" : " differ") +
              " from the archive's record of the same start and kept beside it";
  }
  return text;
}

std::string ClockSetBackMessage(const MergeResult& result, const Language& language) {
  if (!result.ClockSetBack) return {};
  if (result.NewRunRecords == 0) {
    return language.Text(
        "Часы прибора отстают от последней записи архива (вынималась батарея?): установите часы; "
        "записи, сделанные до этого, будут сохранены как новая серия записей прибора",
        "The device's clock is behind the archive's newest record (battery out?): set its clock; "
        "records it makes until then will be kept as a new run of the device");
  }
  const TimeRecord from = TimeRecordFromSeconds(result.NewRunStart);
  const std::string when = FormatDeviceDate(from) + " " + FormatDeviceClock(from);
  const std::string count = GroupedNumber(result.NewRunRecords, language);
  // Less than a day back (a change to winter time, a clock set by hand): no battery was out,
  // and the amount tells which.
  if (result.SetBackBy > 0 && result.SetBackBy < 86400) {
    const std::string by = DurationText(result.SetBackBy, language);
    if (language.Current() == Lang::Russian) {
      return "Часы прибора были переведены назад на " + by + ": " + count + " " +
             RussianForm(result.NewRunRecords, "запись", "записи", "записей") + " с " + when +
             " сохранены как новая серия записей прибора; показатели периода берут записи всех "
             "его серий";
    }
    return "The device's clock was set back by " + by + ": " + count +
           (result.NewRunRecords == 1 ? " record" : " records") + " from " + when +
           " on were kept as a new run of the device; a period's figures take the records of "
           "every run in it";
  }
  if (language.Current() == Lang::Russian) {
    return std::string("Часы прибора были переведены назад (вынималась батарея?): ") + count + " " +
           RussianForm(result.NewRunRecords, "запись", "записи", "записей") + " с " + when +
           " сохранены как новая серия записей прибора; установите часы прибора";
  }
  return "The device's clock was set back (battery out?): " + count +
         (result.NewRunRecords == 1 ? " record" : " records") + " from " + when +
         " on were kept as a new run of the device; set its clock";
}

std::string MovedAsideMessage(const HistoryArchive& archive, const Language& language) {
  if (archive.MovedAside.empty()) return {};
  std::string text =
      language.Text("Файл архива истории повреждён. Он сохранён как\r\n",
                    "The history archive file is damaged. It was kept as\r\n") +
      archive.MovedAside +
      language.Text("\r\nи начат новый архив: перенесено ", "\r\nand a new archive was started: ") +
      GroupedNumber(archive.CarriedOver, language) + language.Text(" из ", " of ") +
      GroupedNumber(archive.CarryTotal, language) +
      language.Text(" записей.", " records carried over.");
  if (archive.StationReadingsTotal > 0) {
    text += language.Text(" Показаний станции наблюдения перенесено: ",
                          " Monitoring station readings carried over: ") +
            GroupedNumber(archive.StationReadingsCarried, language) +
            language.Text(" из ", " of ") + GroupedNumber(archive.StationReadingsTotal, language) +
            ".";
  }
  if (!archive.Error().empty()) text += "\r\n" + archive.Error();
  return text;
}

std::string ArchiveErrorMessage(const HistoryArchive& archive, const Language& language) {
  return language.Text("Архив истории недоступен\r\n", "The history archive cannot be used\r\n") +
         archive.Path() + "\r\n" + archive.Error();
}

}  // namespace dravion
