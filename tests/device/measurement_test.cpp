#include "device/measurement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "device/device_context.h"
#include "device/measurement_trend.h"
#include "device/parameters.h"
#include "device/reading_recorder.h"
#include "device_fakes.h"
#include "measurement_fakes.h"
#include "protocol/device_format.h"
#include "protocol/scripted_device.h"
#include "services/text_encoding.h"
#include "support/comma_locale.h"
#include "support/scratch_folder.h"

namespace dravion {
namespace {

using test::Bytes;

constexpr uint32_t kRate = 0x20000400;
constexpr uint32_t kIndicator = 0x20000408;
constexpr uint32_t kCount = 0x20000410;
constexpr uint32_t kDoseValue = 0x20000420;
constexpr uint32_t kDoseUnit = 0x20000430;

constexpr int kReadParameter = 0x010E;
constexpr int kWriteParameter = 0x010F;
constexpr int kReadMemory = 0x0102;

// The measuring page's controller over the command set on fake time: a scripted device that
// announces the value addresses, keeps the values in its memory, and records parameter writes;
// a heartbeat every 100 ms as a pump event, guarded against re-entry like the window's.
struct MeasureHarness {
  MeasureHarness() {
    language.Set(Lang::English);
    connection.manager.Connected = true;
    connection.manager.Identified = true;
    parameters = {{param::kRateAddress, kRate},           {param::kCountAddress, kCount},
                  {param::kIndicatorAddress, kIndicator}, {param::kDoseValueAddress, kDoseValue},
                  {param::kDoseUnitAddress, kDoseUnit},   {param::kUnits, 0}};
    h.device.override[kReadParameter] = [this](const Bytes& p) -> std::optional<Bytes> {
      auto found = parameters.find(static_cast<uint16_t>(p[0] | p[1] << 8));
      if (found == parameters.end()) return std::nullopt;
      Bytes answer{p[0], p[1], 0, 0, 0, 0};
      StoreU32(&answer[2], found->second);
      return answer;
    };
    h.device.override[kWriteParameter] = [this](const Bytes& p) -> std::optional<Bytes> {
      if (silentWrites) return std::nullopt;
      writes.push_back(LoadU32(&p[2]));
      return p;
    };
    SetWord(kRate, 12);
    SetWord(kCount, 301);
    h.device.Put(kIndicator, {1, 0, 40, 0});
    SetText(kDoseValue, "3,21");
    SetText(kDoseUnit, "uSv");
  }
  void SetWord(uint32_t address, uint32_t value) {
    Bytes bytes(4);
    StoreU32(bytes.data(), value);
    h.device.Put(address, bytes);
  }
  void SetText(uint32_t address, const std::string& bytes) {
    Bytes text(10, 0);
    std::copy(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), 10), text.begin());
    h.device.Put(address, text);
  }
  void SilenceMemory(bool silent) {
    if (silent) {
      h.device.override[kReadMemory] = [](const Bytes&) -> std::optional<Bytes> {
        return std::nullopt;
      };
    } else {
      h.device.override.erase(kReadMemory);
    }
  }
  // Requests of one command key, and the memory addresses read.
  int Count(int key) const {
    int n = 0;
    for (const Bytes& r : h.Requests())
      n += (r[0] << 8 | r[1]) == key;
    return n;
  }
  std::vector<uint32_t> MemoryReads() const {
    std::vector<uint32_t> out;
    for (const Bytes& r : h.Requests())
      if ((r[0] << 8 | r[1]) == kReadMemory) out.push_back(LoadU32(&r[2]));
    return out;
  }
  // The heartbeat: every 100 ms from now on.
  void StartHeartbeat() { ScheduleBeat(h.clock.tick + 100); }
  void ScheduleBeat(uint32_t at) {
    h.pump.At(at, [this, at] {
      ScheduleBeat(at + 100);
      if (!heartbeat || inBeat) return;
      inBeat = true;
      ++beats;
      controller.MeasurementTick();
      inBeat = false;
    });
  }
  void Run(uint32_t ms) { Delay(h.pump, h.clock, static_cast<int>(ms)); }

