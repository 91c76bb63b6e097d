#include <gtest/gtest.h>

#include <regex>

#include "device/device_time.h"
#include "device/parameters.h"
#include "device/settings_controller.h"
#include "device_link_harness.h"
#include "settings_recorder.h"

namespace dravion {
namespace {

using device_test::DeviceLinkHarness;
using device_test::RecordingSettingsView;

struct SettingsLink : DeviceLinkHarness {
  explicit SettingsLink(const std::function<void(sim::DeviceConfig&)>& adjust = {},
                        uint32_t scale = 4)
      : DeviceLinkHarness(adjust, scale) {}
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const auto& box : dialogs.boxes)
      texts.push_back(box.text);
    return texts;
  }
  RecordingSettingsView view{language};
  SettingsController settings{context, view};
};

TEST(SettingsLink, ReadFillsEveryControl) {
  SettingsLink s;
  ASSERT_TRUE(s.Connect());
  const std::pair<uint16_t, uint32_t> values[] = {
      {6, 2},  {9, 1},  {7, 13}, {8, 6},  {3, 0},  {14, 0},  {13, 1},  {15, 0},
      {16, 3}, {17, 5}, {18, 0}, {19, 0}, {20, 1}, {21, 23}, {22, 45}, {4, 5}};
  for (const auto& [number, value] : values)
    s.device->SetParameter(number, value);
  std::vector<std::pair<uint32_t, uint32_t>> alarms;
  s.settings.AlarmSettingsRead = [&](uint32_t units, uint32_t level) {
    alarms.emplace_back(units, level);
  };
  s.settings.Read();
  EXPECT_TRUE(s.dialogs.boxes.empty());
  // The unit and the background threshold are told to whoever keeps them for the figures.
  EXPECT_EQ(alarms, (std::vector<std::pair<uint32_t, uint32_t>>{{1, 13}}));
  EXPECT_EQ(s.view.selection,
            (std::array<int, kSettingsListCount>{2, 1, 13, 6, 3, 5, 0, 0, 23, 45}));
  EXPECT_EQ(s.view.checked, (std::array<bool, 5>{true, false, true, false, true}));
  EXPECT_EQ(s.view.BackgroundText(), "3 mR/h");
  EXPECT_EQ(s.view.DoseText(), "1,0 R");
  EXPECT_EQ(s.view.calibration, "0,10");
  EXPECT_TRUE(
      std::regex_match(s.view.time, std::regex(R"(\[\d\d\.\d\d\.20\d\d\]-\[\d\d:\d\d:\d\d\])")))
      << s.view.time;
  EXPECT_TRUE(s.log.Has("Read PAR[0x0009(9)] : 0x0001(1)"));
  EXPECT_EQ(s.frame.pages, (std::vector<bool>{false, true}));
  EXPECT_TRUE(s.core.manager.LinkWatch);

  // Sound off clears the box; a calibration above the range shows 9,99; a value beyond its list
  // leaves the list without selection.
  s.device->SetParameter(3, 1);
  s.device->SetParameter(4, 1500);
  s.device->SetParameter(16, 9);
  s.settings.Read();
  EXPECT_FALSE(s.view.Checked(SettingsBox::Sound));
  EXPECT_EQ(s.view.calibration, "9,99");
  EXPECT_EQ(s.view.Selection(SettingsList::Brightness), -1);
  EXPECT_TRUE(s.dialogs.boxes.empty());
}

TEST(SettingsLink, ReadOfABootLoaderDeviceIsRefusedWithoutReadingParameters) {
  SettingsLink s([](sim::DeviceConfig& c) { c.startInBoot = true; });
  ASSERT_TRUE(s.Connect());
  s.settings.Read();
  EXPECT_EQ(s.BoxTexts(),
            (std::vector<std::string>{"Read Settings\n\rError Settings Access\n\rYou need Upgrade "
                                      "Firmware\n\rPlease goto Page \"About Device\""}));
  EXPECT_TRUE(s.log.Has("# ERROR: \"DevAccessCheck Error=5\""));
  EXPECT_EQ(s.device->Requests(1, 0x0E), 0);
}

TEST(SettingsLink, ReadFailuresKeepWhatWasShownAndReportOnce) {
  SettingsLink s;
  ASSERT_TRUE(s.Connect());
  s.device->SetFaults({.refuseCommand = sim::CommandKey(1, 0x0C)});
  s.settings.Read();
  EXPECT_EQ(s.view.time, "[--.--.----]-[--:--:--]");
  EXPECT_EQ(s.view.Selection(SettingsList::AlarmMinute), 0);  // read before the clock
  EXPECT_EQ(s.BoxTexts(),
            (std::vector<std::string>{"No answer - TIME READ", "Error reading Parameters"}));
  EXPECT_FALSE(s.log.Has("Read PAR[0x0004(4)] : 0x007F(127)"));

  s.dialogs.boxes.clear();
  s.device->SetFaults({.refuseCommand = sim::CommandKey(1, 0x0E)});
  s.settings.Read();
  EXPECT_EQ(s.BoxTexts(), (std::vector<std::string>{"Error reading Parameters"}));
  EXPECT_TRUE(s.log.Has("# ERROR: \"Read PAR[6]\""));
  EXPECT_EQ(s.frame.pages.back(), true);
  EXPECT_TRUE(s.core.manager.LinkWatch);
}

