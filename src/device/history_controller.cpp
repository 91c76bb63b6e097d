#include "device/history_controller.h"

#include <algorithm>

#include "connection/connection_manager.h"
#include "device/device_context.h"
#include "device/device_time.h"
#include "device/parameters.h"
#include "protocol/commands.h"
#include "protocol/identification.h"
#include "services/clock.h"
#include "services/dialogs.h"
#include "services/event_pump.h"
#include "services/language.h"
#include "services/log_sink.h"
#include "services/wording.h"

namespace dravion {

HistoryController::HistoryController(DeviceContext& context, HistoryView& view)
    : context_(context), view_(view) {
  Ring.ReadFlash = [this](uint32_t address, uint8_t* dest, int count) {
    return context_.commands.ReadExternalFlash(address, dest, count, false);
  };
}

std::string HistoryController::Text(const char* russian, const char* english) const {
  return context_.language.Current() == Lang::Russian ? russian : english;
}

bool HistoryController::CheckHistoryAccess() {
  if (!context_.connection.Connected || !context_.connection.Identified) return false;
  const uint16_t main = context_.device.Soft.MainVersion;
  if (main == 0) {
    view_.ShowVersionMessage(
        Text("В режиме\n\rBOOT\n\rнедоступно", "In BOOT\n\rMode is\n\rUnavailable"));
    return false;
  }
  if (main < kAccessMainVersion) {
    view_.ShowVersionMessage(
        Text("Обновите\n\rпрошивку\n\rприбора", "Need\n\rto Update\n\rFirmware"));
    return false;
  }
  view_.ShowVersionMessage("");
  return true;
}

void HistoryController::ShowWaitingChart() {
  LastChart = HistoryChartData{};
  LastChart.Title = {Text("Ожидание считывания истории", "Waiting of reading History")};
  view_.ShowChart(LastChart);
}

void HistoryController::ShowDeletedChart() {
  LastChart = HistoryChartData{};
  LastChart.Note = Text("История в приборе удалена.", "The history in the device was deleted.");
  view_.ShowChart(LastChart);
  view_.ShowSummary(
      Text("История в приборе удалена. Прочитанные до этого записи ещё можно "
           "сохранить в CSV.",
           "The history in the device was deleted. The records read before can "
           "still be saved as CSV."));
}

bool HistoryController::DeviceGone() const {
  return context_.commands.LineLost() || !context_.commands.PortOpen();
}

void HistoryController::RefreshChart() {
  if (HistoryReading) {
    ShowWaitingChart();
  } else if (HistoryDeleted) {
    ShowDeletedChart();
  } else if (Ring.Loaded) {
    DrawHistoryChart();
    view_.ShowSummary(SummaryText());
  }
}

std::string HistoryController::SuggestedName(const std::string& what,
                                             const std::string& suffix) const {
  return SuggestedFileName(HistorySerial, what, context_.clock.Now(), suffix);
}

std::optional<uint32_t> HistoryController::NewestRecordStart() {
  for (uint32_t logical = Ring.Ring.RecordCount; logical-- > 0;) {
    const std::optional<HistoryRecord> record = Ring.HistoryRecordAt(logical);
    if (record && record->Status == 0) return record->Start;
  }
  return std::nullopt;
}

std::string HistoryController::SummaryText() {
  const uint32_t count = Ring.Ring.RecordCount;
  const std::optional<uint32_t> newest = NewestRecordStart();
  if (count == 0 || !newest)
    return Text("В приборе нет записей истории.", "The device holds no history records.");
  const TimeRecord at = TimeRecordFromSeconds(*newest);
  const Language& l = context_.language;
  return std::to_string(count) + " " +
         PluralWord(count, l, "запись", "записи", "записей", "record", "records") + " " +
         PluralWord(count, l, "прочитана", "прочитаны", "прочитано", "read", "read") +
         Text(", последняя от ", ", newest at ") + FormatDeviceDate(at) + " " +
         FormatDeviceClock(at);
}

std::string HistoryController::ProgressText(uint32_t sectorsDone, uint32_t sectors,
                                            uint32_t elapsedMs) const {
  if (sectors == 0) return {};
  const uint32_t total = readTotal_;
  const uint32_t read = std::min(total, sectorsDone * kHistorySectorRecords);
  const uint32_t percent = std::min<uint32_t>(100, sectorsDone * 100 / sectors);
  std::string text =
      Text("Прочитано ", "Read ") + std::to_string(read) + Text(" из ", " of ") +
      CountOf(total, context_.language, "записи", "записей", "записей", "record", "records") +
      ", " + std::to_string(percent) + " %";
  if (sectorsDone > 0 && sectorsDone < sectors) {
    const uint64_t left =
        (uint64_t{elapsedMs} * (sectors - sectorsDone) / sectorsDone + 999) / 1000;
    text += Text(", осталось около ", ", about ") + MinutesSeconds(static_cast<long long>(left)) +
            Text("", " left");
  }
  return text;
}

void HistoryController::OnReadClicked() {
  Read(false);
}

void HistoryController::OnReadNewClicked() {
  Read(true);
}

void HistoryController::Read(bool newOnly) {
  if (HistoryReading) {
    HistoryCancel = true;  // seen after the current sector
    return;
  }
  if (!RequireConnectedDevice(context_)) return;
  HistoryReading = true;
  HistoryCancel = false;
  HistoryDeleted = false;
  view_.ShowSummary({});
  HistorySerial = IdentifiedSerial(context_.device);
  view_.SetDeleteEnabled(false);
  view_.SetNavigationEnabled(false);
  view_.SetSaveEnabled(false);
  view_.SetReading(true);

  Ring.Ring = HistoryRingDescription{};
  Ring.Loaded = false;
  HistoryCoefficient = 100;
  ShowWaitingChart();

  if (newOnly) {
    const std::optional<ArchivedEnd> archived =
        ArchivedEndOfDevice ? ArchivedEndOfDevice() : std::nullopt;
    DownloadNewHistory(archived);
  } else {
    DownloadHistory();
  }

  if (Ring.Loaded) {
    view_.SetNavigationEnabled(true);
    HistoryLevel = kLevelMinute;
    DrawHistoryChart();
    view_.ShowSummary(SummaryText());
  } else {
    view_.ShowSummary({});
  }
  if (ReadComplete && DownloadCompleted) DownloadCompleted();
  view_.SetReading(false);
  HistoryReading = false;
  view_.SetDeleteEnabled(true);
  view_.SetSaveEnabled(true);
}

std::vector<HistoryRecord> HistoryController::ReadRecords() const {
  std::vector<HistoryRecord> records;
  if (!ReadComplete) return records;
  const HistoryRingDescription& ring = Ring.Ring;
  records.reserve(ring.RecordCount - std::min(ReadFrom, ring.RecordCount));
  for (uint32_t l = ReadFrom; l < ring.RecordCount; ++l) {
    const uint32_t physical = (l + ring.FirstRecord) % kHistoryRingRecords;
    records.push_back(HistoryRecord::FromBytes(Ring.RecordBytes(physical)));
  }
  return records;
}

bool HistoryController::DownloadHistory() {
  return Download(nullptr);
}

bool HistoryController::DownloadNewHistory(const std::optional<ArchivedEnd>& archived) {
  return Download(&archived);
}

bool HistoryController::Download(const std::optional<ArchivedEnd>* newOnly) {
  ConnectionManager& connection = context_.connection;
  const bool linkWatch = connection.LinkWatch;
  connection.LinkWatch = false;
  Ring.Clear();
  Csv.Clear();
  ReadComplete = false;
  ReadFrom = 0;
  LastContinuation = Continuation{};

  auto tell = [this](BoxKind kind, const std::string& text) {
    if (Quiet)
      context_.log.LogLine("# " + text);
    else
      context_.dialogs.ShowMessage(kind, text);
  };
  enum class Outcome { Complete, Cancelled, Error, FormatError, Unplugged };
  Outcome outcome = Outcome::Error;
  bool started = false;
  bool startUnanswered = false;
  [&] {
    if (connection.HeartbeatRunning() || !CheckHistoryAccess()) return;
    if (!SetParameter(context_, param::CommandParameter, HistoryReadStart)) {
      startUnanswered = context_.commands.PortOpen();
      return;
    }
    started = true;
    if (!context_.commands.ReadTime(HistoryDeviceTime)) return;
    HistoryViewTime = HistoryDeviceTime;
    uint32_t value = 0;
    if (!GetParameter(context_, param::kCalibration, &value)) return;
    HistoryCoefficient = std::clamp<uint32_t>(value, 10, 999);
    HistoryRingDescription& ring = Ring.Ring;
    if (!GetParameter(context_, param::kHistoryGeometry, &value)) return;
    ring.SetGeometry(value);
    if (!GetParameter(context_, param::kHistoryCount, &value)) return;
    ring.SetCount(value);
    if (!GetParameter(context_, param::kHistoryBounds, &value)) return;
    ring.SetBounds(value);
    if (!GetParameter(context_, param::kHistoryState, &value)) return;
    ring.SetFlag(value);

    if (!HistoryFormatAccepted(ring, PlanHistorySectors(ring))) {
      outcome = Outcome::FormatError;
      return;
    }
    // A read of new records: from the record after the archive's newest one, or the whole ring
    // when the ring does not continue the archive (said in one line).
    if (newOnly) {
      LastContinuation = FindContinuation(Ring, *newOnly);
      if (LastContinuation.ReadFailed) {
        if (DeviceGone()) outcome = Outcome::Unplugged;
        return;
      }
      if (LastContinuation.Reason != WholeRingReason::None)
        context_.log.LogLine("# " + WholeRingNote(LastContinuation, context_.language));
      else
        ReadFrom = LastContinuation.From;
    }
    const HistorySectorPlan plan =
        ReadFrom == 0 ? PlanHistorySectors(ring) : PlanSectorsFrom(ring, ReadFrom);
    const uint32_t from = ReadFrom;
    std::function<bool(uint32_t)> take;
    if (from > 0) take = [&ring, from](uint32_t p) { return InRingFrom(ring, from, p); };
    readTotal_ = ring.RecordCount - std::min(from, ring.RecordCount);
    view_.SetProgressMaximum(static_cast<int>(plan.Count));
    view_.SetProgress(0);
    const uint32_t readStart = context_.clock.TickMs();
    view_.ShowSummary(ProgressText(0, plan.Count, 0));
    for (uint32_t k = 0; k < plan.Count; ++k) {
      if (HistoryCancel || context_.pump.QuitRequested()) {
        tell(BoxKind::Warning, Text("Чтение истории отменено", "Reading of History canceled"));
        view_.SetProgress(0);
        outcome = Outcome::Cancelled;
        return;
      }
      const uint32_t sector = plan.SectorAt(k, ring.SectorCount);
      for (uint32_t i = 0; i < kHistorySectorRecords; ++i) {
        const uint32_t physical = sector * kHistorySectorRecords + i;
        if (take && !take(physical)) continue;
        if (!Ring.FetchIntoCopy(physical)) {
          if (DeviceGone()) outcome = Outcome::Unplugged;
          return;
        }
      }
      AppendSectorCsv(Csv, Ring, sector, HistoryCoefficient, take);
      view_.SetProgress(static_cast<int>(k));
      view_.ShowSummary(
          ProgressText(k + 1, plan.Count, TicksSince(readStart, context_.clock.TickMs())));
      context_.pump.ProcessEvents(context_.clock.TickMs());  // Cancel and the heartbeat
    }
    view_.SetProgress(0);
    // Only the whole ring makes the page's copy: the chart and its Save CSV need all of it.
    Ring.Loaded = ReadFrom == 0;
    ReadComplete = true;
    outcome = Outcome::Complete;
  }();

  // The device leaves its reading state whenever it entered it, also after a failure, and when
  // every answer to the start was lost (the device may have taken it all the same: the end goes
  // out without a second box). A device that went away is not asked (its no-answer box would
  // only add to the one message).
  if (outcome == Outcome::Error && DeviceGone()) outcome = Outcome::Unplugged;
  if ((started || startUnanswered) && outcome != Outcome::Unplugged)
    SetParameter(context_, param::CommandParameter, HistoryReadEnd, started);
  view_.SetProgress(0);
  connection.LinkWatch = linkWatch;
  switch (outcome) {
    case Outcome::Complete:
    case Outcome::Cancelled:
      return true;
    case Outcome::FormatError:
      tell(BoxKind::Error, Text("Ошибка формата данных истории", "Error of History Format Data"));
      return false;
    case Outcome::Error:
      tell(BoxKind::Error, Text("Ошибка чтения истории", "Error of History reading"));
      return false;
    case Outcome::Unplugged:
      tell(BoxKind::Warning,
           Text("Прибор отключён, чтение истории отменено.",
                "The device was disconnected, the history download was cancelled."));
      return false;
  }
  return false;
}

void HistoryController::OnDeleteClicked() {
  // Nothing to ask about without a device.
  if (!RequireConnectedDevice(context_)) return;
  // What cannot be undone is asked with No as the default answer.
  if (!context_.dialogs.Ask(QuestionKind::Warning,
                            Text("История в приборе будет удалена!\r\nПродолжить?",
                                 "History in Device will be deleted!\r\nContinue"))) {
    return;
  }
  bool deleted = false;
  {
    DeviceOperation operation(context_);
    const bool allowed = !context_.connection.HeartbeatRunning() && CheckHistoryAccess();
    if (allowed && SetParameter(context_, param::CommandParameter, HistoryReadStart)) {
      deleted = SetParameter(context_, param::CommandParameter, HistoryDelete);
      SetParameter(context_, param::CommandParameter, HistoryReadEnd);
    } else {
      // A start whose every answer was lost may still have been taken: the device is released.
      if (allowed && context_.commands.PortOpen())
        SetParameter(context_, param::CommandParameter, HistoryReadEnd, false);
      context_.dialogs.ShowMessage(BoxKind::Error,
                                   Text("Ошибка удаления истории", "Error of History deleting"));
    }
    view_.SetProgress(0);
  }
  if (!deleted) return;
  // The chart of the erased records goes with them; their CSV text can still be saved.
  HistoryDeleted = true;
  view_.SetNavigationEnabled(false);
  ShowDeletedChart();
  context_.dialogs.ShowMessage(
      BoxKind::Information,
      Text("История в приборе удалена.", "The history in the device was deleted."));
}

void HistoryController::DrawHistoryChart() {
  LastChart = dravion::DrawHistoryChart(Ring, HistoryViewTime, HistoryLevel, HistoryCoefficient,
                                        view_.ShowMaximumTicked(), context_.language);
  if (!LastChart.AnyRecords) {
    static const char* const kPeriods[5][2] = {
        {"За эту минуту записей нет.", "No records in this minute."},
        {"За этот час записей нет.", "No records in this hour."},
        {"За этот день записей нет.", "No records on this day."},
        {"За этот месяц записей нет.", "No records in this month."},
        {"За этот год записей нет.", "No records in this year."},
    };
    const int level = std::clamp(HistoryLevel, kLevelMinute, kLevelYear);
    LastChart.Note = Text(kPeriods[level][0], kPeriods[level][1]);
    if (const std::optional<uint32_t> newest = NewestRecordStart()) {
      const TimeRecord at = TimeRecordFromSeconds(*newest);
      LastChart.Note += Text(" Последняя запись — от ", " The newest record is from ") +
                        FormatDeviceDate(at) + " " + FormatDeviceClock(at) + ".";
      LastChart.NewestOffered = true;
    } else {
      LastChart.Note += Text(" В приборе нет записей.", " The device holds no records.");
    }
  }
  view_.ShowChart(LastChart);
}

void HistoryController::OnNewestClicked() {
  if (!ChartShown()) return;
  const std::optional<uint32_t> newest = NewestRecordStart();
  if (!newest) return;
  HistoryViewTime = TimeRecordFromSeconds(*newest);
  DrawHistoryChart();
}

void HistoryController::OnBackClicked() {
  if (!ChartShown()) return;
  HistoryStepBack(HistoryViewTime, HistoryLevel);
  DrawHistoryChart();
}

void HistoryController::OnForwardClicked() {
  if (!ChartShown()) return;
  HistoryStepForward(HistoryViewTime, HistoryLevel);
  DrawHistoryChart();
}

void HistoryController::OnUpClicked() {
  if (!ChartShown() || HistoryLevel >= kLevelYear) return;
  ++HistoryLevel;
  DrawHistoryChart();
}

void HistoryController::OnLatestClicked() {
  if (!ChartShown()) return;
  HistoryViewTime = HistoryDeviceTime;
  HistoryLevel = kLevelMinute;
  DrawHistoryChart();
}

void HistoryController::OnShowMaximumClicked() {
  if (!ChartShown()) return;
  DrawHistoryChart();
}

void HistoryController::OnBarDoubleClicked(int bar) {
  if (!ChartShown()) return;
  if (!HistoryZoomInto(HistoryViewTime, HistoryLevel, bar)) return;
  DrawHistoryChart();
}

void HistoryController::OnSaveCsvClicked() {
  if (!Ring.Loaded) {
    context_.dialogs.ShowMessage(
        BoxKind::Error, Text("Сначала считайте историю", "First read History from Device"));
    return;
  }
  SaveFileRequest request;
  request.Title = Text("Сохранение истории в формате CSV", "CSV History saving");
  request.Filter = Text("Файлы CSV (*.csv)|*.CSV", "CSV Files(*.csv)|*.CSV");
  request.DefaultSuffix = "csv";
  request.SuggestedName = SuggestedName("history", request.DefaultSuffix);
  std::string name = LastSavedName;
  if (!view_.AskSaveFileName(request, name) || name.empty()) return;
  SaveCsv(name);
}

bool HistoryController::SaveCsv(const std::string& name) {
  return SaveFile(name, [this, &name](const FileStepHook& hook) {
    return WriteFileReplacing(name, Csv.CsvText, hook);
  });
}

bool HistoryController::SaveFile(const std::string& name,
                                 const std::function<FileWriteResult(const FileStepHook&)>& write) {
  const bool exists = FileExists(name);
  if (exists &&
      !context_.dialogs.Ask(QuestionKind::Warning, Text("Файл\r\n", "File\r\n") + name +
                                                       Text("\r\nуже существует\r\nПерезаписать?",
                                                            "\r\nalready exists\r\nRewrite?"))) {
    return false;
  }
  const FileWriteResult result = write(FileHook);
  if (result.Ok) {
    LastSavedName = name;
    return true;
  }
  std::string message;
  switch (result.Failed) {
    case FileStep::Create:
      message = exists
                    ? Text("Ошибка открытия файла\r\n", "File open Error\r\n") + name
                    : Text("Ошибка создания файла", "File creating Error") + "\r\n" + name + "\r\n";
      break;
    case FileStep::Write:
      LastSavedName = name;
      message = Text("Ошибка записи файла\r\n", "File write Error\r\n") + name;
      break;
    case FileStep::Replace:
      LastSavedName = name;
      message =
          exists ? Text("Ошибка\r\nНет доступа к файлу\r\n", "Error\n\rnoaccess to file\r\n") + name
                 : Text("Ошибка создания файла", "File creating Error") + "\r\n" + name + "\r\n";
      break;
  }
  context_.dialogs.ShowMessage(BoxKind::Error, message);
  return false;
}

}  // namespace dravion