  test::CommandHarness h;
  test::RecordingLog log;
  device_test::RecordingFrame frame;
  Language language;
  device_test::IdleConnection connection{h.dialogs, h.clock, log, language};
  DeviceInfo info = device_test::SupportedDevice();
  DeviceContext context{h.commands, info, connection.manager, log, h.dialogs, language, h.clock,
                        h.pump,     frame};
  device_test::RecordingMeasurementView view;
  MeasurementController controller{context, view};
  std::map<uint16_t, uint32_t> parameters;
  std::vector<uint32_t> writes;
  bool silentWrites = false;
  bool heartbeat = true;
  bool inBeat = false;
  int beats = 0;
};

TEST(MeasurementValues, RateTextFollowsTheUnitSetting) {
  struct Case {
    uint32_t units;
    uint32_t word;
    Lang lang;
    const char* shown;
  } const cases[] = {
      {2, 301, Lang::English, "150 CPM"},
      {0, 7, Lang::English, "0,07 uSv/h"},
      {0, 7, Lang::Russian, "0,07 мкЗв/ч"},
      {0, 1234, Lang::English, "12,34 uSv/h"},
      {0, 100, Lang::English, "1,00 uSv/h"},
      {1, 1234, Lang::English, "1234 uR/h"},
      {1, 57, Lang::Russian, "57 мкР/ч"},
      {0x102, 301, Lang::English, "150 CPM"},  // only the low byte is the unit
      {5, 301, Lang::English, " CPM"},
  };
  for (const Case& c : cases) {
    MeasureHarness m;
    m.language.Set(c.lang);
    m.parameters[param::kUnits] = c.units;
    m.SetWord(kRate, c.word);
    m.SetWord(kCount, c.word);
    ASSERT_TRUE(m.controller.ReadMeasurement(false)) << c.units << "/" << c.word;
    EXPECT_EQ(m.view.rate, c.shown) << c.units << "/" << c.word;
  }
}

TEST(MeasurementValues, CountsAndUnknownUnitsReadTheCountWord) {
  for (uint32_t units : {2u, 5u}) {
    MeasureHarness m;
    m.parameters[param::kUnits] = units;
    ASSERT_TRUE(m.controller.ReadMeasurement(false));
    EXPECT_EQ(m.MemoryReads(), (std::vector<uint32_t>{kCount, kIndicator + 2})) << units;
  }
  MeasureHarness m;
  m.parameters[param::kUnits] = 1;
  ASSERT_TRUE(m.controller.ReadMeasurement(false));
  EXPECT_EQ(m.MemoryReads(), (std::vector<uint32_t>{kRate, kIndicator + 2}));
}

