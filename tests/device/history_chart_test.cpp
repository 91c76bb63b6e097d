#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "device/device_context.h"
#include "device/device_fakes.h"
#include "device/device_time.h"
#include "device/history_controller.h"
#include "device/history_fakes.h"
#include "device/history_records.h"
#include "protocol/commands.h"
#include "protocol/link_stack.h"
#include "support/scratch_folder.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace dravion {
namespace {

using device_test::RecordingHistoryView;
using test::StoredRecord;
namespace fs = std::filesystem;

TimeRecord Time(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  TimeRecord t;
  t.Bytes = {static_cast<uint8_t>(second),
             static_cast<uint8_t>(minute),
             static_cast<uint8_t>(hour),
             static_cast<uint8_t>(day),
             static_cast<uint8_t>(month),
             static_cast<uint8_t>(year - 2000),
             0};
  return t;
}

uint32_t At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  return SecondsFromTimeRecord(Time(year, month, day, hour, minute, second));
}

// The history controller with a downloaded ring and no device behind it.
struct Page {
  Page() {
    language.Set(Lang::English);
    controller.HistoryCoefficient = 127;
  }
  void Load(const std::vector<StoredRecord>& records, const TimeRecord& deviceTime,
            uint32_t first = 0) {
    test::LoadRing(controller.Ring, records, first);
    controller.HistoryDeviceTime = controller.HistoryViewTime = deviceTime;
    controller.HistoryLevel = 0;
  }
  const HistoryChartData& Draw(int level, const TimeRecord& view) {
    controller.HistoryLevel = level;
    controller.HistoryViewTime = view;
    controller.DrawHistoryChart();
    return view_.chart;
  }

  test::FakeClock clock;
  test::FakePump pump{clock};
  test::ScriptedDialogs dialogs{&clock};
  test::RecordingLog log;
  Language language;
  LinkStack stack{pump, clock, dialogs};
  DeviceCommands commands{stack};
  DeviceInfo record = device_test::SupportedDevice();
  device_test::IdleConnection idle{dialogs, clock, log, language};
  device_test::RecordingFrame frame;
  DeviceContext context{commands, record, idle.manager, log, dialogs, language, clock, pump, frame};
  RecordingHistoryView view_;
  HistoryController controller{context, view_};
};

std::vector<uint32_t> Colours(const std::vector<ChartPoint>& points) {
  std::vector<uint32_t> colours;
  for (const ChartPoint& p : points)
    colours.push_back(p.Colour);
  return colours;
}

TEST(HistoryChart, AMinuteOfTenSecondBarsSplitsALongRecordAndTitlesTheView) {
  Page page;
  const uint32_t minute = At(2024, 2, 29, 12, 5);
  page.Load({{minute - 30, 240, 120}}, Time(2024, 2, 29, 12, 5, 42));
  const HistoryChartData& chart = page.Draw(0, Time(2024, 2, 29, 12, 5, 42));
  EXPECT_EQ(chart.Title,
            (std::vector<std::string>{"History for Minute : 29.02.2024-12:05", "uR/h  K = 1.27"}));
  EXPECT_EQ(chart.Labels, (std::vector<std::string>{"0", "10", "20", "30", "40", "50"}));
  // 20 pulses in each 10 s: 20 x 36 x 127 / 10 / 172 = 53 µR/h, fully covered.
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(chart.Rate[i], (ChartPoint{53, kChartLime})) << i;
    EXPECT_EQ(chart.Coverage[i], (ChartPoint{1, kChartLime, true})) << i;
    EXPECT_EQ(chart.Maximum[i], (ChartPoint{1, kChartFuchsia, true})) << i;
  }
  // The view's second is dropped.
  EXPECT_EQ(page.controller.HistoryViewTime.Bytes[0], 0);

  page.language.Set(Lang::Russian);
  page.controller.HistoryCoefficient = 105;
  EXPECT_EQ(
      page.Draw(0, Time(2024, 2, 29, 9, 5)).Title,
      (std::vector<std::string>{"История за минуту : 29.02.2024-09:05", "мкР/час  K = 1,05"}));
}

