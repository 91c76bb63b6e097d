#include <algorithm>
#include <cmath>
#include <ostream>
#include <sstream>
#include <string_view>

#include "archive/archive_continuation.h"
#include "archive/archive_file_import.h"
#include "archive/archive_files.h"
#include "archive/archive_period.h"
#include "archive/archive_session.h"
#include "archive/archive_stats.h"
#include "archive/archive_workbook.h"
#include "archive/history_archive.h"
#include "cli/cli_archive_common.h"
#include "cli/cli_json.h"
#include "cli/cli_pages.h"
#include "cli/cli_session.h"
#include "device/device_time.h"
#include "services/printable_text.h"

namespace dravion::cli {

bool OpenArchive(CliSession& s, HistoryArchive& archive) {
  const bool opened = archive.Open(DefaultArchivePath());
  if (const std::string moved = MovedAsideMessage(archive, s.language); !moved.empty())
    s.io.err << TerminalText(moved) << '\n';
  if (!opened) s.io.err << TerminalText(ArchiveErrorMessage(archive, s.language)) << '\n';
  return opened;
}

bool ParseDay(const std::string& text, bool end, uint32_t& seconds) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  int parts[3] = {};
  const int starts[3] = {0, 5, 8}, lengths[3] = {4, 2, 2};
  for (int p = 0; p < 3; ++p) {
    for (int i = 0; i < lengths[p]; ++i) {
      const char c = text[starts[p] + i];
      if (c < '0' || c > '9') return false;
      parts[p] = parts[p] * 10 + (c - '0');
    }
  }
  const int year = parts[0] - 2000, month = parts[1], day = parts[2];
  if (year < 0 || year > 99 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(month, year))
    return false;
  TimeRecord t;
  t.Bytes = {
      0, 0, 0, static_cast<uint8_t>(day), static_cast<uint8_t>(month), static_cast<uint8_t>(year),
      0};
  seconds = SecondsFromTimeRecord(t) + (end ? 86399u : 0u);
  return true;
}

namespace {

// --from and --to as the first and last second of their days (unchanged when not given); false,
// after saying why, when one is not a date.
bool ParseDays(CliSession& s, uint32_t& from, uint32_t& to) {
  if ((!s.options.from.empty() && !ParseDay(s.options.from, false, from)) ||
      (!s.options.to.empty() && !ParseDay(s.options.to, true, to))) {
    s.io.err << "dravion-cli: --from and --to take a date as YYYY-MM-DD (2000 to 2099)\n";
    return false;
  }
  return true;
}

}  // namespace

std::string DeviceTimeText(uint32_t seconds) {
  const TimeRecord t = TimeRecordFromSeconds(seconds);
  return FormatDeviceDate(t) + " " + FormatDeviceClock(t);
}

std::string IsoDeviceTime(uint32_t seconds) {
  const TimeRecord t = TimeRecordFromSeconds(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "20%02u-%02u-%02uT%02u:%02u:%02u", t.Bytes[5] % 100u,
                t.Bytes[4] % 100u, t.Bytes[3] % 100u, t.Bytes[2] % 100u, t.Bytes[1] % 100u,
                t.Bytes[0] % 100u);
  return text;
}