TEST(MeasurementValues, FirstReadingAsksForTheAddressesThenOnlyTheUnits) {
  MeasureHarness m;
  ASSERT_TRUE(m.controller.ReadMeasurement(true));
  EXPECT_EQ(m.h.Requests(), (std::vector<Bytes>{{1, 0x0E, 0x01, 0xC0},
                                                {1, 0x0E, 0x04, 0xC0},
                                                {1, 0x0E, 0x02, 0xC0},
                                                {1, 0x0E, 0x15, 0xC0},
                                                {1, 0x0E, 0x16, 0xC0},
                                                {1, 0x0E, 0x09, 0x00},
                                                {1, 0x02, 0x00, 0x04, 0x00, 0x20, 4},
                                                {1, 0x02, 0x0A, 0x04, 0x00, 0x20, 1},
                                                {1, 0x0F, 0x00, 0xFF, 0x21, 0x00, 0xBA, 0xC0},
                                                {1, 0x02, 0x20, 0x04, 0x00, 0x20, 10},
                                                {1, 0x02, 0x30, 0x04, 0x00, 0x20, 10}}));
  EXPECT_EQ(m.view.rate, "0,12 uSv/h");
  EXPECT_EQ(m.view.level, 40);
  EXPECT_EQ(m.view.dose, "3,21 uSv");
  EXPECT_TRUE(m.view.rateLit);
  EXPECT_TRUE(m.view.doseLit);
  EXPECT_TRUE(m.log.Has("Read PAR[0xC001(49153)] : 0x20000400(536871936)"));
  EXPECT_TRUE(m.log.Has("Write PAR[0xFF00(65280)] : 0xC0BA0021(3233415201)"));

  // Known addresses are not asked again; the unit setting is, every time. Each reading blinks.
  m.h.Forget();
  m.parameters[param::kUnits] = 2;
  ASSERT_TRUE(m.controller.ReadMeasurement(false));
  EXPECT_EQ(m.h.Requests(), (std::vector<Bytes>{{1, 0x0E, 0x09, 0x00},
                                                {1, 0x02, 0x10, 0x04, 0x00, 0x20, 4},
                                                {1, 0x02, 0x0A, 0x04, 0x00, 0x20, 1}}));
  EXPECT_EQ(m.view.rate, "150 CPM");
  EXPECT_FALSE(m.view.rateLit);
  EXPECT_TRUE(m.view.doseLit);

  // An address the device announced as 0 is asked for again at the next reading.
  MeasureHarness zero;
  zero.parameters[param::kDoseUnitAddress] = 0;
  ASSERT_TRUE(zero.controller.ReadMeasurement(false));
  zero.h.Forget();
  ASSERT_TRUE(zero.controller.ReadMeasurement(false));
  EXPECT_EQ(zero.Count(kReadParameter), 2);
}

TEST(MeasurementValues, DoseTextsEndAtTheirFirstZeroAndAreWindows1251) {
  MeasureHarness m;
  m.language.Set(Lang::Russian);
  m.SetText(kDoseValue, std::string("12,5\0junk", 9));
  m.SetText(kDoseUnit, Utf8ToCp1251("мкЗв"));
  ASSERT_TRUE(m.controller.ReadMeasurement(true));
  EXPECT_EQ(m.view.dose, "12,5 мкЗв");
  EXPECT_EQ(m.controller.DoseUnitShown(), "мкЗв");

  // Ten bytes without a zero are all shown; nothing is read past them.
  m.SetText(kDoseValue, "1234567890");
  m.SetText(kDoseUnit, "");
  ASSERT_TRUE(m.controller.ReadMeasurement(true));
  EXPECT_EQ(m.view.dose, "1234567890 ");

  m.controller.ForgetMeasurementAddresses();
  EXPECT_EQ(m.controller.DoseValueShown(), "");
  EXPECT_EQ(m.controller.RateAddress, 0u);
  EXPECT_EQ(m.controller.DoseUnitAddress, 0u);
}

TEST(MeasurementValues, LevelBeyondTheBarStopsAtItsEnd) {
  MeasureHarness m;
  m.h.device.Put(kIndicator + 2, {200});
  ASSERT_TRUE(m.controller.ReadMeasurement(false));
  EXPECT_EQ(m.view.level, kLevelMax);
}

TEST(MeasurementValues, FailuresDashTheAffectedLabel) {
  // A rate that cannot be read dashes the rate and empties the bar; the dose is not tried.
  MeasureHarness m;
  ASSERT_TRUE(m.controller.ReadMeasurement(true));
  m.SilenceMemory(true);
  m.h.Forget();
  EXPECT_FALSE(m.controller.ReadMeasurement(true));
  EXPECT_EQ(m.view.rate, kMeasureDashes);
  EXPECT_EQ(m.view.level, 0);
  EXPECT_EQ(m.view.dose, "3,21 uSv");
  EXPECT_EQ(m.Count(kWriteParameter), 0);
  EXPECT_TRUE(m.h.dialogs.boxes.empty());  // reads are silent

  // A dose text that cannot be prepared dashes the dose only, after the write's own box.
  MeasureHarness w;
  w.silentWrites = true;
  EXPECT_FALSE(w.controller.ReadMeasurement(true));
  EXPECT_EQ(w.view.rate, "0,12 uSv/h");
  EXPECT_EQ(w.view.dose, kMeasureDashes);
  ASSERT_EQ(w.h.dialogs.boxes.size(), 1u);
  EXPECT_EQ(w.h.dialogs.boxes[0].text, "No answer - Parameter WRITE");
}

