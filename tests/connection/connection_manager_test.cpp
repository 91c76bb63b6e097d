#include "connection/connection_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "connection/connected_device.h"
#include "connection/connection_port.h"
#include "connection/port_help.h"
#include "connection_fakes.h"
#include "serial/port_list.h"
#include "services/language.h"
#include "support/fakes.h"

namespace dravion {
namespace {

// Ports that exist (and open) by number, with a record of every open and close.
class FakePort : public ConnectionPort {
 public:
  void SetPortNumber(int number) override {
    EXPECT_FALSE(open) << "port number changed while open";
    number_ = number;
  }
  int PortNumber() const override { return number_; }
  bool Open(uint32_t baud) override {
    EXPECT_EQ(baud, 230400u);
    if (open) Close();
    failure_ = Check(number_);
    open = number_ > 0 && present.count(number_) > 0 && failure_.fault == PortFault::None;
    opens.push_back(open ? number_ : -number_);
    return open;
  }
  PortOpenFailure LastOpenFailure() const override { return failure_; }
  PortOpenFailure Check(int number) override {
    if (open && number == number_) return {PortFault::Busy, "/dev/self", "", 1, "self", ""};
    const auto refused = refusals.find(number);
    return refused != refusals.end() ? refused->second : PortOpenFailure{};
  }
  bool Close() override {
    if (!open) return false;
    open = false;
    closes.push_back(number_);
    return true;
  }
  bool IsOpen() const override { return open; }
  PortIdentity Identity(int number) override {
    const auto it = identities.find(number);
    return it != identities.end() && present.count(number) ? it->second : PortIdentity{};
  }

  std::set<int> present;
  std::map<int, PortIdentity> identities;  // USB devices behind ports
  bool open = false;
  std::vector<int> opens;  // negative: failed open of that number
  std::vector<int> closes;
  std::map<int, PortOpenFailure> refusals;  // present ports that the system refuses, and why

 private:
  int number_ = 0;
  PortOpenFailure failure_;
};

// Devices behind ports on fake time: an answering port echoes the link test after 5 ms, a silent
// one costs the three 700 ms attempts.
class FakeDevices : public ConnectedDevice {
 public:
  FakeDevices(FakePort& port, test::FakePump& pump, test::FakeClock& clock)
      : port_(port), pump_(pump), clock_(clock) {}
  int ConnectionTest(const uint8_t* bytes, int count) override {
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), count), "Zavrelon");
    EXPECT_FALSE(inTest) << "link tests overlap";
    ++linkTests;
    if (!port_.open) return -2;
    inTest = true;
    const bool echo = answering.count(port_.PortNumber()) > 0;
    Delay(pump_, clock_, echo ? 5 : 2100);
    inTest = false;
    return echo ? 1 : 0;
  }
  bool IdentifyDevice() override { return true; }
  void ForgetDeviceData() override {}
  void ClearDeviceInfo() override {}
  std::string DeviceName() const override { return "Dravion ZAV-740.41.3"; }
  std::string SerialText() const override { return "214-36587"; }

  std::set<int> answering;
  bool inTest = false;
  int linkTests = 0;

 private:
  FakePort& port_;
  test::FakePump& pump_;
  test::FakeClock& clock_;
};

// The manager with the window's 100 ms timer firing on fake time, also inside link-test waits.
struct Harness {
  Harness() {
    language.Set(Lang::English);
    list.LogCallback = [this](const std::string& line) { log.LogLine(line); };
  }
  void Start() {
    manager.ShowInitialState();
    Beat(clock.tick);
  }
  // Like a window timer, the next beat is due while the handler still runs.
  void Beat(uint32_t at) {
    pump.At(at, [this, at] {
      ++beats;
      Beat(at + 100);
      manager.OnHeartbeatTimer();
    });
  }
  void Run(uint32_t ms) { Delay(pump, clock, static_cast<int>(ms)); }
  bool RunUntil(const std::function<bool()>& done, uint32_t maxMs = 20000) {
    const uint32_t start = clock.tick;
    while (!done() && clock.tick - start < maxMs)
      Run(50);
    return done();
  }
  void Plug(int number, bool device = true) {
    port.present.insert(number);
    if (device) devices.answering.insert(number);
  }
  void Unplug(int number) {
    port.present.erase(number);
    devices.answering.erase(number);
  }
  void AskManual(const std::string& answer) {
    dialogs.textAnswers.push_back(answer);
    manager.OnManualActionUpdate();
    manager.OnManualNumberTriggered();
  }