std::optional<ArchiveDevice> ChosenDevice(CliSession& s, HistoryArchive& archive,
                                          const std::string& serial, const std::string& uid) {
  if (!serial.empty()) {
    const std::vector<ArchiveDevice> same = archive.DevicesOfSerial(serial);
    if (archive.ReadFailed()) {
      s.io.err << TerminalText(ArchiveErrorMessage(archive, s.language)) << '\n';
      return std::nullopt;
    }
    std::optional<ArchiveDevice> chosen;
    for (const ArchiveDevice& d : same) {
      if (uid.empty() || d.Uid == uid) chosen = d;  // the newest run
    }
    const bool several =
        uid.empty() && std::any_of(same.begin(), same.end(), [&](const ArchiveDevice& d) {
          return d.Uid != same.front().Uid;
        });
    if (several) {
      s.io.err << s.language.Text("В архиве несколько приборов с номером ",
                                  "The archive holds several devices of serial number ")
               << serial
               << s.language.Text(": укажите --uid, один из", ": name one with --uid, one of");
      for (const ArchiveDevice& d : same)
        s.io.err << ' ' << (d.Uid.empty() ? "\"\"" : d.Uid);
      s.io.err << '\n';
      return std::nullopt;
    }
    if (chosen) return chosen;
    s.io.err << s.language.Text("В архиве нет прибора ", "The archive holds no device ") << serial
             << (uid.empty() ? "" : " UID " + uid) << '\n';
    return std::nullopt;
  }
  const std::vector<ArchiveDevice> devices = archive.Devices();
  if (archive.ReadFailed()) {
    s.io.err << TerminalText(ArchiveErrorMessage(archive, s.language)) << '\n';
    return std::nullopt;
  }
  // One device (with the runs of a clock set back): its newest run.
  if (!devices.empty() && std::all_of(devices.begin(), devices.end(), [&](const ArchiveDevice& d) {
        return d.Serial == devices.back().Serial && d.Uid == devices.back().Uid;
      }))
    return devices.back();
  s.io.err << (devices.empty() ? s.language.Text("Архив пуст", "The archive is empty")
                               : s.language.Text("В архиве несколько приборов: укажите --device",
                                                 "The archive holds several devices: name one "
                                                 "with --device"))
           << '\n';
  return std::nullopt;
}

std::optional<ArchiveDevice> ChosenDevice(CliSession& s, HistoryArchive& archive) {
  return ChosenDevice(s, archive, s.options.device, s.options.uid);
}

std::optional<ArchiveDevice> ChosenRun(CliSession& s, HistoryArchive& archive,
                                       const ArchiveDevice& device, bool tellNewest) {
  if (s.options.run == 0 && device.Runs <= 1) return device;
  const int wanted = s.options.run != 0 ? s.options.run : device.Runs;
  std::optional<ArchiveDevice> run;
  for (const ArchiveDevice& d : archive.DevicesOfSerial(device.Serial)) {
    if (d.Uid == device.Uid && d.Run == wanted) run = d;
  }
  if (!run) {
    s.io.err << s.language.Text("У прибора нет серии записей ", "The device has no run ") << wanted
             << s.language.Text(" (их ", " (it has ") << device.Runs << ")\n";
    return std::nullopt;
  }
  if (s.options.run == 0 && tellNewest)
    s.io.err << s.language.Text("Записи прибора — в ", "The device's records are in ")
             << device.Runs
             << s.language.Text(
                    " сериях (часы переводились назад); взята последняя, "
                    "другую выбирает --run N",
                    " runs (its clock was set back); the newest is taken, "
                    "--run N chooses another")
             << '\n';
  return run;
}

namespace {

// The device seconds the records of the device cover, [first, last]: of every run of it, or of
// the run alone.
void RecordsSpan(HistoryArchive& archive, const ArchiveDevice& device, bool allRuns,
                 uint32_t& first, uint32_t& last) {
  std::vector<ArchiveDevice> runs = {device};
  if (allRuns) runs = archive.DevicesOfSerial(device.Serial);
  bool any = false;
  for (const ArchiveDevice& d : runs) {
    if (d.Uid != device.Uid || d.Records == 0) continue;
    const uint32_t end = std::max(d.LastEnd, d.LastStart + 1) - 1;
    first = any ? std::min(first, d.FirstStart) : d.FirstStart;
    last = any ? std::max(last, end) : end;
    any = true;
  }
}

// A period that ends before it begins once fitted to the device's records: said, false.
bool PeriodHolds(CliSession& s, uint32_t from, uint32_t to) {
  if (to >= from) return true;
  s.io.err << s.language.Text("dravion-cli: период кончается раньше, чем начинается: ",
                              "dravion-cli: the period ends before it begins: ")
           << DeviceTimeText(from) << " - " << DeviceTimeText(to)
           << s.language.Text(" (--from и --to, ограниченные записями прибора)",
                              " (--from and --to, fitted to the device's records)")
           << '\n';
  return false;
}

}  // namespace