TEST(MeasurementAccess, BootLoaderAndOldFirmwareShowTheirMessageAndReadNothing) {
  struct Case {
    uint16_t main;
    Lang lang;
    const char* message;
  } const cases[] = {
      {0, Lang::English, "In BOOT\n\rMode is\n\rUnavailable"},
      {0, Lang::Russian, "В режиме\n\rBOOT\n\rнедоступно"},
      {0x0C05, Lang::English, "Need\n\rto Update\n\rFirmware"},
      {0x0B10, Lang::Russian, "Обновите\n\rпрошивку\n\rприбора"},
  };
  for (const Case& c : cases) {
    MeasureHarness m;
    m.language.Set(c.lang);
    m.info.Soft.MainVersion = c.main;
    m.view.autoRead = false;
    m.view.readEnabled = true;
    EXPECT_FALSE(m.controller.OnReadClicked());
    EXPECT_EQ(m.view.message, c.message);
    EXPECT_EQ(m.view.rate, kMeasureDashes);
    EXPECT_EQ(m.view.level, 0);
    EXPECT_TRUE(m.h.port.frames.empty());
    EXPECT_TRUE(m.view.readEnabled);
    // The message stays until a check passes.
    m.info.Soft.MainVersion = 0x0C06;
    EXPECT_TRUE(m.controller.OnReadClicked());
    EXPECT_EQ(m.view.message, "");
  }

  // Without a connection or identification: no message, no traffic.
  for (bool connected : {false, true}) {
    MeasureHarness m;
    m.connection.manager.Connected = connected;
    m.connection.manager.Identified = false;
    m.view.message = "old";
    EXPECT_FALSE(m.controller.ReadMeasurement(true));
    EXPECT_EQ(m.view.message, "old");
    EXPECT_TRUE(m.h.port.frames.empty());
  }
}

TEST(MeasurementRead, ManualReadingHoldsTheButtonAndTheLinkWatchForItsDuration) {
  MeasureHarness m;
  m.view.autoRead = false;
  m.controller.OnAutoReadClicked();
  EXPECT_TRUE(m.view.readEnabled);
  int linesWithWatch = 0;
  int lines = 0;
  m.log.onLine = [&](const std::string&) {
    ++lines;
    linesWithWatch += m.connection.manager.LinkWatch;
  };
  EXPECT_TRUE(m.controller.OnReadClicked());
  EXPECT_EQ(lines, 7);  // six parameter reads and the dose text write
  EXPECT_EQ(linesWithWatch, 0);
  EXPECT_TRUE(m.connection.manager.LinkWatch);
  EXPECT_EQ(m.view.readStates, (std::vector<bool>{true, false, true}));
  EXPECT_EQ(m.frame.pages, (std::vector<bool>{false, true}));
  EXPECT_EQ(m.view.dose, "3,21 uSv");

  m.view.autoRead = true;
  m.controller.OnAutoReadClicked();
  EXPECT_FALSE(m.view.readEnabled);
}

// Ticks of the readings that ran: each reading's rate read.
std::vector<uint32_t> ReadingTicks(const MeasureHarness& m) {
  std::vector<uint32_t> ticks;
  for (const auto& f : m.h.port.frames) {
    const Bytes& p = f.payload;
    if (p[4] == 1 && p[5] == 2 && LoadU32(&p[6]) == kRate) ticks.push_back(f.tick);
  }
  return ticks;
}

