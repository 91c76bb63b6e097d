#pragma once

#include <QObject>

#include "connection/connection_core.h"
#include "device/device_context.h"
#include "device/measurement.h"
#include "device/measurement_trend.h"
#include "device/reading_recorder.h"
#include "device/settings_controller.h"
#include "firmware/device_information_view.h"
#include "firmware/update_wizard.h"
#include "monitor/station_watch.h"
#include "protocol/commands.h"
#include "protocol/identification.h"
#include "protocol/link_stack.h"
#include "ui/window_connection_view.h"

namespace dravion {
class Clock;
class Dialogs;
class EventPump;
class Language;
class LogSink;
}  // namespace dravion

namespace dravion::ui {

class MainWindow;

// The window's side of a device operation: the page control enabled or not, the busy animation,
// the bottom panel's progress bar.
class WindowDeviceFrame : public DeviceFrame {
 public:
  explicit WindowDeviceFrame(MainWindow& form) : form_(form) {}
  void SetPagesEnabled(bool enabled) override;
  void ShowBusy(int interval) override;
  void HideBusy() override;
  void SetProgress(int percent) override;
  void HoldSessionEnd(const std::string& reason) override;
  void ReleaseSessionEnd() override;

 private:
  MainWindow& form_;
};

// What the main window owns for the device: the serial port with its encoder and three
// channels, the command set, the identity record of the connected device, and the connection
// manager driven by the window's heartbeat and showing itself in the status bar and the
// Connection menu; and the device context that every device page's controller works through.
class DeviceSession {
 public:
  DeviceSession(MainWindow& form, EventPump& pump, Clock& clock, Dialogs& dialogs, LogSink& log,
                const Language& language);
  ~DeviceSession();
  DeviceSession(const DeviceSession&) = delete;
  DeviceSession& operator=(const DeviceSession&) = delete;

  // Starts the heartbeat's work and the menu actions; called once the window may be shown.
  void Start();

  ConnectionManager& Manager() { return connection.manager; }

  LinkStack stack;
  DeviceCommands commands{stack};
  DeviceInfo deviceInfo;

 private:
  MainWindow& form_;
  WindowConnectionView view_;

 public:
  ConnectionCore connection;

 private:
  WindowDeviceFrame frame_;

 public:
  DeviceContext context;
  // The settings page's sequences, shown on the window's settings page.
  SettingsController settings;
  // The measuring page's sequences, run by the page's buttons and the heartbeat.
  MeasurementController measurement;
  // The readings of the measuring page: its trend, and the recording into a file.
  MeasurementTrend trend;
  ReadingRecorder recorder;
  // The About-device page's memo, refilled by the connection manager after each identification.
  DeviceInformationPage information;
  // The firmware update behind the page's BitBtn_ReNewDeviceInfo.
  UpdateWizard wizard;
  // Monitoring stations of this computer: their ports left alone and named in the status bar,
  // their readings on the measuring page.
  StationWatch stations;

 private:
  // The setting "Download new history when the device is connected": once the device is
  // identified and no other device operation runs, its new records are read in the background.
  void SyncHistorySoon(int delayMs);
  bool syncPending_ = false;
  QObject syncTimers_;  // the pending sync's timer goes with the session
};

}  // namespace dravion::ui