int MergeDownloadIntoArchive(CliSession& s, HistoryController& download) {
  HistoryArchive archive;
  if (!OpenArchive(s, archive)) return kExitFailed;
  std::string notice;
  const MergeResult merged =
      MergeIntoArchive(archive, BatchFromDownload(download, s.record), s.language, notice);
  if (!notice.empty()) s.io.err << TerminalText(notice) << '\n';
  if (!merged.Ok) {
    s.io.err << s.language.Text("История не сохранена в архиве: ",
                                "The history was not kept in the archive: ")
             << merged.Error << '\n';
    return kExitFailed;
  }
  if (const std::string warning = ClockSetBackMessage(merged, s.language); !warning.empty())
    s.io.err << TerminalText(warning) << '\n';
  s.io.out << (s.options.newOnly ? NewRecordsMessage(merged, download, s.language)
                                 : MergeMessage(merged, s.language))
           << '\n';
  return kExitDone;
}

bool ArchivedEndOfDevice(CliSession& s, std::optional<ArchivedEnd>& end) {
  HistoryArchive archive;
  if (!OpenArchive(s, archive)) return false;
  end = archive.EndOf(ArchiveSerialOf(s.record), ArchiveUidOf(s.record));
  if (!archive.ReadFailed()) return true;
  s.io.err << TerminalText(ArchiveErrorMessage(archive, s.language)) << '\n';
  return false;
}

void AfterReadFailure(CliSession& s, HistoryArchive& archive) {
  s.io.err << TerminalText(ArchiveErrorMessage(archive, s.language)) << '\n';
  if (!archive.Damaged()) return;
  if (archive.StartAgain())
    s.io.err << TerminalText(MovedAsideMessage(archive, s.language)) << '\n';
  else
    s.io.err << archive.Error() << '\n';
}

int ArchiveList(CliSession& s) {
  HistoryArchive archive;
  if (!OpenArchive(s, archive)) return kExitFailed;
  const std::vector<ArchiveDevice> devices = archive.Devices();
  if (archive.ReadFailed()) {
    AfterReadFailure(s, archive);
    return kExitFailed;
  }
  // Printed only when every device was counted: a list cut short would hide records.
  std::ostringstream text;
  Json list = Json::array();
  for (const ArchiveDevice& d : devices) {
    // As records: what the chart and the export use; the unusable ones kept under their name.
    ArchiveCounts counts;
    if (!archive.Count(d.Id, counts)) {
      AfterReadFailure(s, archive);
      return kExitFailed;
    }
    if (s.options.json) {
      Json entry = {{"serial", d.Serial},
                    {"uid", d.Uid},
                    {"run", d.Run},
                    {"records", counts.Records},
                    {"conflicts", counts.Conflicts},
                    {"unusable", counts.Unusable},
                    {"downloads", d.Downloads},
                    {"coefficient", d.Coefficient / 100.0}};
      entry["first"] = d.Records ? Json(IsoDeviceTime(d.FirstStart)) : Json();
      entry["last"] = d.Records ? Json(IsoDeviceTime(d.LastStart)) : Json();
      list.push_back(entry);
      continue;
    }
    text << "S/N " << PrintableText(d.Serial, 40)
         << (d.Uid.empty() ? "" : "  UID " + PrintableText(d.Uid, 40)) << "  ";
    if (d.Runs > 1)
      text << s.language.Text("серия ", "run ") << d.Run << s.language.Text(" из ", " of ")
           << d.Runs << "  ";
    text << GroupedNumber(counts.Records, s.language) << s.language.Text(" записей", " records");
    if (d.Records)
      text << "  " << DeviceTimeText(d.FirstStart) << " - " << DeviceTimeText(d.LastStart);
    text << "  " << GroupedNumber(counts.Conflicts, s.language)
         << s.language.Text(" расхождений", counts.Conflicts == 1 ? " conflict" : " conflicts");
    if (counts.Unusable > 0)
      text << "  " << GroupedNumber(counts.Unusable, s.language)
           << s.language.Text(" непригодных записей сохранено", counts.Unusable == 1
                                                                    ? " unusable record kept"
                                                                    : " unusable records kept");
    text << '\n';
  }
  if (s.options.json)
    PrintJson(s.io, list);
  else
    s.io.out << text.str();
  return kExitDone;
}