  test::FakeClock clock;
  test::FakePump pump{clock};
  test::ScriptedDialogs dialogs{&clock};
  connection_test::RecordingView view;
  connection_test::RecordingLog log;
  Language language;
  FakePort port;
  FakeDevices devices{port, pump, clock};
  PortList list{[this](PortEntry* entries, int& count) {
    int n = 0;
    for (int p : port.present) {
      if (n < count) entries[n++] = PortEntry{p, -1};
    }
    count = n;
  }};
  ConnectionManager manager{port, list, devices, view, dialogs, clock, log, language};
  int beats = 0;
};

TEST(ConnectionManager, ConnectionTickRunsAtMoreThanOneSecondSpacingAndRefusesNesting) {
  Harness h;
  h.Start();
  h.Run(1500);
  h.Plug(4, false);  // a silent port: each test holds the tick for 2.1 s
  h.Run(10000);
  // Nested heartbeats during the waits were refused: one test at a time, about 2.2 s apart.
  EXPECT_GE(h.devices.linkTests, 4);
  EXPECT_LE(h.devices.linkTests, 5);
  EXPECT_EQ(h.view.link, LinkState::ERR);
  EXPECT_EQ(h.view.linkColour, 0xFF0000u);
  for (int n : h.port.opens)
    EXPECT_EQ(n, 4);
  EXPECT_EQ(h.port.opens.size(), h.port.closes.size());
  EXPECT_GT(h.beats, 100);  // the window timer kept firing

  // Without waits the tick keeps its spacing of more than a second.
  Harness idle;
  idle.Start();
  idle.Run(1500);
  idle.Plug(4);
  idle.Run(1200);
  ASSERT_TRUE(idle.manager.Connected);
  const int before = idle.devices.linkTests;
  std::vector<std::string> texts;
  for (int i = 0; i < 10; ++i) {
    idle.Run(1100);
    texts.push_back(idle.view.linkText);
  }
  EXPECT_EQ(idle.devices.linkTests, before + 10);
  // A steady state shows its two texts in turn.
  for (size_t i = 1; i < texts.size(); ++i) {
    EXPECT_EQ(texts[i], texts[i - 1] == "OK" ? "= OK =" : "OK");
  }
}

TEST(ConnectionManager, ManualNumbersOutOfRangeAreRefusedAndZeroNeverOpens) {
  Harness h;
  h.Start();
  for (const char* bad : {"251", "-1", "abc", "", "7x", "99999999999"}) {
    h.AskManual(bad);
    EXPECT_EQ(h.manager.ConnectionMode, kAutoWatch) << bad;
    EXPECT_EQ(h.manager.SelectedPort, -1) << bad;
    ASSERT_FALSE(h.dialogs.boxes.empty());
    EXPECT_EQ(h.dialogs.boxes.back().kind, BoxKind::Error);
    EXPECT_EQ(h.dialogs.boxes.back().text, "COM Port Number Format Error");
  }
  EXPECT_EQ(h.dialogs.boxes.size(), 6u);
  EXPECT_EQ(h.manager.ManualPortNumber, 1);
  EXPECT_TRUE(h.view.autoChecked);

  h.AskManual(" 0 ");
  EXPECT_EQ(h.manager.ConnectionMode, kManualPort);
  EXPECT_EQ(h.manager.SelectedPort, 0);
  EXPECT_EQ(h.view.manualCaption, "Manual COM0");
  h.Run(4000);
  EXPECT_FALSE(h.manager.Connected);
  EXPECT_EQ(h.view.link, LinkState::NOK);
  EXPECT_EQ(h.devices.linkTests, 0);
  EXPECT_FALSE(h.port.opens.empty());
  for (int n : h.port.opens)
    EXPECT_EQ(n, 0);  // tried at every tick, never open

  // A refused number in manual mode keeps manual mode and its port.
  h.AskManual("300");
  EXPECT_EQ(h.manager.ConnectionMode, kManualPort);
  EXPECT_EQ(h.manager.SelectedPort, 0);

  h.language.Set(Lang::Russian);
  h.AskManual("250");
  EXPECT_EQ(h.view.manualCaption, "Вручную COM250");
  h.AskManual("-5");
  EXPECT_EQ(h.dialogs.boxes.back().text, "Ошибка формата номера COM порта");
}

