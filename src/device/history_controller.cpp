#include "device/history_controller.h"

#include <algorithm>

#include "connection/connection_manager.h"
#include "device/device_context.h"
#include "device/parameters.h"
#include "protocol/commands.h"
#include "protocol/identification.h"
#include "services/clock.h"
#include "services/dialogs.h"
#include "services/event_pump.h"
#include "services/language.h"

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

void HistoryController::OnReadClicked() {
  if (HistoryReading) {
    HistoryCancel = true;  // seen after the current sector
    return;
  }
  HistoryReading = true;
  HistoryCancel = false;
  view_.SetDeleteEnabled(false);
  view_.SetNavigationEnabled(false);
  view_.SetSaveEnabled(false);
  view_.SetReading(true);

  Ring.Ring = HistoryRingDescription{};
  Ring.Loaded = false;
  HistoryCoefficient = 100;
  ShowWaitingChart();

  DownloadHistory();

  if (Ring.Loaded) {
    view_.SetNavigationEnabled(true);
    HistoryLevel = kLevelMinute;
    DrawHistoryChart();
  }
  view_.SetReading(false);
  HistoryReading = false;
  view_.SetDeleteEnabled(true);
  view_.SetSaveEnabled(true);
}

bool HistoryController::DownloadHistory() {
  ConnectionManager& connection = context_.connection;
  const bool linkWatch = connection.LinkWatch;
  connection.LinkWatch = false;
  Ring.Clear();
  Csv.Clear();

  enum class Outcome { Complete, Cancelled, Error, FormatError };
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

    const HistorySectorPlan plan = PlanHistorySectors(ring);
    if (!HistoryFormatAccepted(ring, plan)) {
      outcome = Outcome::FormatError;
      return;
    }
    view_.SetProgressMaximum(static_cast<int>(plan.Count));
    view_.SetProgress(0);
    for (uint32_t k = 0; k < plan.Count; ++k) {
      if (HistoryCancel || context_.pump.QuitRequested()) {
        context_.dialogs.ShowMessage(
            BoxKind::Warning, Text("Чтение истории отменено", "Reading of History canceled"));
        view_.SetProgress(0);
        outcome = Outcome::Cancelled;
        return;
      }
      const uint32_t sector = plan.SectorAt(k, ring.SectorCount);
      for (uint32_t i = 0; i < kHistorySectorRecords; ++i) {
        if (!Ring.FetchIntoCopy(sector * kHistorySectorRecords + i)) return;
      }
      AppendSectorCsv(Csv, Ring, sector, HistoryCoefficient);
      view_.SetProgress(static_cast<int>(k));
      context_.pump.ProcessEvents(context_.clock.TickMs());  // Cancel and the heartbeat
    }
    view_.SetProgress(0);
    Ring.Loaded = true;
    outcome = Outcome::Complete;
  }();

  // The device leaves its reading state whenever it entered it, also after a failure, and when
  // every answer to the start was lost (the device may have taken it all the same: the end goes
  // out without a second box).
  if (started || startUnanswered)
    SetParameter(context_, param::CommandParameter, HistoryReadEnd, started);
  view_.SetProgress(0);
  connection.LinkWatch = linkWatch;
  switch (outcome) {
    case Outcome::Complete:
    case Outcome::Cancelled:
      return true;
    case Outcome::FormatError:
      context_.dialogs.ShowMessage(
          BoxKind::Error, Text("Ошибка формата данных истории", "Error of History Format Data"));
      return false;
    case Outcome::Error:
      context_.dialogs.ShowMessage(BoxKind::Error,
                                   Text("Ошибка чтения истории", "Error of History reading"));
      return false;
  }
  return false;
}

void HistoryController::OnDeleteClicked() {
  if (!context_.dialogs.Ask(QuestionKind::Confirmation,
                            Text("История в приборе будет удалена!\r\nПродолжить?",
                                 "History in Device will be deleted!\r\nContinue"))) {
    return;
  }
  DeviceOperation operation(context_);
  const bool allowed = !context_.connection.HeartbeatRunning() && CheckHistoryAccess();
  if (allowed && SetParameter(context_, param::CommandParameter, HistoryReadStart)) {
    SetParameter(context_, param::CommandParameter, HistoryDelete);
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

void HistoryController::DrawHistoryChart() {
  LastChart = dravion::DrawHistoryChart(Ring, HistoryViewTime, HistoryLevel, HistoryCoefficient,
                                        view_.ShowMaximumTicked(), context_.language);
  view_.ShowChart(LastChart);
}

void HistoryController::OnBackClicked() {
  if (!Ring.Loaded) return;
  HistoryStepBack(HistoryViewTime, HistoryLevel);
  DrawHistoryChart();
}

void HistoryController::OnForwardClicked() {
  if (!Ring.Loaded) return;
  HistoryStepForward(HistoryViewTime, HistoryLevel);
  DrawHistoryChart();
}

void HistoryController::OnUpClicked() {
  if (!Ring.Loaded || HistoryLevel >= kLevelYear) return;
  ++HistoryLevel;
  DrawHistoryChart();
}

void HistoryController::OnLatestClicked() {
  if (!Ring.Loaded) return;
  HistoryViewTime = HistoryDeviceTime;
  HistoryLevel = kLevelMinute;
  DrawHistoryChart();
}

void HistoryController::OnShowMaximumClicked() {
  if (!Ring.Loaded) return;
  DrawHistoryChart();
}

void HistoryController::OnBarDoubleClicked(int bar) {
  if (!Ring.Loaded) return;
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
  std::string name = LastSavedName;
  if (!view_.AskSaveFileName(request, name) || name.empty()) return;
  SaveCsv(name);
}

bool HistoryController::SaveCsv(const std::string& name) {
  const bool exists = FileExists(name);
  if (exists &&
      !context_.dialogs.Ask(QuestionKind::Warning, Text("Файл\r\n", "File\r\n") + name +
                                                       Text("\r\nуже существует\r\nПерезаписать?",
                                                            "\r\nalready exists\r\nRewrite?"))) {
    return false;
  }
  const FileWriteResult result = WriteFileReplacing(name, Csv.CsvText, FileHook);
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
