#include "archive/archive_pane.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

#include "archive/archive_files.h"
#include "archive/archive_period.h"
#include "archive/archive_session.h"
#include "archive/station_store.h"
#include "device/device_context.h"
#include "device/device_time.h"
#include "device/history_controller.h"
#include "protocol/identification.h"
#include "services/clock.h"
#include "services/dialogs.h"
#include "services/event_pump.h"
#include "services/language.h"
#include "services/log_sink.h"

namespace dravion {

ArchivePane::ArchivePane(DeviceContext& context, HistoryView& view, HistoryController& download)
    : context_(context), view_(view), download_(download) {}

ArchivePane::~ArchivePane() = default;

std::string ArchivePane::Text(const char* russian, const char* english) const {
  return context_.language.Text(russian, english);
}

HistoryArchive* ArchivePane::Archive() {
  if (archive_ && archive_->IsOpen()) return archive_.get();
  archive_ = std::make_unique<HistoryArchive>();
  const bool opened = archive_->Open(Path.empty() ? DefaultArchivePath() : Path);
  if (const std::string moved = MovedAsideMessage(*archive_, context_.language); !moved.empty())
    context_.dialogs.ShowMessage(BoxKind::Warning, moved);
  openError_.clear();
  if (!opened) {
    openError_ = ArchiveErrorMessage(*archive_, context_.language);
    if (!quietOpen_) context_.dialogs.ShowMessage(BoxKind::Error, openError_);
    archive_.reset();
  }
  return archive_.get();
}

MergeResult ArchivePane::MergeAway(HistoryArchive& archive, const ArchiveBatch& batch,
                                   std::string& notice) {
  // The worker alone touches the archive until it is done; this thread keeps the window's
  // events flowing (the page stays in its reading state, so nothing else reaches the archive)
  // and shows how far the merge is.
  std::atomic<uint64_t> written{0};
  std::atomic<bool> done{false};
  EventPump& pump = context_.pump;
  const std::function<void(uint64_t)> previous = archive.MergeProgress;
  archive.MergeProgress = [&](uint64_t n) {
    if (previous) previous(n);
    written.store(n);
    pump.Wake();
  };
  MergeResult result;
  std::thread worker([&] {
    result = MergeIntoArchive(archive, batch, context_.language, notice);
    done.store(true);
    pump.Wake();
  });
  const std::string total = GroupedNumber(batch.Records.size(), context_.language);
  uint64_t shown = ~uint64_t{0};
  while (!done.load()) {
    pump.ProcessEvents(context_.clock.TickMs() + 250);
    const uint64_t n = written.load();
    if (n == shown) continue;
    shown = n;
    const std::string count = GroupedNumber(n, context_.language);
    view_.ShowSummary(Text("Сохранение в архиве: ", "Keeping in the archive: ") + count +
                      Text(" из ", " of ") + total);
  }
  worker.join();
  archive.MergeProgress = previous;
  view_.ShowSummary(download_.SummaryText());  // what the download brought, as before the merge
  return result;
}

std::string ArchivePane::MergeDownload() {
  // The download stays in the page whatever happens here (Save CSV writes it); a merge that
  // failed is offered again until it succeeds or the user lets it be.
  const ArchiveBatch batch = BatchFromDownload(download_, context_.device);
  MergeResult merged;
  HistoryArchive* archive = nullptr;
  for (;;) {
    quietOpen_ = true;
    archive = Archive();
    quietOpen_ = false;
    std::string reason;
    if (archive != nullptr) {
      std::string notice;
      merged = MergeAway(*archive, batch, notice);
      // Another program writing the archive (an import, dravion-cli) is waited for a while
      // before the user is asked: each try waits out the archive's busy time-out.
      for (int tries = 1; !merged.Ok && merged.Busy && tries < BusyTries; ++tries) {
        context_.log.LogLine("# The history archive is in use by another program; trying again");
        view_.ShowSummary(Text("Архив занят другой программой, повтор…",
                               "The archive is in use by another program; trying again…"));
        Delay(context_.pump, context_.clock, BusyPauseMs);
        merged = MergeAway(*archive, batch, notice);
      }
      if (!notice.empty()) context_.dialogs.ShowMessage(BoxKind::Warning, notice);
      if (merged.Ok) break;
      reason = merged.Error;
    } else {
      reason = openError_;
    }
    if (!context_.dialogs.Ask(
            QuestionKind::Error,
            Text("История не сохранена в архиве\r\n",
                 "The history was not kept in the archive\r\n") +
                reason +
                Text("\r\nЗагруженные записи можно сохранить в CSV.\r\nПовторить?",
                     "\r\nThe downloaded records can still be saved as CSV.\r\nRetry?")))
      return {};
  }
  if (const std::string warning = ClockSetBackMessage(merged, context_.language); !warning.empty())
    context_.log.LogLine(warning);
  if (const std::optional<ArchiveDevice> d = archive->FindDevice(batch.Serial, batch.Uid))
    lastMerged_ = d->Id;
  return MergeMessage(merged, context_.language);
}

bool ArchivePane::Show() {
  HistoryArchive* archive = Archive();
  if (archive == nullptr) return false;
  std::optional<ArchiveDevice> chosen;
  if (context_.device.Valid)
    chosen = archive->FindDevice(ArchiveSerialOf(context_.device), ArchiveUidOf(context_.device));
  if ((!chosen || chosen->Records == 0) && lastMerged_ != 0) chosen = archive->Device(lastMerged_);
  if (!chosen || chosen->Records == 0) {
    for (const ArchiveDevice& d : archive->Devices()) {
      if (d.Records > 0) {
        chosen = d;
        break;
      }
    }
  }
  if (!chosen || chosen->Records == 0) {
    context_.dialogs.ShowMessage(BoxKind::Information,
                                 Text("Архив истории пуст", "The history archive is empty"));
    device_ = 0;
    return false;
  }
  device_ = chosen->Id;
  serial_ = chosen->Serial;
  // After a clock set back the device has runs over the same times: the title says which.
  runNote_.clear();
  if (chosen->Runs > 1)
    runNote_ = Text(", серия ", ", run ") + std::to_string(chosen->Run) + Text(" из ", " of ") +
               std::to_string(chosen->Runs);
  coefficient_ = chosen->Coefficient;
  latest_ = chosen->LastStart;
  ViewTime = TimeRecordFromSeconds(latest_);
  Level = kLevelMinute;
  DrawChart();
  return true;
}

void ArchivePane::DrawChart() {
  if (!Shown() || Archive() == nullptr) return;
  const std::unique_ptr<HistoryPeriodSource> periods = archive_->Periods(device_);
  LastChart = DrawHistoryChart(*periods, ViewTime, Level, coefficient_, view_.ShowMaximumTicked(),
                               context_.language);
  if (archive_->ReadFailed()) {
    // Bars drawn from part of the records would show a wrong picture as a true one.
    context_.dialogs.ShowMessage(BoxKind::Error, ArchiveErrorMessage(*archive_, context_.language));
    AfterDamage();
    return;
  }
  // The title says where the bars come from.
  LastChart.Title.insert(
      LastChart.Title.begin(),
      Text("Архив истории прибора S/N ", "History archive of S/N ") + serial_ + runNote_);
  ChartInUnit(LastChart, Unit, context_.language);
  if (ShowStation) AddStationReadings();
  view_.ShowChart(LastChart);
  if (ChartDrawn) ChartDrawn();
}

void ArchivePane::AddStationReadings() {
  // A connection of its own, read-only and only while drawing: the archive's is busy with the
  // records, and an open file could not be moved aside on Windows.
  StationStore readings;
  std::vector<double> means;
  if (readings.OpenToLook(Path.empty() ? DefaultArchivePath() : Path, 2000))
    means = readings.MeanRates(serial_, HistoryChartPeriods(ViewTime, Level));
  size_t shown = 0;
  LastChart.Station.assign(means.size(), std::numeric_limits<double>::quiet_NaN());
  for (size_t i = 0; i < means.size(); ++i) {
    if (std::isnan(means[i])) continue;
    LastChart.Station[i] = means[i] * 100;  // µSv/h in the values' µR/h
    ++shown;
  }
  LastChart.Title.push_back(
      shown > 0
          ? Text("Линия: среднее станции наблюдения", "Line: the monitoring station's mean")
          : Text("Показаний станции наблюдения здесь нет", "No monitoring station readings here"));
}

bool ArchivePane::AskSaveFileName(const SaveFileRequest& request, std::string& name) {
  return view_.AskSaveFileName(request, name);
}

void ArchivePane::OnBackClicked() {
  if (!Shown()) return;
  HistoryStepBack(ViewTime, Level);
  DrawChart();
}

void ArchivePane::OnForwardClicked() {
  if (!Shown()) return;
  HistoryStepForward(ViewTime, Level);
  DrawChart();
}

void ArchivePane::OnUpClicked() {
  if (!Shown() || Level >= kLevelYear) return;
  ++Level;
  DrawChart();
}

void ArchivePane::OnLatestClicked() {
  if (!Shown()) return;
  ViewTime = TimeRecordFromSeconds(latest_);
  Level = kLevelMinute;
  DrawChart();
}

void ArchivePane::OnBarDoubleClicked(int bar) {
  if (!Shown() || !HistoryZoomInto(ViewTime, Level, bar)) return;
  DrawChart();
}

void ArchivePane::OnSaveCsvClicked() {
  if (!Shown() || Archive() == nullptr) return;
  ArchiveRange range;
  range.Device = device_;
  if (context_.dialogs.Ask(QuestionKind::Confirmation,
                           Text("Сохранить только показанный период?\r\nДа: период графика. "
                                "Нет: весь архив прибора.",
                                "Save only the period shown?\r\nYes: the chart's period. No: "
                                "the device's whole archive."))) {
    const auto periods = HistoryChartPeriods(ViewTime, Level);
    range.From = periods.front().first;
    range.To = static_cast<uint32_t>(std::min<uint64_t>(
        uint64_t{periods.back().first} + periods.back().second - 1, 0xFFFFFFFFu));
  }
  SaveFileRequest request;
  request.Title = Text("Сохранение истории в формате CSV", "CSV History saving");
  request.Filter = Text("Файлы CSV (*.csv)|*.CSV", "CSV Files(*.csv)|*.CSV");
  request.DefaultSuffix = "csv";
  std::string name = download_.LastSavedName;
  if (!view_.AskSaveFileName(request, name) || name.empty()) return;
  download_.SaveFile(name, [&](const FileStepHook& hook) {
    const ExportResult exported = archive_->ExportCsv(range, name, hook);
    return FileWriteResult{exported.Ok, exported.Failed};
  });
  if (archive_->ReadFailed()) AfterDamage();
}

void ArchivePane::AfterDamage() {
  device_ = 0;
  if (!archive_ || !archive_->Damaged()) return;
  // The file goes aside, what still reads of it into a new one.
  if (archive_->StartAgain())
    context_.dialogs.ShowMessage(BoxKind::Warning, MovedAsideMessage(*archive_, context_.language));
  else
    context_.dialogs.ShowMessage(BoxKind::Error, ArchiveErrorMessage(*archive_, context_.language));
}

}  // namespace dravion