TEST(HistoryChart, AViewAfterTheNewestRecordIsAllPlaceholders) {
  Page page;
  page.Load({{At(2024, 3, 1, 10), 50, 60}}, Time(2024, 3, 1, 10, 1));
  for (int level = 0; level <= 2; ++level) {
    const HistoryChartData& chart = page.Draw(level, Time(2024, 3, level == 2 ? 2 : 1, 11, 30));
    for (const auto* series : {&chart.Maximum, &chart.Rate, &chart.Coverage})
      for (const ChartPoint& p : *series)
        EXPECT_EQ(p, (ChartPoint{1, kChartFuchsia, true})) << level;
  }
}

TEST(HistoryChart, ALeapYearsFebruaryBarCoversTwentyNineDays) {
  Page page;
  // Every hour of day d of February holds 1000 x d pulses.
  std::vector<StoredRecord> records;
  for (uint32_t t = At(2024, 2, 1); t < At(2024, 3, 1); t += 3600)
    records.push_back({t, 1000 * ((t - At(2024, 2, 1)) / 86400 + 1), 3600});
  page.Load(records, Time(2024, 3, 5));
  const HistoryChartData& chart = page.Draw(4, Time(2024, 6, 15, 13, 20));
  EXPECT_EQ(chart.Title[0], "History for Year : 2024");
  ASSERT_EQ(chart.Labels.size(), 12u);
  EXPECT_EQ(chart.Labels.front(), "1");
  EXPECT_EQ(chart.Labels.back(), "12");
  EXPECT_EQ(chart.Rate[0].Colour, kChartFuchsia);                   // January: nothing
  EXPECT_EQ(chart.Coverage[1], (ChartPoint{1, kChartLime, true}));  // February, all 29 days
  // A pulse a second is 36 x 1,27 / 1,72 = 26,58 uR/h. February: 24 x 1000 x (1 + ... + 29)
  // = 10,440,000 pulses in 29 x 86,400 s, 4,167 pulses/s: 110,76 uR/h.
  EXPECT_EQ(chart.Rate[1], (ChartPoint{110, kChartLime}));
  EXPECT_EQ(chart.Rate[2].Colour, kChartFuchsia);  // March gets nothing of February

  const HistoryChartData& month = page.Draw(3, Time(2024, 2, 10));
  EXPECT_EQ(month.Title[0], "History for Month : 2024-02");
  EXPECT_EQ(month.Labels.size(), 29u);
  EXPECT_EQ(Colours(month.Coverage), std::vector<uint32_t>(29, kChartLime));
  // Day d: 1000 x d pulses an hour, 0,2778 x d pulses/s, 7,38 x d uR/h.
  ASSERT_EQ(month.Rate.size(), 29u);
  EXPECT_EQ(month.Rate[0].Value, 7u);
  EXPECT_EQ(month.Rate[1].Value, 14u);
  EXPECT_EQ(month.Rate[9].Value, 73u);
  EXPECT_EQ(month.Rate[28].Value, 214u);
}

