#include "connection/connection_manager.h"

#include <cctype>
#include <climits>

#include "connection/connected_device.h"
#include "connection/connection_port.h"
#include "connection/port_help.h"
#include "serial/port_list.h"
#include "services/clock.h"
#include "services/dialogs.h"
#include "services/language.h"
#include "services/log_sink.h"
#include "services/option_store.h"

namespace dravion {
namespace {

const std::string kBanner(42, '#');
const char* const kWaitingRu = "Ожидание соединения";
const char* const kWaitingEn = "Waiting Connection";
const char* const kNoPortRu =
    "Подключите прибор или выберите его порт: Настройки > Соединение > Вручную";
const char* const kNoPortEn =
    "Plug the device in, or choose its port: Settings > Connection > Manual";

// Clears a flag when the scope ends, however it ends.
class FlagScope {
 public:
  explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagScope() { flag_ = false; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
};

}  // namespace

int ParsePortNumberText(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const size_t digits = i;
  long long value = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
    value = value * 10 + (text[i] - '0');
    if (value > INT_MAX) return -1;
    ++i;
  }
  if (i == digits) return -1;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
    ++i;
  if (i != text.size()) return -1;
  return static_cast<int>(negative ? -value : value);
}

ConnectionManager::ConnectionManager(ConnectionPort& port, PortList& ports, ConnectedDevice& device,
                                     ConnectionView& view, Dialogs& dialogs, Clock& clock,
                                     LogSink& log, const Language& language)
    : port_(port),
      ports_(ports),
      device_(device),
      view_(view),
      dialogs_(dialogs),
      clock_(clock),
      log_(log),
      language_(language) {}

void ConnectionManager::ShowInitialState() {
  view_.ShowStatus(StatusText, StatusStyleShown);
  view_.ShowPortPanel(port_.IsOpen() ? "COM " + std::to_string(port_.PortNumber()) : "----");
  view_.SetUpdateButtonEnabled(UpdateEnabled);
  view_.SetAutoChecked(autoChecked_);
}

void ConnectionManager::RememberDevicePort(OptionStore* options) {
  options_ = options;
  if (!options_) {
    ports_.HoldsRememberedDevice = nullptr;
    return;
  }
  const int number = static_cast<int>(options_->ReadInt(kDevicePortOption).value_or(0));
  const PortIdentity identity =
      PortIdentity::FromText(options_->ReadText(kDevicePortIdOption).value_or(""));
  if (number <= 0 && !identity.Known()) return;
  ports_.HoldsRememberedDevice = [this, number, identity](int p) {
    const PortIdentity here = identity.Known() ? port_.Identity(p) : PortIdentity{};
    // A remembered USB device is found by its identity only: a port on its old number without
    // one (a Bluetooth or built-in port that took the number) is not poked. The number counts
    // only where nothing else was known (the system told no identity when the device was seen).
    const bool holds = identity.Known() ? here == identity : p == number;
    if (holds) {
      log_.LogLine(
          "COM " + std::to_string(p) + ": " +
          language_.Text("порт прибора с прошлого запуска", "the device's port last time") +
          (here.Known() ? " (USB " + here.Text() + ")" : std::string()));
    }
    return holds;
  };
}

void ConnectionManager::StoreDevicePort() {
  if (!options_ || ConnectedPort <= 0) return;
  const std::string identity = port_.Identity(ConnectedPort).Text();
  if (options_->ReadInt(kDevicePortOption).value_or(0) != ConnectedPort)
    options_->WriteInt(kDevicePortOption, ConnectedPort);
  if (options_->ReadText(kDevicePortIdOption).value_or("") != identity)
    options_->WriteText(kDevicePortIdOption, identity);
}

void ConnectionManager::ShowNoCandidate(bool none) {
  if (!none) {
    noCandidate_ = false;
    if (hintShown_ && !IdentificationDone) ShowStatus(language_.Text(kWaitingRu, kWaitingEn), 0);
    hintShown_ = false;
    return;
  }
  const uint32_t now = clock_.TickMs();
  if (!noCandidate_) {
    noCandidate_ = true;
    noCandidateSince_ = now;
  }
  if (!hintShown_ && !stationShown_ && !IdentificationDone && !Connected &&
      TicksSince(noCandidateSince_, now) >= kNoCandidateHintMs) {
    ShowStatus(language_.Text(kNoPortRu, kNoPortEn), 0);
    hintShown_ = true;
  }
}

void ConnectionManager::ShowStationHolding() {
  if (!StationHolding) return;
  const std::string holding =
      Connected || IdentificationDone
          ? std::string()
          : StationHolding(ConnectionMode == kManualPort ? ManualPortNumber : 0);
  if (!holding.empty()) {
    if (StatusText != holding) ShowStatus(holding, 0);
    stationShown_ = true;
  } else if (stationShown_) {
    stationShown_ = false;
    hintShown_ = false;
    if (!IdentificationDone) ShowStatus(language_.Text(kWaitingRu, kWaitingEn), 0);
  }
}

void ConnectionManager::ShowStatus(const std::string& text, int style) {
  StatusText = text;
  StatusStyleShown = StatusStyleFromNumber(style);
  view_.ShowStatus(StatusText, StatusStyleShown);
}

void ConnectionManager::ShowLink(LinkState state) {
  Indicator = state;
  view_.ShowLink(state, ColourOfLink(state), TextOfLink(state, Blink));
  view_.ShowPortPanel(port_.IsOpen() ? "COM " + std::to_string(port_.PortNumber()) : "----");
}

void ConnectionManager::SetUpdateEnabled(bool enabled) {
  UpdateEnabled = enabled;
  view_.SetUpdateButtonEnabled(enabled);
}

void ConnectionManager::DropLink() {
  ConnectedPort = -1;
  Connected = false;
}

void ConnectionManager::ClosePort() {
  port_.Close();
}

bool ConnectionManager::OpenPort(int number) {
  // A station's port is left to it: opened here (root may open a port held exclusively), the
  // two programs' requests and answers would mix.
  if (StationHolding) {
    if (const std::string holding = StationHolding(number); !holding.empty()) {
      if (stationExplained_.insert(number).second) log_.LogLine(holding);
      return false;
    }
  }
  port_.SetPortNumber(number);
  if (port_.Open(kConnectionBaud)) {
    explained_.erase(number);
    stationExplained_.erase(number);
    return true;
  }
  const PortOpenFailure failure = port_.LastOpenFailure();
  if (failure.fault != PortFault::None) {
    const auto [said, first] = explained_.try_emplace(number, failure.fault);
    if (first || said->second != failure.fault) {
      said->second = failure.fault;
      const std::string text = PortFailureText(number, failure, language_);
      log_.LogLine(text);
      if (PortRefused) PortRefused(failure, text);
    }
  }
  return false;
}

void ConnectionManager::SwitchMode(int from, int to) {
  if (ConnectionMode == from) ConnectionMode = to;
}

int ConnectionManager::LinkTest() {
  if (!LinkWatch) return 1;
  const int result = device_.ConnectionTest(reinterpret_cast<const uint8_t*>(kLinkTestPayload),
                                            static_cast<int>(sizeof kLinkTestPayload - 1));
  if (result > 0) CurrentPort = port_.PortNumber();
  return result;
}

void ConnectionManager::OnConnectionTimer() {
  // Inside another exchange's wait the port is in use: no link test, no close, no open.
  if (inConnectionTick_ || device_.ExchangeWaiting()) return;
  FlagScope guard(inConnectionTick_);
  Blink = !Blink;
  switch (ConnectionMode) {
    case kManualPort:
      ManualPortTick();
      break;
    case kAutoWatch:
      AutoWatchTick();
      break;
    case kAutoScan:
      AutoScanTick();
      break;
    default:
      break;
  }
  ShowStationHolding();
}

void ConnectionManager::ManualPortTick() {
  if (SelectedPort >= 0 && SelectedPort != ConnectedPort && Connected) {
    // Another port was chosen while connected: let go of this one; the next tick opens the new.
    ClosePort();
    DropLink();
    ShowLink(LinkState::ERR);
    return;
  }
  if (Connected) {
    if (TakeLinkResult(LinkTest())) ShowLink(LinkState::OK);
    return;
  }
  ConnectedPort = -1;
  ClosePort();
  if (SelectedPort < 0) return;
  // The number may change during the link test (the dialog can run while it waits), so the port
  // that is recorded as connected is the one that was opened.
  const int tried = SelectedPort;
  if (!OpenPort(tried)) {
    ShowLink(LinkState::NOK);
    return;
  }
  if (TakeLinkResult(LinkTest())) {
    ShowLink(LinkState::OK);
    ConnectedPort = CurrentPort = ports_.Selected = tried;
    Connected = true;
  }
}

bool ConnectionManager::TakeLinkResult(int result) {
  if (result > 0) return true;
  if (result < 0) {
    // No usable port: the link is gone, the port stays as it is.
    DropLink();
    ShowLink(LinkState::NOK);
  } else {
    // No answer: let go of the port.
    ClosePort();
    DropLink();
    ShowLink(LinkState::ERR);
  }
  return false;
}

void ConnectionManager::AutoWatchTick() {
  if (!Connected) {
    ShowLink(LinkState::NOK);
    SwitchMode(kAutoWatch, kAutoScan);
    return;
  }
  if (TakeLinkResult(LinkTest())) {
    ShowLink(LinkState::OK);
    return;
  }
  SwitchMode(kAutoWatch, kAutoScan);
}

void ConnectionManager::AutoScanTick() {
  ports_.Refresh();
  ShowNoCandidate(ports_.CandidateCount <= 0);
  if (ports_.CandidateCount <= 0) {
    DropLink();
    SelectedPort = -1;
    ClosePort();
    ShowLink(LinkState::NOK);
    return;
  }
  if (ports_.Changed || ScanIndex >= ports_.CandidateCount || ScanIndex < 0) ScanIndex = 0;

  const int tried = ports_.Candidates[ScanIndex];
  SelectedPort = tried;
  // Closed before the number changes, so the close is logged with the port that was open.
  ClosePort();
  if (OpenPort(tried)) {
    if (TakeLinkResult(LinkTest())) {
      Connected = true;
      ConnectedPort = CurrentPort = ports_.Selected = tried;
      ShowLink(LinkState::OK);
      SwitchMode(kAutoScan, kAutoWatch);
      return;
    }
  } else {
    ShowLink(LinkState::NOK);
  }
  ++ScanIndex;
  if (ScanIndex >= ports_.CandidateCount) ScanIndex = 0;
}

bool ConnectionManager::PortAppearedWhileIdle() {
  if (ConnectionMode != kAutoScan || Connected || ports_.CandidateCount > 0 || ports_.FirstRefresh)
    return false;
  ports_.Refresh();
  if (ports_.CandidateCount <= 0) return false;
  ScanIndex = 0;
  return true;
}

bool ConnectionManager::ReadDeviceInformationLogged() {
  log_.LogLine(kBanner);
  log_.LogLine("# Read Device Information:");
  const bool identified = device_.IdentifyDevice();
  log_.LogLine(kBanner);
  return identified;
}

void ConnectionManager::ReconnectDevice() {
  DropLink();
  Identified = false;
  reidentify_ = true;
}

void ConnectionManager::Identify() {
  reidentify_ = false;
  if (ReadDeviceInformationLogged()) {
    hintShown_ = false;
    ShowStatus(device_.DeviceName() + " S/N: " + device_.SerialText(), 1);
    Identified = true;
    StoreDevicePort();
    SetUpdateEnabled(true);
  } else {
    ShowStatus(
        language_.Text("Неизвестный прибор [", "Unknown Device [") + device_.DeviceName() + "]", 2);
    Identified = false;
    SetUpdateEnabled(false);
  }
  if (ShowDeviceInformation) ShowDeviceInformation();
  IdentificationDone = true;
}

void ConnectionManager::ForgetDevice() {
  reidentify_ = false;
  ShowStatus(language_.Text(kWaitingRu, kWaitingEn), 0);
  IdentificationDone = false;
  device_.ForgetDeviceData();
  device_.ClearDeviceInfo();
  view_.ClearDeviceInformation();
  SetUpdateEnabled(false);
  Identified = false;
  ConnectStartTick = clock_.TickMs();
}

void ConnectionManager::OnHeartbeatTimer() {
  if (heartbeatDepth_ > 0) return;
  ++heartbeatDepth_;
  struct Leave {
    int& depth;
    ~Leave() { --depth; }
  } leave{heartbeatDepth_};

  const uint32_t now = clock_.TickMs();
  // Seen without a connection now, before a tick that may connect: the identification's second
  // counts from here, however long ago the previous heartbeat ran.
  if (!IdentificationDone && !Connected) ConnectStartTick = now;
  // A tick that comes due while an exchange waits runs at the first heartbeat after it.
  if (!device_.ExchangeWaiting() &&
      (TicksSince(LastConnectionTick, now) > kConnectionTickSpacingMs || PortAppearedWhileIdle())) {
    LastConnectionTick = now;
    OnConnectionTimer();
  }
  if (!IdentificationDone) {
    if (!Connected) {
      ConnectStartTick = clock_.TickMs();
    } else if (TicksSince(ConnectStartTick, clock_.TickMs()) >= kIdentificationDelayMs &&
               !device_.ExchangeWaiting()) {
      Identify();
    }
  }
  // A restarted device may be connected again already (a manual port reopens at once): it is
  // forgotten all the same, and identified anew a second later.
  if (IdentificationDone && (!Connected || reidentify_) && LinkWatch) ForgetDevice();
  if (MeasurementTick) MeasurementTick();
}

void ConnectionManager::OnAutoTriggered() {
  autoChecked_ = true;
  view_.SetAutoChecked(true);
  ConnectionMode = kAutoWatch;
}

void ConnectionManager::OnManualNumberTriggered() {
  std::string value = std::to_string(ManualPortNumber);
  const bool ok = dialogs_.AskText(
      language_.Text("Установка соединения", "Connecting"),
      language_.Text("Введите номер COM порта от 0 до 250", "Enter COM Port Number from 0 to 250"),
      value);
  if (!ok) {
    autoChecked_ = AutoWasChecked;
    view_.SetAutoChecked(autoChecked_);
    return;
  }
  const int number = ParsePortNumberText(value);
  if (number < 0 || number > kManualPortMax) {
    dialogs_.ShowMessage(BoxKind::Error, language_.Text("Ошибка формата номера COM порта",
                                                        "COM Port Number Format Error"));
    return;
  }
  ManualPortNumber = SelectedPort = number;
  autoChecked_ = false;
  view_.SetAutoChecked(false);
  view_.SetManualCaption(language_.Text("Вручную COM", "Manual COM") + std::to_string(number));
  ConnectionMode = kManualPort;
  // The number stands (the tick keeps trying it), but a port the system refuses is worth saying
  // at once, with the reason and the remedy.
  if (number > 0 && !(port_.IsOpen() && port_.PortNumber() == number)) {
    const PortOpenFailure failure = port_.Check(number);
    if (failure.fault != PortFault::None) {
      dialogs_.ShowMessage(BoxKind::Warning, PortFailureText(number, failure, language_));
    }
  }
}

}  // namespace dravion