TEST(ConnectionManager, DialogCancelRestoresTheAutomaticCheckAndAutomaticKeepsTheConnection) {
  Harness h;
  h.Start();
  h.AskManual("\x18");
  EXPECT_EQ(h.dialogs.prompts.back(), "Connecting|Enter COM Port Number from 0 to 250|1");
  EXPECT_TRUE(h.manager.AutoWasChecked);
  EXPECT_TRUE(h.view.autoChecked);
  EXPECT_EQ(h.manager.ConnectionMode, kAutoWatch);

  h.Plug(3);
  h.AskManual("3");
  h.AskManual("\x18");  // cancel while manual: stays manual
  EXPECT_FALSE(h.manager.AutoWasChecked);
  EXPECT_FALSE(h.view.autoChecked);
  EXPECT_EQ(h.manager.ConnectionMode, kManualPort);
  EXPECT_EQ(h.manager.SelectedPort, 3);
  EXPECT_TRUE(h.dialogs.boxes.empty());
  EXPECT_FALSE(h.manager.ManualListEnabled());

  // The dialog is pre-filled with the last accepted number, in the current language.
  h.language.Set(Lang::Russian);
  h.AskManual("\x18");
  EXPECT_EQ(h.dialogs.prompts.back(), "Установка соединения|Введите номер COM порта от 0 до 250|3");

  h.Run(1200);
  ASSERT_TRUE(h.manager.Connected);
  h.manager.OnAutoTriggered();
  EXPECT_TRUE(h.view.autoChecked);
  EXPECT_EQ(h.manager.ConnectionMode, kAutoWatch);
  h.Run(2200);
  EXPECT_TRUE(h.manager.Connected);
  EXPECT_EQ(h.manager.ConnectionMode, kAutoWatch);
  EXPECT_EQ(h.port.opens, std::vector<int>{3});
}

TEST(ConnectionManager, ManualChoiceDuringAScanLinkTestIsKept) {
  Harness h;
  h.Start();
  h.Run(1500);  // the first refresh ran at 2200 with no port
  h.Plug(4);
  h.Plug(11, false);
  // The scan tests port 4 at 3300; the dialog is accepted while it waits for the echo.
  h.pump.At(3302, [&] { h.AskManual("11"); });
  h.Run(1000);
  ASSERT_EQ(h.port.opens, std::vector<int>{4});
  EXPECT_EQ(h.manager.ConnectionMode, kManualPort);
  EXPECT_EQ(h.manager.SelectedPort, 11);
  EXPECT_TRUE(h.manager.Connected);
  EXPECT_EQ(h.manager.ConnectedPort, 4);
  // The next tick lets go of port 4 and the one after tries the chosen port.
  ASSERT_TRUE(h.RunUntil([&] { return h.port.opens.size() >= 2; }));
  EXPECT_EQ(h.port.opens[1], 11);
  EXPECT_EQ(h.manager.ConnectionMode, kManualPort);
}

