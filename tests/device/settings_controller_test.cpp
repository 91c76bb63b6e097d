#include "device/settings_controller.h"

#include <gtest/gtest.h>

#include "device/device_context.h"
#include "device/parameters.h"
#include "device_fakes.h"
#include "protocol/scripted_device.h"
#include "settings_recorder.h"

namespace dravion {
namespace {

using test::Bytes;

// The settings sequences over the command set on fake time with a scripted device.
struct SettingsHarness {
  SettingsHarness() {
    language.Set(Lang::English);
    connection.manager.Connected = true;
    connection.manager.Identified = true;
  }
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const auto& box : h.dialogs.boxes)
      texts.push_back(box.text);
    return texts;
  }

  test::CommandHarness h;
  test::RecordingLog log;
  device_test::RecordingFrame frame;
  Language language;
  device_test::IdleConnection connection{h.dialogs, h.clock, log, language};
  DeviceInfo info = device_test::SupportedDevice();
  DeviceContext context{h.commands, info, connection.manager, log, h.dialogs, language, h.clock,
                        h.pump,     frame};
  device_test::RecordingSettingsView view{language};
  SettingsController settings{context, view};
};

TEST(Calibration, ParsesTheCoefficientTextsAsKTimes100) {
  const std::pair<const char*, int64_t> cases[] = {
      {"1,27", 127},
      {"1.27", 127},
      {"1,270", -1},
      {"2", 200},
      {"2,", 200},
      {",5", -1},
      {"0,05", 5},
      {"0,1", 10},
      {"9,99", 999},
      {"10", 1000},
      {"", -1},
      {"1,2,", -1},
      {"1,x", -1},
      {"a", -1},
      {"1.5", 150},
      {"1,5.", -1},
      {"1.2,5", -1},          // a comma is the separator when there is one
      {"99999999999,5", -1},  // an integer part beyond the integer range
      {"2147483647", 214748364700},
      {"2147483648", -1},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(ParseCoefficient(text), expected) << '"' << text << '"';
  EXPECT_EQ(FormatCoefficient(127), "1,27");
  EXPECT_EQ(FormatCoefficient(10), "0,10");
  EXPECT_EQ(FormatCoefficient(999), "9,99");
}

TEST(Calibration, KeyFilterTakesDigitsSeparatorsAndControlKeys) {
  for (char32_t key : {U'0', U'9', U',', U'.', U'\b', U'\x1F'})
    EXPECT_TRUE(CalibrationKeyAccepted(key)) << static_cast<int>(key);
  for (char32_t key : {U' ', U'-', U'+', U'e', U'/', U':', U'\x7F', U'й'})
    EXPECT_FALSE(CalibrationKeyAccepted(key)) << static_cast<int>(key);
}

TEST(Calibration, FormatAndRangeErrorsKeepTheTextAndSendNothing) {
  SettingsHarness s;
  s.view.calibration = "1,270";
  s.settings.SaveCalibration();
  s.view.calibration = "0,05";
  s.settings.SaveCalibration();
  s.view.calibration = "10";
  s.settings.SaveCalibration();
  s.h.dialogs.answers = {false};
  s.settings.SaveCalibration();
  EXPECT_EQ(s.BoxTexts(), (std::vector<std::string>{"K Format Error [1,270]",
                                                    "Error: K is to be from 0,1 to 9,99 [0,05]",
                                                    "Error: K is to be from 0,1 to 9,99 [10]"}));
  EXPECT_EQ(s.h.dialogs.questions.size(), 4u);
  EXPECT_EQ(s.h.dialogs.questions[0], "Calibration Coefficient will changed\n\rContinue?");
  EXPECT_EQ(s.view.calibration, "10");
  EXPECT_TRUE(s.h.port.frames.empty());
  EXPECT_EQ(s.frame.pages, (std::vector<bool>{false, true, false, true, false, true, false, true}));
}

TEST(Calibration, SavedInNormalFormAfterTheAccessCheck) {
  SettingsHarness s;
  s.view.calibration = "1.5";
  s.settings.SaveCalibration();
  EXPECT_EQ(s.view.calibration, "1,50");
  EXPECT_EQ(s.h.Requests(), (std::vector<Bytes>{{1, 0x0F, 4, 0, 150, 0, 0, 0}}));
  EXPECT_EQ(s.BoxTexts(),
            (std::vector<std::string>{
                "Calibration successfully saved\n\rIt is reccomended Restart Device"}));

  // Without a device: one plain sentence before anything is asked.
  s.connection.manager.Connected = false;
  s.h.Forget();
  const size_t asked = s.h.dialogs.questions.size();
  s.view.calibration = "2,";
  s.settings.SaveCalibration();
  EXPECT_EQ(s.view.calibration, "2,");
  EXPECT_TRUE(s.h.port.frames.empty());
  EXPECT_EQ(s.h.dialogs.questions.size(), asked);
  EXPECT_EQ(s.h.dialogs.boxes.back().text, NoDeviceText(s.language));
}

TEST(SettingsController, SaveRightAfterStartIsRefusedWithoutTraffic) {
  SettingsHarness s;
  s.settings.Write();
  EXPECT_EQ(s.BoxTexts(),
            (std::vector<std::string>{"Some Settings undefined\n\rSaving unavailable"}));
  EXPECT_TRUE(s.h.dialogs.questions.empty());
  EXPECT_TRUE(s.h.port.frames.empty());
  EXPECT_EQ(s.frame.pages, (std::vector<bool>{false, true}));
  EXPECT_TRUE(s.connection.manager.LinkWatch);

  // One list without selection is enough.
  s.settings.Default();
  s.view.Select(SettingsList::Language, -1);
  s.settings.Write();
  EXPECT_EQ(s.h.dialogs.boxes.size(), 2u);
  EXPECT_TRUE(s.h.port.frames.empty());
}

TEST(SettingsController, DefaultsRebuildTheThresholdsForSievertKeepingTheLanguage) {
  SettingsHarness s;
  s.view.Select(SettingsList::Language, 3);
  s.view.Select(SettingsList::Units, 2);
  s.settings.UnitsChanged(2);
  s.view.Select(SettingsList::BackgroundLevel, 8);
  EXPECT_EQ(s.view.BackgroundText(), "240 CPM");
  s.settings.Default();
  EXPECT_EQ(s.view.Selection(SettingsList::Units), 0);
  EXPECT_EQ(s.view.BackgroundText(), "1,2 uSv/h");
  EXPECT_EQ(s.view.DoseText(), "100 Sv");
  EXPECT_EQ(s.view.selection,
            (std::array<int, kSettingsListCount>{3, 0, 8, 14, 1, 3, 10, 1, 0, 0}));
  EXPECT_EQ(s.view.checked, (std::array<bool, 5>{true, true, true, true, false}));
  EXPECT_EQ(s.view.calibration, "1,27");
  EXPECT_TRUE(s.h.port.frames.empty());
  EXPECT_TRUE(s.frame.pages.empty());
}

TEST(SettingsController, UnitsChangeKeepsThresholdPositions) {
  SettingsHarness s;
  s.settings.Default();
  s.settings.UnitsChanged(1);
  EXPECT_EQ(s.view.BackgroundText(), "120 uR/h");
  EXPECT_EQ(s.view.DoseText(), "10000 R");
  s.language.Set(Lang::Russian);
  s.view.Select(SettingsList::BackgroundLevel, 13);
  s.settings.UnitsChanged(-1);  // a language change rebuilds for the unit used last
  EXPECT_EQ(s.view.BackgroundText(), "3  мР/ч");
}

TEST(SettingsController, WriteTimeSendsTheComputerClockWithAZeroSeventhByte) {
  SettingsHarness s;
  s.h.dialogs.answers = {false};
  s.settings.WriteTime();
  EXPECT_TRUE(s.h.port.frames.empty());
  EXPECT_EQ(s.h.dialogs.questions.back(), "Write Time\n\rto Device from PC?");

  s.h.clock.now = {2026, 12, 7, 10, 30, 15, 500};
  s.settings.WriteTime();
  std::vector<Bytes> clock;  // the model check before the clock commands is the command set's
  for (const Bytes& request : s.h.Requests())
    if (request[1] == 0x0B || request[1] == 0x0C) clock.push_back(request);
  // The clock is read before it is written, for the correction the box reports.
  EXPECT_EQ(clock, (std::vector<Bytes>{{1, 0x0C}, {1, 0x0B, 15, 30, 10, 7, 12, 26, 0}, {1, 0x0C}}));
  EXPECT_EQ(s.view.time, "[07.12.2026]-[10:30:15]");
  EXPECT_EQ(s.BoxTexts(), (std::vector<std::string>{"Time written to Device\n\r[07.12.2026]-[10:30:"
                                                    "15]\n\rDevice clock corrected by 0 s"}));
  EXPECT_EQ(s.h.dialogs.boxes.back().kind, BoxKind::Information);
}

TEST(SettingsController, WriteTimeFailuresAreReported) {
  SettingsHarness s;
  s.h.device.override[0x010B] = [](const Bytes&) -> std::optional<Bytes> { return std::nullopt; };
  s.settings.WriteTime();
  EXPECT_EQ(s.BoxTexts(),
            (std::vector<std::string>{"No answer - TIME WRITE", "Error writing Time"}));
  EXPECT_EQ(s.frame.pages, (std::vector<bool>{false, true}));

  s.h.device.override.erase(0x010B);
  s.h.device.override[0x010C] = [](const Bytes&) -> std::optional<Bytes> { return std::nullopt; };
  s.h.dialogs.boxes.clear();
  s.settings.WriteTime();
  EXPECT_EQ(s.view.time, "[--.--.----]-[--:--:--]");
  EXPECT_EQ(s.BoxTexts(), (std::vector<std::string>{"No answer - TIME READ",
                                                    "Time written to Device\n\r"
                                                    "[--.--.----]-[--:--:--]"}));
}

// The page shows the drift from one read against the computer's clock; when that clock is set
// anew or its zone changes, the device is read again. A time that cannot be is said to be one.
TEST(SettingsController, TheDriftFollowsTheComputersClockAndAnInvalidTimeIsSaid) {
  SettingsHarness s;
  Bytes deviceTime{20, 30, 10, 7, 12, 26, 0};  // 07.12.2026 10:30:20
  int reads = 0;
  s.h.device.override[0x010C] = [&](const Bytes&) -> std::optional<Bytes> {
    ++reads;
    return deviceTime;
  };
  s.h.clock.now = {2026, 12, 7, 10, 30, 15, 0, 180};
  s.settings.ClockTick();
  EXPECT_EQ(reads, 1);
  EXPECT_EQ(s.settings.KnownDrift(), 5);
  EXPECT_NE(s.view.drift.find("The device is 5 s ahead"), std::string::npos) << s.view.drift;
  // A second later: shown again from the computer's clock, without a read.
  s.h.clock.Advance(1000);
  s.h.clock.now.second = 16;
  s.settings.ClockTick();
  EXPECT_EQ(reads, 1);
  EXPECT_NE(s.view.drift.find("Computer: 07.12.2026 10:30:16"), std::string::npos) << s.view.drift;

  // The computer's clock is set an hour back: read again.
  deviceTime = {22, 30, 10, 7, 12, 26, 0};
  s.h.clock.Advance(1000);
  s.h.clock.now.hour = 9;
  s.h.clock.now.second = 17;
  s.settings.ClockTick();
  EXPECT_EQ(reads, 2);
  EXPECT_EQ(s.settings.KnownDrift(), 3600 + 5);
  // Another time zone, same clock: read again.
  s.h.clock.Advance(1000);
  s.h.clock.now.second = 18;
  s.h.clock.now.utcOffsetMinutes = 120;
  s.settings.ClockTick();
  EXPECT_EQ(reads, 3);

  // Month 13, day 0, day 32, year 2100: no drift, an invalid time, and Write Time corrects it.
  for (const Bytes& bytes : {Bytes{0, 0, 12, 15, 13, 26, 0}, Bytes{0, 0, 12, 0, 6, 26, 0},
                             Bytes{0, 0, 12, 32, 1, 26, 0}, Bytes{0, 0, 12, 15, 6, 100, 0}}) {
    deviceTime = bytes;
    EXPECT_EQ(s.settings.ReadClockDrift(), std::nullopt);
    EXPECT_TRUE(s.settings.DeviceTimeInvalid());
    EXPECT_NE(s.view.drift.find("The device clock holds an invalid time"), std::string::npos)
        << s.view.drift;
  }
  s.h.device.override[0x010B] = [&](const Bytes& p) -> std::optional<Bytes> {
    deviceTime.assign(p.begin(), p.begin() + 7);
    return Bytes{};
  };
  s.h.dialogs.answers = {true};
  s.settings.WriteTime();
  ASSERT_FALSE(s.h.dialogs.boxes.empty());
  EXPECT_NE(s.h.dialogs.boxes.back().text.find(
                "Device clock corrected from [15.06.20100]-[12:00:00], an invalid time"),
            std::string::npos)
      << s.h.dialogs.boxes.back().text;
  EXPECT_FALSE(s.settings.DeviceTimeInvalid());
}

}  // namespace
}  // namespace dravion