TEST(HistoryChart, AGapInsideABarGivesPartialCoverageAndTheRateOfTheCoveredSeconds) {
  Page page;
  const uint32_t hour = At(2023, 7, 14, 9);
  // 09:00-09:10 and 09:50-10:00, 600 pulses each; the hours around are fully covered.
  std::vector<StoredRecord> records;
  for (uint32_t t = hour - 3600; t < hour; t += 600)
    records.push_back({t, 60, 600});
  records.push_back({hour, 600, 600});
  records.push_back({hour + 3000, 600, 600});
  page.Load(records, Time(2023, 7, 14, 10));
  const HistoryChartData& day = page.Draw(2, Time(2023, 7, 14, 9, 30));
  EXPECT_EQ(day.Title[0], "History for Day : 14.07.2023");
  ASSERT_EQ(day.Labels.size(), 24u);
  EXPECT_EQ(day.Coverage[8], (ChartPoint{1, kChartLime, true}));
  EXPECT_EQ(day.Coverage[9], (ChartPoint{1, kChartFuchsia, true}));
  // 09:00: 1200 pulses in the 1200 s covered, a pulse a second: 26,58 uR/h (not the 8,86 of
  // the whole hour). 08:00: 360 pulses in 3600 s: 2,66 uR/h.
  EXPECT_EQ(day.Rate[9], (ChartPoint{26, kChartLime}));
  EXPECT_EQ(day.Rate[8], (ChartPoint{2, kChartLime}));

  // Records of no duration in the second where the next record starts, one of them in a bar's
  // last second: their pulses count, and fully covered bars stay fully covered.
  records = {{hour, 6000, 1800},    {hour + 1800, 900, 0},     {hour + 1800, 6000, 1799},
             {hour + 3599, 500, 0}, {hour + 3599, 7200, 3600}, {hour + 7199, 60, 1}};
  page.Load(records, Time(2023, 7, 14, 12));
  const HistoryChartData& points = page.Draw(2, Time(2023, 7, 14, 9, 30));
  EXPECT_EQ(points.Coverage[9], (ChartPoint{1, kChartLime, true}));
  EXPECT_EQ(points.Coverage[10], (ChartPoint{1, kChartLime, true}));
  // 09:00: 6000 + 900 + 6000 + 500 and the first second of the 7200 pulses in an hour (2):
  // 13,402 pulses in 3600 s, 3,723 pulses/s: 98,96 uR/h. Without the 900 it would be 92, without
  // the 500 in the last second 95, without both 88.
  EXPECT_EQ(points.Rate[9].Value, 98u);
  // 10:00: the other 7198 of the 7200 and the 60 of the last second: 7258 pulses, 53,59 uR/h.
  EXPECT_EQ(points.Rate[10].Value, 53u);
}

TEST(HistoryChart, AnHourBarOfFourPulsesIsOneMicroRoentgenAndTheMaximumIsShownOnRequest) {
  Page page;
  const uint32_t hour = At(2022, 3, 5, 14);
  page.Load({{hour + 7 * 60, 4, 60}, {hour + 8 * 60, 4000, 30}, {hour + 8 * 60 + 30, 0, 30}},
            Time(2022, 3, 5, 14, 30));
  const HistoryChartData& chart = page.Draw(1, Time(2022, 3, 5, 14, 59));
  EXPECT_EQ(chart.Title[0], "History for Hour : 05.03.2022-14");
  ASSERT_EQ(chart.Labels.size(), 60u);
  EXPECT_EQ(chart.Labels[59], "59");
  EXPECT_EQ(chart.Rate[7], (ChartPoint{1, kChartLime}));  // 4 pulses in 60 s: 1,77 uR/h
  EXPECT_EQ(chart.Coverage[7], (ChartPoint{1, kChartLime, true}));
  EXPECT_EQ(chart.Maximum[8], (ChartPoint{1, kChartFuchsia, true}));

  page.view_.showMaximum = true;
  const HistoryChartData& peaks = page.Draw(1, Time(2022, 3, 5, 14, 59));
  // Minute 8: the average over 60 s against the highest 10-s rate of its records.
  // 4000 pulses in 60 s, 66,67 pulses/s: 1772,1 uR/h; the highest 10-s count is 1333 of the
  // record of 30 s, 133,3 pulses/s: 3543,3 uR/h.
  EXPECT_EQ(peaks.Rate[8], (ChartPoint{1772, kChartLime}));
  EXPECT_EQ(peaks.Maximum[8], (ChartPoint{3543, kChartYellow}));
  EXPECT_EQ(peaks.Maximum[7], (ChartPoint{1, kChartYellow}));
  EXPECT_EQ(peaks.Maximum[9], (ChartPoint{1, kChartFuchsia, true}));  // nothing recorded
}