TEST(ConnectionManager, ScanWalksTheCandidatesAndRestartsWhenTheListShrinks) {
  Harness h;
  h.Start();
  h.Run(1500);
  for (int p : {2, 5, 9})
    h.Plug(p, false);
  ASSERT_TRUE(h.RunUntil([&] { return h.port.opens.size() >= 4; }));
  EXPECT_EQ(std::vector<int>(h.port.opens.begin(), h.port.opens.begin() + 4),
            (std::vector<int>{2, 5, 9, 2}));
  // Ports 5 and 9 vanish while the walk is beyond the first candidate: it goes on from port 2.
  ASSERT_TRUE(h.RunUntil([&] { return h.manager.ScanIndex == 2; }));
  h.Unplug(5);
  h.Unplug(9);
  const size_t before = h.port.opens.size();
  ASSERT_TRUE(h.RunUntil([&] { return h.port.opens.size() >= before + 2; }));
  for (size_t i = before; i < h.port.opens.size(); ++i)
    EXPECT_EQ(h.port.opens[i], 2);
  h.Unplug(2);
  ASSERT_TRUE(h.RunUntil([&] { return h.manager.SelectedPort == -1; }));
  EXPECT_EQ(h.view.link, LinkState::NOK);
  EXPECT_FALSE(h.port.open);
}

TEST(ConnectionManager, ADevicePluggedInBeforeTheStartIsFoundByWhatTheLastRunRemembered) {
  const PortIdentity dravion{"0483", "5740", "2063365A5231"};
  const PortIdentity modem{"1a86", "7523", ""};
  test::MemoryOptionStore options;
  {
    // No record yet: ports present at start are never poked, and after a few seconds without a
    // port to try the device line says what to do.
    Harness h;
    h.manager.RememberDevicePort(&options);
    h.Plug(1, false);
    h.port.identities[1] = modem;
    h.Plug(7);
    h.port.identities[7] = dravion;
    h.Start();
    const std::string hint =
        "Plug the device in, or choose its port: Settings > Connection > Manual";
    h.Run(kNoCandidateHintMs);
    EXPECT_TRUE(h.port.opens.empty());
    EXPECT_NE(h.view.status, hint);
    ASSERT_TRUE(h.RunUntil([&] { return h.view.status == hint; }, 3000));
    EXPECT_TRUE(h.port.opens.empty());
    // Plugged in again: found, identified, remembered with its USB identity.
    h.Unplug(7);
    h.Run(1200);
    h.Plug(7);
    ASSERT_TRUE(h.RunUntil([&] { return h.manager.Identified; }));
    EXPECT_EQ(h.view.status, "Dravion ZAV-740.41.3 S/N: 214-36587");
    EXPECT_EQ(options.ints[kDevicePortOption], 7);
    EXPECT_EQ(options.texts[kDevicePortIdOption], "0483:5740:2063365A5231");
    EXPECT_EQ(std::count(h.port.opens.begin(), h.port.opens.end(), 1), 0);
  }
  {
    // The next start: the same device, now behind port 8, is tried at once; the modem never is.
    Harness h;
    h.manager.RememberDevicePort(&options);
    h.Plug(1, false);
    h.port.identities[1] = modem;
    h.Plug(8);
    h.port.identities[8] = dravion;
    h.Start();
    ASSERT_TRUE(h.RunUntil([&] { return h.manager.Identified; }, 4000));
    EXPECT_EQ(h.manager.ConnectedPort, 8);
    EXPECT_EQ(h.port.opens, std::vector<int>{8});
    EXPECT_TRUE(h.log.Has("COM 8: the device's port last time (USB 0483:5740:2063365A5231)"));
    EXPECT_EQ(options.ints[kDevicePortOption], 8);
  }
  {
    // Another USB device on the remembered number is not the device; nor is a port without an
    // identity there (a Bluetooth port that took the number).
    options.ints[kDevicePortOption] = 5;
    Harness h;
    h.manager.RememberDevicePort(&options);
    h.Plug(5, false);
    h.port.identities[5] = modem;
    options.ints[kDevicePortOption] = 6;
    Harness bluetooth;
    bluetooth.manager.RememberDevicePort(&options);
    bluetooth.Plug(6, false);
    h.Start();
    bluetooth.Start();
    h.Run(3000);
    bluetooth.Run(3000);
    EXPECT_TRUE(h.port.opens.empty());
    EXPECT_TRUE(bluetooth.port.opens.empty());
  }
  {
    // Where no identity was known for the device, a port is taken by its number.
    options.ints[kDevicePortOption] = 5;
    options.texts[kDevicePortIdOption] = "";
    Harness h;
    h.manager.RememberDevicePort(&options);
    h.Plug(3, false);
    h.Plug(5);
    h.Start();
    ASSERT_TRUE(h.RunUntil([&] { return h.manager.Connected; }, 4000));
    EXPECT_EQ(h.port.opens, std::vector<int>{5});
  }
}