TEST(MeasurementCycle, FirstReadingTwoSecondsAfterOpeningThenEverySecondDoseEveryTenth) {
  MeasureHarness m;
  const uint32_t opened = m.h.clock.tick;
  m.StartHeartbeat();
  m.Run(100);
  EXPECT_EQ(m.view.rate, kMeasureDashes);  // the first heartbeat dashes the labels
  EXPECT_EQ(m.view.dose, kMeasureDashes);
  EXPECT_EQ(m.controller.AutoReadState, AutoRead::Armed);
  m.Run(1900);
  EXPECT_TRUE(m.h.port.frames.empty());
  m.Run(300);
  std::vector<uint32_t> ticks = ReadingTicks(m);
  ASSERT_EQ(ticks.size(), 1u);
  EXPECT_GE(ticks[0] - opened, 2000u);
  EXPECT_LE(ticks[0] - opened, 2300u);
  EXPECT_EQ(m.writes, (std::vector<uint32_t>{PrepareDoseText}));

  // Ten readings: one dose; the eleventh is the second with the dose.
  m.Run(9000);
  ticks = ReadingTicks(m);
  ASSERT_EQ(ticks.size(), 10u);
  // Readings start a second apart; the first one's rate read came after the address requests.
  for (size_t i = 1; i < ticks.size(); ++i) {
    EXPECT_GE(ticks[i] - ticks[i - 1], i == 1 ? 950u : 1000u);
    EXPECT_LE(ticks[i] - ticks[i - 1], 1100u);
  }
  EXPECT_EQ(m.writes.size(), 1u);
  m.Run(1000);
  ASSERT_EQ(ReadingTicks(m).size(), 11u);
  EXPECT_EQ(m.writes.size(), 2u);
  // The addresses were asked for once, the units with every reading.
  EXPECT_EQ(m.Count(kReadParameter), 5 + 11);
  EXPECT_EQ(m.Count(kReadMemory), 11 * 2 + 2 * 2);
}

TEST(MeasurementCycle, LeavingThePageOrClearingTheBoxDashesAndRearmingReadsTheAddressesAgain) {
  for (bool leavePage : {true, false}) {
    MeasureHarness m;
    m.StartHeartbeat();
    m.Run(3000);
    ASSERT_EQ(ReadingTicks(m).size(), 1u);
    EXPECT_EQ(m.view.rate, "0,12 uSv/h");
    (leavePage ? m.view.pageActive : m.view.autoRead) = false;
    m.Run(300);
    EXPECT_EQ(m.view.rate, kMeasureDashes);
    EXPECT_EQ(m.view.dose, kMeasureDashes);
    EXPECT_EQ(m.view.level, 0);
    EXPECT_FALSE(m.view.rateLit);
    EXPECT_FALSE(m.view.doseLit);
    m.Run(5000);
    EXPECT_EQ(ReadingTicks(m).size(), 1u);

    m.h.Forget();
    m.writes.clear();
    (leavePage ? m.view.pageActive : m.view.autoRead) = true;
    m.Run(2300);
    EXPECT_EQ(ReadingTicks(m).size(), 1u);
    EXPECT_EQ(m.Count(kReadParameter), 6);  // five addresses and the units
    EXPECT_EQ(m.writes, (std::vector<uint32_t>{PrepareDoseText}));
  }
}

TEST(MeasurementCycle, FailedReadingBlanksAndReadingStartsAgainByItself) {
  MeasureHarness m;
  m.StartHeartbeat();
  m.Run(4000);
  ASSERT_EQ(ReadingTicks(m).size(), 2u);
  m.SilenceMemory(true);
  m.Run(1000);
  EXPECT_EQ(m.view.rate, kMeasureDashes);
  EXPECT_EQ(m.controller.AutoReadState, AutoRead::Blank);
  m.SilenceMemory(false);
  m.h.Forget();
  m.writes.clear();
  m.Run(3000);
  EXPECT_EQ(m.view.rate, "0,12 uSv/h");
  EXPECT_EQ(m.controller.AutoReadState, AutoRead::Running);
  EXPECT_EQ(m.Count(kReadParameter) - static_cast<int>(ReadingTicks(m).size()), 5);
  EXPECT_EQ(m.writes.front(), PrepareDoseText);
}

