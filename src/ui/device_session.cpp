#include "ui/device_session.h"

#include <QAction>
#include <QPushButton>
#include <QTimer>

#include "archive/archive_pane.h"
#include "archive/archive_session.h"
#include "archive/archive_stats.h"
#include "services/event_pump.h"
#include "services/log_sink.h"
#include "ui/main_window.h"
#include "ui/pages/history_page.h"
#include "ui/pages/info_page.h"
#include "ui/pages/measurement_page.h"
#include "ui/pages/settings_page.h"

namespace dravion::ui {

DeviceSession::DeviceSession(MainWindow& form, EventPump& pump, Clock& clock, Dialogs& dialogs,
                             LogSink& log, const Language& language)
    : stack(pump, clock, dialogs),
      form_(form),
      view_(form),
      connection(stack, commands, deviceInfo, view_, dialogs, clock, log, language),
      frame_(form),
      context{commands, deviceInfo, connection.manager, log, dialogs, language, clock,
              pump,     frame_},
      settings(context, *form.Settings()),
      measurement(context, *form.MeasuringPage()),
      recorder(log, dialogs, language),
      information(deviceInfo, language, *form.DeviceInfoPage()),
      wizard(context, *form.DeviceInfoPage()),
      stations(clock, language, *form.MeasuringPage()) {
  stack.port.LogCallback = [&log](const std::string& line) { log.LogLine(line); };
  form.MeasuringPage()->SetController(&measurement);
  measurement.AddListener(&trend);
  measurement.AddListener(&recorder);
  form.MeasuringPage()->SetTrend(&trend, &recorder, &dialogs);
  form.MeasuringPage()->SuggestName = [this](const std::string& what, const std::string& suffix) {
    return SuggestedFileName(IdentifiedSerial(deviceInfo), what, context.clock.Now(), suffix);
  };
  connection.manager.ShowDeviceInformation = [this] {
    information.ShowDeviceInformation();
    form_.History()->UpdateReadNew();
    if (form_.HistorySyncChecked()) SyncHistorySoon(0);
  };
  // The measuring page's automatic reading waits while the history is read in the background.
  connection.manager.MeasurementTick = [this] {
    if (!form_.History()->BackgroundReading()) measurement.MeasurementTick();
  };
  form_.History()->BackgroundProgress = [this](int percent) { form_.SetProgress(percent); };
  QObject::connect(&form_, &MainWindow::LanguageChanged, &form_, [this] {
    information.LanguageChanged();
    stations.Update(true);
  });
  connection.manager.StationHolding = [this](int port) { return stations.HoldingText(port); };
  view_.InformationCleared = [this] {
    information.ClearDeviceInformation();
    form_.History()->UpdateReadNew();
  };
  form_.History()->Attach(context);
  // The figures of the archive take the device's unit and alarm threshold as last read.
  settings.AlarmSettingsRead = [this](uint32_t units, uint32_t level) {
    ArchivePane* pane = form_.History()->Archive();
    if (HistoryArchive* archive = pane ? pane->Archive() : nullptr)
      RememberDeviceAlarm(*archive, ArchiveSerialOf(deviceInfo), units, level);
  };
}

void DeviceSession::SyncHistorySoon(int delayMs) {
  if (syncPending_) return;
  syncPending_ = true;
  QTimer::singleShot(delayMs, &syncTimers_, [this] {
    syncPending_ = false;
    ConnectionManager& manager = connection.manager;
    if (!manager.Connected || !manager.Identified || !form_.HistorySyncChecked()) return;
    // Not inside another device operation, the heartbeat's exchange or a read of the page.
    if (!form_.PagesEnabled() || form_.HistoryReading() || manager.HeartbeatRunning() ||
        form_.History()->Controller() == nullptr || form_.History()->Controller()->HistoryReading) {
      SyncHistorySoon(500);
      return;
    }
    form_.History()->StartBackgroundReadNew();
  });
}

void WindowDeviceFrame::SetPagesEnabled(bool enabled) {
  form_.SetPagesEnabled(enabled);
}

void WindowDeviceFrame::ShowBusy(int interval) {
  form_.ShowBusy(interval);
}

void WindowDeviceFrame::HideBusy() {
  form_.HideBusy();
}

void WindowDeviceFrame::SetProgress(int percent) {
  form_.SetProgress(percent);
}

void WindowDeviceFrame::HoldSessionEnd(const std::string& reason) {
  form_.HoldSessionEnd(QString::fromStdString(reason));
}

void WindowDeviceFrame::ReleaseSessionEnd() {
  form_.ReleaseSessionEnd();
}

DeviceSession::~DeviceSession() {
  form_.Settings()->SetController(nullptr);
  form_.MeasuringPage()->SetController(nullptr);
  form_.MeasuringPage()->SetTrend(nullptr, nullptr, nullptr);
  form_.MeasuringPage()->SuggestName = nullptr;
  recorder.Stop();
  form_.History()->Detach();
  form_.History()->BackgroundProgress = nullptr;
  view_.InformationCleared = nullptr;
  form_.SetHeartbeat(nullptr);
  form_.SetConnectionTick(nullptr);
}

void DeviceSession::Start() {
  ConnectionManager& manager = connection.manager;
  manager.ShowInitialState();
  // Until a device is identified, the About-device page says what to do.
  if (!deviceInfo.Valid) information.ClearDeviceInformation();
  form_.Settings()->SetController(&settings);
  form_.SetHeartbeat([&manager, this] {
    UserInputHold hold(context.pump);
    manager.OnManualActionUpdate();  // the manual action's idle update
    manager.OnHeartbeatTimer();
    // The stations write to the archive the history page shows.
    if (ArchivePane* pane = form_.History()->Archive(); pane && pane->Path != stations.ArchivePath)
      stations.ArchivePath = pane->Path;
    stations.Update();
  });
  form_.SetConnectionTick([&manager] { manager.OnConnectionTimer(); });
  QObject::connect(form_.ActionByName(QStringLiteral("Action_Connection_Auto")),
                   &QAction::triggered, &form_, [&manager] { manager.OnAutoTriggered(); });
  // Queued: it asks for the number in a modal prompt, and a screen reader's press on the menu
  // item is answered only when the handler returns.
  QObject::connect(
      form_.ActionByName(QStringLiteral("Action_Connection_Manual_Number")), &QAction::triggered,
      &form_, [&manager] { manager.OnManualNumberTriggered(); }, Qt::QueuedConnection);
  QObject::connect(form_.DeviceInfoPage()->UpdateButton(), &QPushButton::clicked, &form_,
                   [this] { wizard.OnUpgradeClicked(); });
}

}  // namespace dravion::ui