TEST(HistoryChart, NavigationStepsZoomsAndReturnsOnlyAfterADownload) {
  Page page;
  page.controller.OnBackClicked();
  page.controller.OnUpClicked();
  page.controller.OnBarDoubleClicked(3);
  page.controller.OnLatestClicked();
  page.controller.OnShowMaximumClicked();
  EXPECT_EQ(page.view_.charts, 0);

  page.Load({{At(2024, 12, 31, 23, 59), 1, 60}}, Time(2024, 12, 31, 23, 59, 30));
  HistoryController& c = page.controller;
  c.OnForwardClicked();  // a minute on: into the next year
  EXPECT_EQ(page.view_.chart.Title[0], "History for Minute : 01.01.2025-00:00");
  c.OnBackClicked();
  c.OnUpClicked();
  c.OnUpClicked();
  c.OnUpClicked();
  EXPECT_EQ(page.view_.chart.Title[0], "History for Month : 2024-12");
  c.OnForwardClicked();
  EXPECT_EQ(page.view_.chart.Title[0], "History for Month : 2025-01");
  c.OnBackClicked();
  c.OnUpClicked();
  EXPECT_EQ(c.HistoryLevel, 4);
  const int charts = page.view_.charts;
  c.OnUpClicked();  // nothing above the year, not even a redraw
  EXPECT_EQ(page.view_.charts, charts);
  c.OnBarDoubleClicked(11);
  EXPECT_EQ(c.HistoryLevel, 3);
  EXPECT_EQ(c.HistoryViewTime.Bytes[4], 12);
  c.OnBarDoubleClicked(0);
  EXPECT_EQ(c.HistoryLevel, 2);
  EXPECT_EQ(c.HistoryViewTime.Bytes[3], 1);
  c.OnBarDoubleClicked(23);
  EXPECT_EQ(page.view_.chart.Title[0], "History for Hour : 01.12.2024-23");
  c.OnBarDoubleClicked(59);
  EXPECT_EQ(page.view_.chart.Title[0], "History for Minute : 01.12.2024-23:59");
  const int atMinute = page.view_.charts;
  c.OnBarDoubleClicked(2);  // nothing below the minute
  EXPECT_EQ(page.view_.charts, atMinute);
  c.OnLatestClicked();
  EXPECT_EQ(c.HistoryLevel, 0);
  EXPECT_EQ(page.view_.chart.Title[0], "History for Minute : 31.12.2024-23:59");
  EXPECT_EQ(page.view_.chart.Coverage[0].Colour, kChartLime);
}

// ---------------------------------------------------------------------------------------------
// Saving the CSV text

fs::path U8(const std::string& path) {
  return fs::path(std::u8string(path.begin(), path.end()));
}