TEST(SettingsLink, WriteFailingAtButtonClicksLeavesTheEarlierSettingsWritten) {
  SettingsLink s;
  ASSERT_TRUE(s.Connect());
  s.settings.Default();
  s.view.Select(SettingsList::Language, 1);
  s.view.Select(SettingsList::Units, 2);
  s.view.Select(SettingsList::BackgroundLevel, 3);
  s.view.Select(SettingsList::DoseLevel, 4);
  s.view.SetChecked(SettingsBox::Sound, false);
  s.view.SetChecked(SettingsBox::ButtonClick, false);
  // Five writes are answered, then the device falls silent.
  s.device->SetFaults({.silentAfter = s.device->GetCounters().totalRequests + 5});
  s.settings.Write();
  EXPECT_EQ(s.dialogs.questions, (std::vector<std::string>{"Save Settings\n\rContinue?"}));
  // Writing the device's settings cannot be undone: a warning question, No by default.
  EXPECT_EQ(s.dialogs.questionKinds, (std::vector<QuestionKind>{QuestionKind::Warning}));
  EXPECT_EQ(s.BoxTexts(),
            (std::vector<std::string>{"No answer - Parameter WRITE", "Error saving Settings"}));
  EXPECT_EQ(s.device->Parameter(6), 1u);
  EXPECT_EQ(s.device->Parameter(9), 2u);
  EXPECT_EQ(s.device->Parameter(7), 3u);
  EXPECT_EQ(s.device->Parameter(8), 4u);
  EXPECT_EQ(s.device->Parameter(3), 1u);   // the sound box was clear
  EXPECT_EQ(s.device->Parameter(14), 1u);  // still the factory value
  EXPECT_TRUE(s.log.Has("# ERROR: \"Write PAR[14] : 0x0(0)\""));
  EXPECT_EQ(s.device->GetCounters().restarts, 0);
}

TEST(SettingsLink, WriteThenRestartComesBackAndIsReported) {
  SettingsLink s;
  ASSERT_TRUE(s.Connect());
  s.settings.Default();
  s.view.Select(SettingsList::Language, 1);
  s.view.SetChecked(SettingsBox::Alarm, true);
  s.view.Select(SettingsList::AlarmHour, 6);
  s.settings.Write();
  EXPECT_EQ(s.dialogs.questions,
            (std::vector<std::string>{"Save Settings\n\rContinue?",
                                      "Settings successfully saved\n\rIt is reccomended Restart "
                                      "Device\n\rDo it Now?"}));
  EXPECT_TRUE(s.dialogs.boxes.empty());
  EXPECT_EQ(s.device->GetCounters().restarts, 1);
  EXPECT_TRUE(s.log.Has("==> Device Reset to TQV8"));
  EXPECT_EQ(s.log.lines.back(), "TQV8  : 12.6");
  const std::pair<uint16_t, uint32_t> written[] = {{6, 1},   {9, 0},  {7, 8},  {8, 14}, {3, 0},
                                                   {14, 1},  {13, 1}, {15, 1}, {16, 1}, {17, 3},
                                                   {18, 10}, {19, 1}, {20, 1}, {21, 6}, {22, 0}};
  for (const auto& [number, value] : written)
    EXPECT_EQ(s.device->Parameter(number), value) << number;
  EXPECT_EQ(s.frame.pages, (std::vector<bool>{false, true}));
  EXPECT_TRUE(s.core.manager.LinkWatch);
}

TEST(SettingsLink, RestartThatNeverComesBackIsAnError) {
  SettingsLink s({}, 8);
  ASSERT_TRUE(s.Connect());
  s.settings.Default();
  s.view.Select(SettingsList::Language, 0);
  s.device->SetFaults({.restartStaysAway = true});
  s.settings.Write();
  EXPECT_EQ(s.BoxTexts(), (std::vector<std::string>{"Error restarting Device"}));
  EXPECT_TRUE(s.core.manager.LinkWatch);
}

TEST(SettingsLink, RestartButtonRestartsAndGivesEverythingBack) {
  SettingsLink s;
  ASSERT_TRUE(s.Connect());
  s.settings.Restart();
  EXPECT_EQ(s.device->GetCounters().restarts, 1);
  EXPECT_EQ(s.view.restartEnabled, (std::vector<bool>{false, true}));
  EXPECT_EQ(s.frame.pages, (std::vector<bool>{false, true}));
  EXPECT_TRUE(s.core.manager.LinkWatch);
  EXPECT_TRUE(s.core.manager.Identified);
  EXPECT_TRUE(s.dialogs.boxes.empty());
}

TEST(SettingsLink, TimeAndCalibrationReachTheDevice) {
  SettingsLink s;
  ASSERT_TRUE(s.Connect());
  s.device->SetFaults({});
  s.settings.WriteTime();
  const uint32_t pc = SecondsFromTimeRecord(TimeRecordFromClock(s.clock.Now()));
  EXPECT_LE(pc - s.device->DeviceSeconds() + 2, 4u);  // within two seconds either way
  ASSERT_EQ(s.dialogs.boxes.size(), 1u);
  // The box ends with the correction read just before the write.
  EXPECT_EQ(s.dialogs.boxes[0].text.rfind(
                "Time written to Device\n\r" + s.view.time + "\n\rDevice clock corrected by ", 0),
            0u)
      << s.dialogs.boxes[0].text;

  s.view.calibration = "1.5";
  s.settings.SaveCalibration();
  EXPECT_EQ(s.device->Parameter(4), 150u);
  EXPECT_EQ(s.view.calibration, "1,50");
  EXPECT_TRUE(s.log.Has("Write PAR[0x0004(4)] : 0x0096(150)"));
}

}  // namespace
}  // namespace dravion
