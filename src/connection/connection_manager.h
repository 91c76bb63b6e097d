#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "connection/connection_view.h"
#include "serial/port_fault.h"

namespace dravion {

class Clock;
class ConnectedDevice;
class ConnectionPort;
class Dialogs;
class Language;
class LogSink;
class OptionStore;
class PortList;

inline constexpr int kManualPort = 1;
inline constexpr int kAutoWatch = 2;
inline constexpr int kAutoScan = 21;

inline constexpr uint32_t kConnectionBaud = 230400;
inline constexpr uint32_t kConnectionTickSpacingMs = 1000;
inline constexpr uint32_t kIdentificationDelayMs = 1000;
inline constexpr int kManualPortMax = 250;
// After this long without a port to try, the device line says how to get one.
inline constexpr uint32_t kNoCandidateHintMs = 5000;
// Options that remember the port of the last identified device and the USB identity behind it.
inline constexpr char kDevicePortOption[] = "DEVICEPORT";
inline constexpr char kDevicePortIdOption[] = "DEVICEPORTID";
// The link-test payload (8 bytes, no terminator).
inline constexpr char kLinkTestPayload[] = "Zavrelon";

// Finds the device on a serial port, keeps checking that it answers, identifies it once per
// connection and shows all of this in the status bar. Driven by OnHeartbeatTimer, which the window
// calls every 100 ms on its user-interface thread (a headless program calls it from its loop).
class ConnectionManager {
 public:
  ConnectionManager(ConnectionPort& port, PortList& ports, ConnectedDevice& device,
                    ConnectionView& view, Dialogs& dialogs, Clock& clock, LogSink& log,
                    const Language& language);

  // The heartbeat: the connection tick at more than 1000 ms spacing (at once when a port appears
  // while the automatic search has none to try), the identification one second
  // into a connection, the reset when the device is lost, then MeasurementTick. Run inside the
  // wait of another exchange, it leaves the link test and the identification for later.
  void OnHeartbeatTimer();
  // The connection tick of the current ConnectionMode.
  void OnConnectionTimer();
  // Positive: the device echoed the payload (or LinkWatch is off); 0 no answer; negative no port.
  int LinkTest();
  // Runs the identification framed by its log banners; true when the device was identified.
  bool ReadDeviceInformationLogged();
  void ShowStatus(const std::string& text, int style);

  // The Connection menu.
  void OnAutoTriggered();
  void OnManualTriggered() {}
  void OnManualActionUpdate() { AutoWasChecked = autoChecked_; }
  void OnManualNumberTriggered();
  void OnManualListTriggered() {}
  bool ManualListEnabled() const { return false; }
  bool AutoChecked() const { return autoChecked_; }
  // Whether a heartbeat is running now (a handler run from inside one of its waits sees true).
  bool HeartbeatRunning() const { return heartbeatDepth_ > 0; }

  // Shows the current state on a freshly built view: device line, indicator, menu.
  void ShowInitialState();
  // The device restarts (or was rewritten): the link is dropped, and once the device answers
  // again it is identified afresh, in every connection mode, even when it comes back before the
  // next connection tick.
  void ReconnectDevice();

  // Remembers the port of each identified device in `options`, and at start lets the automatic
  // search try a present port that holds the device remembered there: the same USB identity, or,
  // when none was known for it, the same number. Other ports present at start stay untouched.
  // Before the first heartbeat.
  void RememberDevicePort(OptionStore* options);

  // The line for the device line when a monitoring station of this computer holds port `port`
  // (any port when 0), else empty. Such a port is never opened, and while no device is
  // connected the device line says which station holds it. Empty: no station is looked for.
  std::function<std::string(int port)> StationHolding;

  // Hooks of the pages that follow the connection; empty ones do nothing.
  std::function<void()> ShowDeviceInformation;
  std::function<void()> MeasurementTick;
  // A port would not open: its fault and the line said about it, once per port and reason (the
  // line that goes to the log).
  std::function<void(const PortOpenFailure& failure, const std::string& text)> PortRefused;

  int ConnectionMode = kAutoWatch;
  bool Connected = false;
  bool Identified = false;
  int SelectedPort = -1;
  int CurrentPort = -1;
  int ConnectedPort = -1;
  int ManualPortNumber = 1;
  int ScanIndex = 0;
  bool Blink = false;
  bool LinkWatch = true;
  bool IdentificationDone = false;
  uint32_t LastConnectionTick = 0;
  uint32_t ConnectStartTick = 0;
  bool AutoWasChecked = false;

  // What the device line and the indicator show now; the line starts with the window's text.
  std::string StatusText = "Ожидание соединения";
  StatusStyle StatusStyleShown = StatusStyle::Neutral;
  LinkState Indicator = LinkState::NOK;
  bool UpdateEnabled = false;

 private:
  // While the automatic search has no port to try, the port list is looked at on every heartbeat:
  // true when a port appeared, so that it is tried now rather than up to a tick spacing later.
  bool PortAppearedWhileIdle();
  void ManualPortTick();
  void AutoWatchTick();
  void AutoScanTick();
  void Identify();
  void ForgetDevice();
  // Notes the port of a device just identified in the options.
  void StoreDevicePort();
  // The device line while the automatic search has no port to try (after a few seconds).
  void ShowNoCandidate(bool none);
  // While no device is connected, the device line names the station that holds a port (the
  // manual one, or any), and goes back to waiting once it no longer does.
  void ShowStationHolding();
  void DropLink();
  void ClosePort();
  // Opens port `number`; when it does not open, logs why after the port's own line, once per port
  // and reason.
  bool OpenPort(int number);
  void ShowLink(LinkState state);
  // Handles a failed link test (NOK when no port, ERR and the port closed when no answer);
  // true when the device answered, which the caller then shows.
  bool TakeLinkResult(int result);
  void SetUpdateEnabled(bool enabled);
  // Moves to `to` unless a menu action changed the mode while the tick was waiting for the device.
  void SwitchMode(int from, int to);

  ConnectionPort& port_;
  PortList& ports_;
  ConnectedDevice& device_;
  ConnectionView& view_;
  Dialogs& dialogs_;
  Clock& clock_;
  LogSink& log_;
  const Language& language_;
  int heartbeatDepth_ = 0;
  bool reidentify_ = false;  // ReconnectDevice was called since the last identification
  bool inConnectionTick_ = false;
  bool autoChecked_ = true;
  // The reason last logged for each port that failed to open since it last opened.
  std::map<int, PortFault> explained_;
  OptionStore* options_ = nullptr;
  bool noCandidate_ = false;
  uint32_t noCandidateSince_ = 0;
  bool hintShown_ = false;
  bool stationShown_ = false;
  std::set<int> stationExplained_;  // ports whose station was logged since they last opened
};

// The number typed in the manual port dialog: a decimal integer with optional sign and
// surrounding blanks; anything else is -1.
int ParsePortNumberText(const std::string& text);

}  // namespace dravion