namespace {

// What an export of the archive to `file` came to, told; the exit status.
int ExportOutcome(CliSession& s, HistoryArchive& archive, const std::string& file, bool ok,
                  const std::string& error, uint64_t records) {
  if (archive.ReadFailed()) {
    // The file there (if any) stays as it was: a cut-short export never replaces it.
    s.io.err << s.language.Text("Файл не записан\n", "The file was not written\n") << file << '\n';
    AfterReadFailure(s, archive);
    return kExitFailed;
  }
  if (!ok) {
    s.io.err << s.language.Text("Ошибка записи файла\n", "File write Error\n") << file
             << (error.empty() ? "" : "\n" + error) << '\n';
    return kExitFailed;
  }
  s.io.out << GroupedNumber(records, s.language)
           << s.language.Text(" записей сохранено в ", " records written to ") << file << '\n';
  return kExitDone;
}

// The range as an Excel workbook, in the unit of --unit.
int ExportWorkbook(CliSession& s, HistoryArchive& archive, const ArchiveDevice& device,
                   const ArchiveRange& range) {
  WorkbookInfo info;
  info.Serial = device.Serial;
  info.Uid = device.Uid;
  info.Run = device.Run;
  info.Runs = device.Runs;
  info.Unit = s.options.roentgen ? FigureUnit::Roentgen : FigureUnit::Sievert;
  info.Texts = s.language;
  info.Made = s.clock.Now();
  info.AllRuns = s.options.run == 0;
  ArchiveRange chosen = range;
  // Without dates: the device's records, all of them (of every run, unless --run names one).
  uint32_t first = chosen.From, last = chosen.To;
  RecordsSpan(archive, device, info.AllRuns, first, last);
  if (s.options.from.empty()) chosen.From = std::max(chosen.From, first);
  if (s.options.to.empty() && device.Records > 0) chosen.To = last;
  if (!PeriodHolds(s, chosen.From, chosen.To)) return kExitUsage;
  const WorkbookResult written = WriteArchiveWorkbook(archive, chosen, info, s.options.xlsxFile);
  return ExportOutcome(s, archive, s.options.xlsxFile, written.Ok, written.Error, written.Records);
}

}  // namespace

int ArchiveExport(CliSession& s) {
  ArchiveRange range;
  if (!ParseDays(s, range.From, range.To)) return kExitUsage;
  HistoryArchive archive;
  if (!OpenArchive(s, archive)) return kExitFailed;
  std::optional<ArchiveDevice> device = ChosenDevice(s, archive);
  if (!device) return kExitFailed;
  device = ChosenRun(s, archive, *device, s.options.xlsxFile.empty());
  if (!device) return kExitFailed;
  range.Device = device->Id;
  if (!s.options.xlsxFile.empty()) return ExportWorkbook(s, archive, *device, range);
  const ExportResult exported = archive.ExportCsv(range, s.options.csvFile);
  return ExportOutcome(s, archive, s.options.csvFile, exported.Ok, exported.Error, exported.Lines);
}