TEST(MeasurementDoseReset, TheHeartbeatSendsTheResetAndTheHandlerReportsIt) {
  MeasureHarness m;
  m.view.pageActive = false;  // no readings in between
  m.StartHeartbeat();
  m.Run(200);
  EXPECT_TRUE(m.controller.OnDoseResetClicked());
  EXPECT_EQ(m.h.dialogs.questions,
            (std::vector<std::string>{"RESET ACCUMULATED DOSE\n\rContinue?"}));
  EXPECT_EQ(m.writes, (std::vector<uint32_t>{DoseReset}));
  ASSERT_EQ(m.h.dialogs.boxes.size(), 1u);
  EXPECT_EQ(m.h.dialogs.boxes[0].kind, BoxKind::Information);
  EXPECT_EQ(m.h.dialogs.boxes[0].text, "Accumulated Dose\nReset");
  EXPECT_LE(m.h.dialogs.boxes[0].tick - 1200u, 110u);  // the next heartbeat, not the time-out
  EXPECT_EQ(m.controller.DoseResetRequest, 0);
  EXPECT_EQ(m.frame.pages, (std::vector<bool>{false, true}));
  EXPECT_LT(m.h.pump.calls, 20);  // slept, never spun

  // No: nothing is sent and nothing reported.
  m.h.dialogs.answers = {false};
  m.h.dialogs.boxes.clear();
  EXPECT_FALSE(m.controller.OnDoseResetClicked());
  m.Run(500);
  EXPECT_EQ(m.writes.size(), 1u);
  EXPECT_TRUE(m.h.dialogs.boxes.empty());
}

TEST(MeasurementDoseReset, AResetAlsoBringsTheDoseWithTheNextReading) {
  MeasureHarness m;
  m.StartHeartbeat();
  m.Run(4300);
  ASSERT_EQ(m.writes, (std::vector<uint32_t>{PrepareDoseText}));
  EXPECT_TRUE(m.controller.OnDoseResetClicked());
  m.Run(1000);
  EXPECT_EQ(m.writes, (std::vector<uint32_t>{PrepareDoseText, DoseReset, PrepareDoseText}));
}

TEST(MeasurementDoseReset, RefusedAccessOrNoHeartbeatReportsFailureAndSendsNothing) {
  // The boot loader runs: the version message and the error box, no request.
  MeasureHarness boot;
  boot.info.Soft.MainVersion = 0;
  boot.StartHeartbeat();
  EXPECT_FALSE(boot.controller.OnDoseResetClicked());
  EXPECT_EQ(boot.view.message, "In BOOT\n\rMode is\n\rUnavailable");
  ASSERT_EQ(boot.h.dialogs.boxes.size(), 1u);
  EXPECT_EQ(boot.h.dialogs.boxes[0].text, "Error Resetting Accumulated Dose");
  EXPECT_TRUE(boot.writes.empty());

  // A heartbeat that does not run for 3000 ms: the request is withdrawn before it comes.
  MeasureHarness m;
  m.language.Set(Lang::Russian);
  m.heartbeat = false;
  m.StartHeartbeat();
  const uint32_t start = m.h.clock.tick;
  EXPECT_FALSE(m.controller.OnDoseResetClicked());
  ASSERT_EQ(m.h.dialogs.boxes.size(), 1u);
  EXPECT_EQ(m.h.dialogs.boxes[0].kind, BoxKind::Error);
  EXPECT_EQ(m.h.dialogs.boxes[0].text, "Ошибка сброса накопленной дозы");
  EXPECT_EQ(m.h.dialogs.boxes[0].tick - start, kDoseResetWaitMs);
  EXPECT_EQ(m.controller.DoseResetRequest, 0);
  m.heartbeat = true;
  m.Run(1000);
  EXPECT_TRUE(m.writes.empty());
}