TEST(ConnectionManager, WhyAPortDoesNotOpenIsLoggedOncePerPortAndReason) {
  Harness h;
  h.Start();
  h.Run(1500);
  const PortOpenFailure denied{PortFault::Denied, "/dev/ttyACM0", "dialout", 0, "", ""};
  const PortOpenFailure busy{PortFault::Busy, "/dev/ttyACM1", "", 812, "ModemManager", ""};
  h.port.refusals = {{65, denied}, {66, busy}};
  h.Plug(65);
  h.Plug(66);
  ASSERT_TRUE(h.RunUntil([&] { return h.port.opens.size() >= 6; }));
  const std::string deniedLine = PortFailureText(65, denied, h.language);
  const std::string busyLine = PortFailureText(66, busy, h.language);
  EXPECT_EQ(h.log.Count(deniedLine), 1);
  EXPECT_EQ(h.log.Count(busyLine), 1);

  // A new reason is told again; so is an old one after the port opened in between.
  h.port.refusals[65] = busy;
  h.port.refusals.erase(66);
  ASSERT_TRUE(h.RunUntil([&] { return h.manager.ConnectedPort == 66; }));
  const std::string busy65 = PortFailureText(65, busy, h.language);
  EXPECT_EQ(h.log.Count(busy65), 1);
  h.port.refusals[66] = busy;
  h.Unplug(66);
  h.Plug(66, false);
  h.language.Set(Lang::Russian);
  const size_t before = h.port.opens.size();
  ASSERT_TRUE(h.RunUntil([&] { return h.port.opens.size() >= before + 4; }));
  EXPECT_EQ(h.log.Count(PortFailureText(66, busy, h.language)), 1);
  EXPECT_EQ(h.log.Count(busy65), 1);
  EXPECT_EQ(h.log.Count(deniedLine), 1);
}

TEST(ConnectionManager, TheManualDialogTellsWhyTheChosenPortDoesNotOpen) {
  Harness h;
  h.Start();
  const PortOpenFailure denied{PortFault::Denied, "/dev/ttyACM0", "dialout", 0, "", ""};
  h.port.refusals[65] = denied;
  h.AskManual("65");
  // The number stands, as any number in range does; the box says why it will not open yet.
  EXPECT_EQ(h.manager.ConnectionMode, kManualPort);
  EXPECT_EQ(h.manager.SelectedPort, 65);
  ASSERT_EQ(h.dialogs.boxes.size(), 1u);
  EXPECT_EQ(h.dialogs.boxes[0].kind, BoxKind::Warning);
  EXPECT_EQ(h.dialogs.boxes[0].text, PortFailureText(65, denied, h.language));
  // The tick logs the same reason once.
  h.Run(3500);
  EXPECT_EQ(h.log.Count(h.dialogs.boxes[0].text), 1);

  // Nothing to say about a port that opens, number 0, or the port already open.
  h.Plug(3);
  h.AskManual("3");
  h.AskManual("0");
  h.AskManual("3");
  ASSERT_TRUE(h.RunUntil([&] { return h.manager.Connected; }));
  h.AskManual("3");
  EXPECT_EQ(h.dialogs.boxes.size(), 1u);
}