namespace {

// Another archive file, every device of it: what still reads is merged.
int ImportArchiveFile(CliSession& s, const std::string& name) {
  HistoryArchive archive;
  if (!OpenArchive(s, archive)) return kExitFailed;
  uint64_t total = 0, carried = 0;
  if (!archive.MergeArchiveFile(name, total, carried)) {
    s.io.err << s.language.Text("Ничего не импортировано: ", "Nothing was imported: ")
             << PrintableText(archive.Error(), 2000) << '\n';
    if (archive.Damaged()) AfterReadFailure(s, archive);
    return kExitFailed;
  }
  // Why some were not carried over, reason by reason.
  for (const std::string& note : archive.NotCarried)
    s.io.err << PrintableText(note, 2000) << '\n';
  s.io.out << GroupedNumber(carried, s.language) << s.language.Text(" из ", " of ")
           << GroupedNumber(total, s.language)
           << s.language.Text(" записей перенесено", " records carried over") << '\n';
  return carried == total ? kExitDone : kExitFailed;
}

}  // namespace

int ArchiveImport(CliSession& s) {
  const std::string& name = s.options.command[2];
  auto readError = [&](const std::string& error) {
    s.io.err << s.language.Text("Ошибка чтения файла\n", "File read Error\n") << name << '\n'
             << error << '\n';
    return kExitFailed;
  };
  std::string error;
  {
    // An archive file is told by its first bytes, before anything else is read.
    FileReader file;
    if (!OpenFileToRead(name, file, error)) return readError(error);
    static constexpr std::string_view kSqliteHeader("SQLite format 3\0", 16);
    char head[kSqliteHeader.size()];
    size_t have = 0;
    for (size_t got = 1; have < sizeof head && got > 0; have += got) {
      if (!file.Read(head + have, sizeof head - have, got, error)) return readError(error);
    }
    if (std::string_view(head, have) == kSqliteHeader) return ImportArchiveFile(s, name);
  }
  if (s.options.device.empty()) {
    s.io.err << "dravion-cli: archive import of a CSV file needs --device S (the serial number "
                "its records belong to)\n";
    return kExitUsage;
  }
  FileReader file;
  if (!OpenFileToRead(name, file, error)) return readError(error);
  const CsvImportPlan plan = PlanCsvImport(file);
  if (!plan.ReadError.empty()) return readError(plan.ReadError);
  if (!plan.Ok) {
    s.io.err << name << ':' << plan.Line << ": "
             << s.language.Text("не строка истории в формате CSV: ",
                                "not a line of a history CSV file: ")
             << plan.Reason << '\n'
             << s.language.Text("Ничего не импортировано", "Nothing was imported") << '\n';
    return kExitFailed;
  }
  HistoryArchive archive;
  if (!OpenArchive(s, archive)) return kExitFailed;
  ArchiveBatch batch;
  batch.Serial = s.options.device;
  batch.Uid = s.options.uid;
  // A serial number the archive does not know is most likely mistyped: taken only when asked.
  if (const std::vector<ArchiveDevice> same = archive.DevicesOfSerial(s.options.device);
      same.empty() && !archive.ReadFailed()) {
    if (s.options.newDevice && !s.options.uid.empty() && !IsDeviceUid(s.options.uid)) {
      s.io.err << "dravion-cli: --uid of a new device takes its identifier as the device reports "
                  "it (12 bytes, 01:23:45:67:89:AB:CD:EF:01:23:45:67)\n";
      return kExitUsage;
    }
    if (!s.options.newDevice) {
      s.io.err << s.language.Text("В архиве нет прибора ", "The archive holds no device ")
               << s.options.device
               << s.language.Text(": проверьте номер или добавьте --new-device",
                                  ": check the number, or add --new-device")
               << '\n'
               << s.language.Text("Ничего не импортировано", "Nothing was imported") << '\n';
      return kExitFailed;
    }
  } else {
    const std::optional<ArchiveDevice> known = ChosenDevice(s, archive);
    if (!known) {
      s.io.err << s.language.Text("Ничего не импортировано", "Nothing was imported") << '\n';
      return kExitFailed;
    }
    batch.Uid = known->Uid;
  }
  batch.File = name;
  // Part by part, each its own transaction: the window and other commands wait for one part at
  // most, and neither the file nor its records are held whole.
  std::string notice;
  const CsvImportResult imported = ImportCsvParts(archive, file, plan, batch, s.language, notice);
  if (!notice.empty()) s.io.err << TerminalText(notice) << '\n';
  if (const std::string warning = ClockSetBackMessage(imported.Merged, s.language);
      !warning.empty())
    s.io.err << TerminalText(warning) << '\n';
  if (!imported.Ok) {
    if (imported.PartsMerged == 0) {
      s.io.err << s.language.Text("Ничего не импортировано: ", "Nothing was imported: ")
               << imported.Error << '\n';
    } else {
      // The parts merged stay merged: say what they brought, and why the rest did not follow.
      s.io.err << s.language.Text("Импорт прерван: ", "The import stopped: ") << imported.Error
               << '\n'
               << s.language.Text("До этого: ", "Before that: ")
               << MergeMessage(imported.Merged, s.language) << '\n';
    }
    return kExitFailed;
  }
  s.io.out << MergeMessage(imported.Merged, s.language) << '\n';
  return kExitDone;
}