std::string FileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(MeasurementListeners, TrendAndRecorderGetEveryReadingAGapIsNotedAFailedFileStops) {
  namespace fs = std::filesystem;
  const test::ScratchFolder scratch("dravion-record");
  const fs::path& folder = scratch.path();
  const std::string file = (folder / "readings.csv").string();

  MeasureHarness m;
  // As the users run it: numbers in files keep their decimal point all the same.
  const test::CommaDecimalLocale locale;
  m.info.Factory[kFactorySerial] = 0x12;
  m.info.Factory[kFactorySerial + 1] = 0x34;
  const std::string serial = FormatSerial(SerialBytes(m.info.Factory), "-");
  MeasurementTrend trend;
  ReadingRecorder recorder(m.log, m.h.dialogs, m.language);
  std::vector<std::string> notes;
  recorder.note = [&](const std::string& text) { notes.push_back(text); };
  int changes = 0;
  recorder.changed = [&] { ++changes; };
  m.controller.AddListener(&trend);
  m.controller.AddListener(&recorder);
  m.h.clock.now.utcOffsetMinutes = 180;
  ASSERT_TRUE(recorder.Start(file));

  ASSERT_TRUE(m.controller.ReadMeasurement(true));
  m.SetWord(kRate, 30);
  m.h.clock.Advance(1000);
  m.h.clock.now.second = 16;
  ASSERT_TRUE(m.controller.ReadMeasurement(false));
  // The device stops answering: one note for the whole gap.
  m.SilenceMemory(true);
  EXPECT_FALSE(m.controller.ReadMeasurement(false));
  EXPECT_FALSE(m.controller.ReadMeasurement(false));
  m.SilenceMemory(false);
  m.SetWord(kRate, 20);
  m.h.clock.Advance(60000);
  m.h.clock.now.minute = 31;
  ASSERT_TRUE(m.controller.ReadMeasurement(false));
  // A reading whose dose read fails is a failed one: no line with the dose read before, a gap.
  m.silentWrites = true;
  EXPECT_FALSE(m.controller.ReadMeasurement(true));
  m.silentWrites = false;
  m.h.clock.now.second = 17;
  ASSERT_TRUE(m.controller.ReadMeasurement(false));
  EXPECT_EQ(notes, (std::vector<std::string>{
                       "Recording: the device does not answer; the file has a gap until it is back",
                       "Recording: readings go on after a gap of 60 s",
                       "Recording: the device does not answer; the file has a gap until it is back",
                       "Recording: readings go on after a gap of 1 s"}));
  EXPECT_EQ(m.log.lines.back(), notes.back());
  // Every line on the disk as it came; the dose text keeps its comma inside quotes.
  const std::string head = "time,rate,rate_unit,level,dose,dose_unit,serial\n";
  EXPECT_EQ(FileText(file), head + "2026-12-07T10:30:15+03:00,0.12,uSv/h,40,\"3,21\",uSv," +
                                serial +
                                "\n"
                                "2026-12-07T10:30:16+03:00,0.30,uSv/h,40,\"3,21\",uSv," +
                                serial +
                                "\n"
                                "2026-12-07T10:31:16+03:00,0.20,uSv/h,40,\"3,21\",uSv," +
                                serial +
                                "\n"
                                "2026-12-07T10:31:17+03:00,0.20,uSv/h,40,,," +
                                serial + "\n");
  EXPECT_EQ(recorder.Lines(), 4);

  // Another device in the same recording: a note, and its serial number on its lines.
  m.info.Factory[kFactorySerial] = 0x56;
  m.info.Uid[0] = 0x01;
  const std::string other = FormatSerial(SerialBytes(m.info.Factory), "-");
  ASSERT_NE(other, serial);
  ASSERT_TRUE(m.controller.ReadMeasurement(false));
  EXPECT_EQ(notes.back(), "Recording: another device, S/N " + other + " instead of " + serial);
  EXPECT_TRUE(FileText(file).ends_with(",,," + other + "\n")) << FileText(file);
  EXPECT_EQ(recorder.Lines(), 5);

  // The trend starts afresh for the other device.
  const MeasurementTrend::Statistics stats = trend.SpanStatistics();
  EXPECT_EQ(stats.count, 1);
  EXPECT_DOUBLE_EQ(stats.minimum, 0.20);
  EXPECT_EQ(TrendStatisticsText(trend, m.language),
            "Min 0,20 uSv/h\nMean 0,200 uSv/h\nMax 0,20 uSv/h");
  // Another unit starts the series afresh; the file goes on in the new unit.
  m.parameters[param::kUnits] = 1;
  ASSERT_TRUE(m.controller.ReadMeasurement(false));
  ASSERT_EQ(trend.Readings().size(), 1u);
  EXPECT_EQ(trend.Readings()[0].rateUnit, "uR/h");
  EXPECT_EQ(trend.Readings()[0].rate, 20);

  // The folder goes away: the recording stops with a box, and no line is counted as written.
  fs::remove_all(folder);
  m.h.dialogs.boxes.clear();
  EXPECT_TRUE(m.controller.ReadMeasurement(false));
  EXPECT_FALSE(recorder.Recording());
  EXPECT_EQ(recorder.Lines(), 6);
  ASSERT_EQ(m.h.dialogs.boxes.size(), 1u);
  EXPECT_EQ(m.h.dialogs.boxes[0].kind, BoxKind::Error);
  EXPECT_EQ(m.h.dialogs.boxes[0].text.rfind(
                "Recording stopped: the file cannot be written\r\n" + file, 0),
            0u)
      << m.h.dialogs.boxes[0].text;
  EXPECT_NE(m.h.dialogs.boxes[0].text.find("The lines written before (6) are kept"),
            std::string::npos);
  EXPECT_EQ(changes, 2);
  // A device that cannot be written at all refuses the start.
  EXPECT_FALSE(recorder.Start("/dev/full"));
  EXPECT_EQ(
      m.h.dialogs.boxes.back().text.rfind("Could not start recording to the file\r\n/dev/full", 0),
      0u);
  EXPECT_FALSE(recorder.Recording());
}