TEST(PortFailureText, SaysWhyAndWhatToDoInTheInterfaceLanguage) {
  Language en;
  en.Set(Lang::English);
  Language ru;
  ru.Set(Lang::Russian);
  PortOpenFailure f{PortFault::Denied, "/dev/ttyACM0", "dialout", 0, "", ""};
  EXPECT_EQ(PortFailureText(65, f, en),
            "COM 65: no permission to open /dev/ttyACM0 (group dialout). Add yourself to the "
            "group: sudo usermod -aG dialout $USER, then log out and log in again.");
  EXPECT_EQ(PortFailureText(65, f, ru),
            "COM 65: нет прав на открытие /dev/ttyACM0 (группа dialout). Добавьте себя в группу: "
            "sudo usermod -aG dialout $USER, затем выйдите из системы и войдите снова.");
  f.group = "root";  // joining root's group is no advice to give
  EXPECT_EQ(PortFailureText(65, f, en).find("usermod"), std::string::npos);
  EXPECT_NE(PortFailureText(65, f, en).find("udev"), std::string::npos);

  f = {PortFault::Busy, "/dev/ttyACM0", "", 812, "ModemManager", ""};
  EXPECT_EQ(PortFailureText(65, f, en),
            "COM 65: /dev/ttyACM0 is in use by ModemManager (pid 812). Close that program or keep "
            "it off the port (see docs/linux.md).");
  f.holderPid = 0;  // /proc did not tell
  EXPECT_EQ(PortFailureText(65, f, en),
            "COM 65: /dev/ttyACM0 is in use by another program. Close the program that holds the "
            "port.");

  f = {PortFault::Missing, "/dev/ttyACM0", "", 0, "", ""};
  EXPECT_EQ(PortFailureText(65, f, en),
            "COM 65: there is no device at /dev/ttyACM0. Check that the device is plugged in and "
            "switched on.");
  f = {PortFault::Other, "/dev/ttyS0", "", 0, "", "Input/output error"};
  EXPECT_EQ(PortFailureText(1, f, ru), "COM 1: не удаётся открыть /dev/ttyS0: Input/output error.");
  EXPECT_EQ(PortFailureText(1, PortOpenFailure{}, en), "");
}

TEST(ConnectionView, StylesColoursAndIndicatorTexts) {
  EXPECT_EQ(StatusStyleFromNumber(4), StatusStyle::Neutral);
  EXPECT_EQ(StatusStyleFromNumber(-1), StatusStyle::Neutral);
  EXPECT_EQ(StatusStyleFromNumber(3), StatusStyle::Progress);
  EXPECT_TRUE(LookOfStatus(StatusStyle::Neutral).systemColours);
  EXPECT_FALSE(LookOfStatus(StatusStyle::Neutral).bold);
  const StatusLook green = LookOfStatus(StatusStyle::Recognised);
  EXPECT_EQ(green.background, 0x008000u);
  EXPECT_EQ(green.text, 0xFFFFFFu);
  EXPECT_TRUE(green.bold);
  EXPECT_EQ(LookOfStatus(StatusStyle::Unknown).text, 0xFFFF00u);
  EXPECT_EQ(LookOfStatus(StatusStyle::Progress).text, 0x0000FFu);
  EXPECT_EQ(ColourOfLink(LinkState::NOK), 0xFFFFFFu);
  EXPECT_EQ(TextOfLink(LinkState::ERR, true), "= ERR =");
  EXPECT_EQ(TextOfLink(LinkState::NOK, false), "NOK");

  Harness h;
  h.manager.ShowStatus("x", 7);
  EXPECT_EQ(h.view.statusStyle, StatusStyle::Neutral);
}

TEST(ParsePortNumberText, DecimalWithBlanksElseMinusOne) {
  EXPECT_EQ(ParsePortNumberText("12"), 12);
  EXPECT_EQ(ParsePortNumberText(" +7 "), 7);
  EXPECT_EQ(ParsePortNumberText("-3"), -3);
  EXPECT_EQ(ParsePortNumberText("0x10"), -1);
  EXPECT_EQ(ParsePortNumberText("1 2"), -1);
  EXPECT_EQ(ParsePortNumberText("-"), -1);
  EXPECT_EQ(ParsePortNumberText("4294967301"), -1);
}

}  // namespace
}  // namespace dravion