std::string Contents(const std::string& path) {
  std::ifstream in(U8(path), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Folder {
  test::ScratchFolder folder{"dravion-csv"};
  const std::string path = folder.Utf8();
};

TEST(HistoryCsvSave, FirstSaveThenTheOverwriteQuestionKeepsOrReplacesTheFile) {
  Page page;
  page.controller.OnSaveCsvClicked();
  ASSERT_EQ(page.dialogs.boxes.size(), 1u);
  EXPECT_EQ(page.dialogs.boxes[0].text, "First read History from Device");
  EXPECT_EQ(page.dialogs.boxes[0].kind, BoxKind::Error);

  Folder folder;
  const std::string name = folder.path + "/история.csv";
  page.Load({{At(2024, 2, 29, 12), 1200, 60}}, Time(2024, 2, 29, 12, 5));
  page.controller.Csv.CsvText = "first\r\n";
  page.view_.saveName = name;
  page.controller.OnSaveCsvClicked();
  EXPECT_EQ(page.view_.request.Title, "CSV History saving");
  EXPECT_EQ(page.view_.request.Filter, "CSV Files(*.csv)|*.CSV");
  EXPECT_EQ(page.view_.request.DefaultSuffix, "csv");
  EXPECT_EQ(page.view_.offeredName, "");
  EXPECT_EQ(Contents(name), "first\r\n");
  EXPECT_TRUE(page.dialogs.questions.empty());

  page.controller.Csv.CsvText = "second\r\n";
  page.dialogs.answers = {false};
  page.controller.OnSaveCsvClicked();
  EXPECT_EQ(page.view_.offeredName, name);  // the name saved last
  ASSERT_EQ(page.dialogs.questions.size(), 1u);
  EXPECT_EQ(page.dialogs.questions[0], "File\r\n" + name + "\r\nalready exists\r\nRewrite?");
  EXPECT_EQ(Contents(name), "first\r\n");

  page.dialogs.answers = {true};
  page.controller.OnSaveCsvClicked();
  EXPECT_EQ(Contents(name), "second\r\n");
  EXPECT_EQ(page.dialogs.boxes.size(), 1u);  // no error since the first

  page.view_.saveName.clear();  // the dialog cancelled: nothing happens
  page.controller.OnSaveCsvClicked();
  EXPECT_EQ(page.dialogs.questions.size(), 2u);
}

TEST(HistoryCsvSave, FailuresKeepTheOldFileAndSayWhatFailed) {
  Page page;
  Folder folder;
  const std::string name = folder.path + "/h.csv";
  page.Load({}, Time(2024, 1, 1));
  page.controller.Csv.CsvText = "old";
  ASSERT_TRUE(page.controller.SaveCsv(name));
  page.controller.Csv.CsvText = "new";

  page.controller.FileHook = [](FileStep step) { return step != FileStep::Write; };  // disk full
  EXPECT_FALSE(page.controller.SaveCsv(name));
  page.controller.FileHook = [](FileStep step) { return step != FileStep::Replace; };
  EXPECT_FALSE(page.controller.SaveCsv(name));
  page.controller.FileHook = [](FileStep step) { return step != FileStep::Create; };
  EXPECT_FALSE(page.controller.SaveCsv(name));
  page.controller.FileHook = nullptr;
  EXPECT_FALSE(page.controller.SaveCsv(folder.path + "/missing/h.csv"));
  ASSERT_EQ(page.dialogs.boxes.size(), 4u);
  EXPECT_EQ(page.dialogs.boxes[0].text, "File write Error\r\n" + name);
  EXPECT_EQ(page.dialogs.boxes[1].text, "Error\n\rnoaccess to file\r\n" + name);
  EXPECT_EQ(page.dialogs.boxes[2].text, "File open Error\r\n" + name);
  EXPECT_EQ(page.dialogs.boxes[3].text,
            "File creating Error\r\n" + folder.path + "/missing/h.csv\r\n");
  EXPECT_EQ(Contents(name), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(U8(folder.path)), fs::directory_iterator()), 1);

  page.language.Set(Lang::Russian);
  page.controller.FileHook = [](FileStep step) { return step != FileStep::Write; };
  EXPECT_FALSE(page.controller.SaveCsv(name));
  EXPECT_EQ(page.dialogs.boxes.back().text, "Ошибка записи файла\r\n" + name);
}

#ifndef _WIN32
TEST(HistoryCsvSave, AFolderWithoutWritePermissionKeepsTheOldFile) {
  Page page;
  page.Load({}, Time(2024, 1, 1));
  page.controller.Csv.CsvText = "new";
  std::string name;
  Folder folder;
  if (::geteuid() == 0) {
    name = "/proc/version";  // the superuser passes permissions; a read-only file system stops it
  } else {
    name = folder.path + "/h.csv";
    std::ofstream(name) << "old";
    fs::permissions(folder.path, fs::perms::owner_read | fs::perms::owner_exec);
  }
  const std::string before = Contents(name);
  EXPECT_FALSE(page.controller.SaveCsv(name));
  EXPECT_EQ(Contents(name), before);
  ASSERT_EQ(page.dialogs.boxes.size(), 1u);
  EXPECT_EQ(page.dialogs.boxes[0].text, "File open Error\r\n" + name);
}
#endif

}  // namespace
}  // namespace dravion