TEST(MeasurementTrend, KeepsAnHourShowsTenMinutesOrTheHourAndStartsAfreshForAnotherDevice) {
  MeasurementTrend trend;
  int changes = 0;
  trend.changed = [&] { ++changes; };
  MeasurementReading reading;
  reading.device = "A";
  reading.time = {2026, 12, 7, 10, 30, 15, 0, 180};
  reading.rateUnit = "uSv/h";
  reading.level = 7;
  reading.dose = "3,21";
  reading.doseUnit = "uSv";
  // Two hours of one reading a second, the rate rising by one each second.
  for (int i = 0; i <= 7200; ++i) {
    reading.tick = 5000 + static_cast<uint32_t>(i) * 1000;
    reading.rate = i;
    trend.OnReading(reading);
  }
  EXPECT_EQ(changes, 7201);
  ASSERT_EQ(trend.Readings().size(), 3601u);
  EXPECT_EQ(trend.Readings().front().rate, 3600);
  MeasurementTrend::Statistics s = trend.SpanStatistics();
  EXPECT_EQ(s.count, 601);
  EXPECT_EQ(s.minimum, 6600);
  EXPECT_EQ(s.maximum, 7200);
  EXPECT_DOUBLE_EQ(s.mean, 6900);
  trend.SetSpan(MeasurementTrend::kLongSpanS);
  s = trend.SpanStatistics();
  EXPECT_EQ(s.count, 3601);
  EXPECT_DOUBLE_EQ(s.mean, 5400);
  // The hour kept, oldest first, after the header.
  const std::string csv = trend.CsvText();
  EXPECT_TRUE(
      csv.starts_with("time,rate,rate_unit,level,dose,dose_unit,serial\n"
                      "2026-12-07T10:30:15+03:00,3600.00,uSv/h,7,\"3,21\",uSv,\n"
                      "2026-12-07T10:30:15+03:00,3601.00,uSv/h,7,\"3,21\",uSv,\n"))
      << csv.substr(0, 200);
  EXPECT_TRUE(csv.ends_with("\n2026-12-07T10:30:15+03:00,7200.00,uSv/h,7,\"3,21\",uSv,\n"));
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 3602);

  reading.device = "B";
  trend.OnReading(reading);
  EXPECT_EQ(trend.Readings().size(), 1u);
  trend.Clear();
  EXPECT_EQ(trend.SpanStatistics().count, 0);
  EXPECT_EQ(TrendStatisticsText(trend, Language()), "");
}

}  // namespace
}  // namespace dravion