namespace {

// A figure for JSON: the unit's decimals and two more, as a number (null when not finite).
Json JsonFigure(double value, FigureUnit unit) {
  if (!std::isfinite(value)) return Json();
  const double scale = std::pow(10.0, FigureDecimals(unit) + 2);
  return std::round(value * scale) / scale;
}

}  // namespace

void RememberAlarmSettings(CliSession& s, uint32_t units, uint32_t backgroundLevel) {
  // Only a defaults' note for the figures: an archive that cannot be opened is left alone.
  HistoryArchive archive;
  if (archive.Open(DefaultArchivePath()))
    RememberDeviceAlarm(archive, ArchiveSerialOf(s.context.device), units, backgroundLevel);
}

int ArchiveStats(CliSession& s) {
  FigureRange range;
  if (!ParseDays(s, range.From, range.To)) return kExitUsage;
  if (range.To < range.From) {
    s.io.err << "dravion-cli: --to lies before --from\n";
    return kExitUsage;
  }
  HistoryArchive archive;
  if (!OpenArchive(s, archive)) return kExitFailed;
  std::optional<ArchiveDevice> device = ChosenDevice(s, archive);
  if (device) device = ChosenRun(s, archive, *device, false);
  if (!device) return kExitFailed;
  // The device's unit and alarm threshold as its settings were last read, unless given.
  const std::optional<DeviceAlarm> alarm = RememberedDeviceAlarm(archive, device->Serial);
  FigureUnit unit = alarm ? alarm->Unit : FigureUnit::Sievert;
  if (s.options.unitGiven) unit = s.options.roentgen ? FigureUnit::Roentgen : FigureUnit::Sievert;
  // A threshold in the unit typed with it, else in --unit's (the options insist on one of them).
  if (s.options.thresholdGiven && s.options.thresholdUnitGiven)
    range.Threshold =
        RateFrom(s.options.thresholdRoentgen ? FigureUnit::Roentgen : FigureUnit::Sievert,
                 s.options.threshold);
  else if (s.options.thresholdGiven)
    range.Threshold = RateFrom(unit, s.options.threshold);
  else if (alarm)
    range.Threshold = alarm->Threshold;
  range.Device = device->Id;
  // Every run of the device in the period (its clock was set back), unless --run names one.
  range.AllRuns = s.options.run == 0;
  // Without dates: from the device's first record to the end of its last.
  uint32_t first = range.From, last = range.To;
  RecordsSpan(archive, *device, range.AllRuns, first, last);
  if (s.options.from.empty()) range.From = std::max(range.From, first);
  if (s.options.to.empty() && device->Records > 0) range.To = last;
  if (!PeriodHolds(s, range.From, range.To)) return kExitUsage;
  ArchiveFigures f;
  if (!ArchiveStatistics(archive, range, f)) {
    AfterReadFailure(s, archive);
    return kExitFailed;
  }
  const double confidence = s.options.confidence;
  const Interval mean = f.MeanInterval(confidence), dose = f.DoseInterval(confidence);
  if (s.options.json) {
    Language english;
    english.Set(Lang::English);
    Json out = {{"serial", device->Serial},
                {"uid", device->Uid},
                {"run", device->Run},
                {"from", IsoDeviceTime(range.From)},
                {"to", IsoDeviceTime(range.To)},
                {"records", f.Records},
                {"covered", f.Covered},
                {"gaps", f.Gaps},
                {"longestGap", f.LongestGap},
                {"mean", f.Covered ? JsonFigure(RateIn(unit, f.MeanRate()), unit) : Json()}};
    out["meanLow"] = f.Covered ? JsonFigure(RateIn(unit, mean.Low), unit) : Json();
    out["meanHigh"] = f.Covered ? JsonFigure(RateIn(unit, mean.High), unit) : Json();
    out["max"] = f.HasRates ? JsonFigure(RateIn(unit, f.MaxRate), unit) : Json();
    out["maxAt"] = f.HasRates ? Json(IsoDeviceTime(f.MaxAt)) : Json();
    out["min"] = f.HasRates ? JsonFigure(RateIn(unit, f.MinRate), unit) : Json();
    out["minAt"] = f.HasRates ? Json(IsoDeviceTime(f.MinAt)) : Json();
    out["dose"] = JsonFigure(DoseIn(unit, f.Dose()), unit);
    out["doseLow"] = JsonFigure(DoseIn(unit, dose.Low), unit);
    out["doseHigh"] = JsonFigure(DoseIn(unit, dose.High), unit);
    out["counts"] = f.CountedPulses();
    out["confidence"] = confidence;
    out["rateUnit"] = FigureRateUnit(unit, english);
    out["doseUnit"] = FigureDoseUnit(unit, english);
    out["threshold"] = f.HasThreshold ? JsonFigure(RateIn(unit, f.Threshold), unit) : Json();
    out["above"] = f.HasThreshold ? Json(f.Above) : Json();
    // Other runs of the device whose records the figures took, and where each lies over this
    // run's (the same device seconds twice after a clock set back).
    Json others = Json::array();
    for (const OtherRun& other : f.OtherRuns) {
      others.push_back(
          {{"run", other.Run},
           {"from", IsoDeviceTime(other.First)},
           {"to", IsoDeviceTime(other.Last)},
           {"overlapFrom", other.Overlaps ? Json(IsoDeviceTime(other.OverlapFirst)) : Json()},
           {"overlapTo", other.Overlaps ? Json(IsoDeviceTime(other.OverlapLast)) : Json()}});
    }
    out["otherRuns"] = others;
    PrintJson(s.io, out);
    return kExitDone;
  }
  std::ostringstream text;
  text << "S/N " << device->Serial << "  " << DeviceTimeText(range.From) << " - "
       << DeviceTimeText(range.To) << '\n';
  // The mean and the dose with their intervals at the confidence asked for.
  std::vector<FigureLine> lines = FigureLines(f, unit, s.language, confidence);
  for (const OtherRun& other : f.OtherRuns)
    lines.push_back({s.language.Text("Также", "Also"), OtherRunText(other, s.language)});
  for (const FigureLine& line : lines) {
    // Values in one column: labels padded to 17 characters (UTF-8 counted as characters).
    const std::string label = line.Label + ":";
    const size_t width = static_cast<size_t>(
        std::count_if(label.begin(), label.end(), [](char c) { return (c & 0xC0) != 0x80; }));
    text << label << std::string(width < 17 ? 17 - width : 1, ' ') << line.Value << '\n';
  }
  s.io.out << TerminalText(text.str());
  return kExitDone;
}

}  // namespace dravion::cli
