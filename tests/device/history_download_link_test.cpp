#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "device/device_link_harness.h"
#include "device/device_time.h"
#include "device/history_controller.h"
#include "device/history_fakes.h"
#include "device/history_records.h"
#include "device/parameters.h"
#include "protocol/device_records.h"
#include "support/wait_counters.h"

namespace dravion {
namespace {

using device_test::DeviceLinkHarness;
using device_test::RecordingHistoryView;

constexpr uint16_t kFlashRead = 0x0202;  // CommandKey of the external-flash read

// The history page's controller on the emulated device, connected and identified.
struct History {
  explicit History(const std::function<void(sim::DeviceConfig&)>& adjust = {}, uint32_t scale = 8)
      : link(adjust, scale) {
    connected = link.Connect();
  }
  int Reads() const { return link.device->GetCounters().requests.at(kFlashRead); }
  int Count(uint32_t command) const {
    int n = 0;
    for (const std::string& line : link.log.lines)
      if (line.starts_with("Write PAR[0xFF00(65280)] : 0x" + Hex(command))) ++n;
    return n;
  }
  static std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", v);
    return text;
  }
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const auto& box : link.dialogs.boxes)
      texts.push_back(box.text);
    return texts;
  }

  DeviceLinkHarness link;
  bool connected = false;
  RecordingHistoryView view;
  HistoryController controller{link.context, view};
};

// Records the emulator holds, 16 bytes each, oldest first.
std::vector<uint8_t> Records(const std::vector<test::StoredRecord>& records) {
  std::vector<uint8_t> bytes(records.size() * 16);
  for (size_t i = 0; i < records.size(); ++i)
    test::PutRecord(bytes.data() + 16 * i, records[i]);
  return bytes;
}

// The sped-up test clock does not turn a slow answer into a lost one: a 240-byte read paced at
// 4800 baud takes about 540 ms of line time, six times the scaled 700 ms wait, and is still
// taken at the first send; a dropped answer is sent again after the scaled wait.
TEST(HistoryDownload, ASlowAnswerOnItsWayIsWaitedForADroppedOneIsSentAgain) {
  DeviceLinkHarness h([](sim::DeviceConfig& c) { c.baud = 4800; });
  ASSERT_TRUE(h.Connect());
  h.core.manager.LinkWatch = false;
  uint8_t bytes[240];
  const int before = h.device->GetCounters().requests[kFlashRead];
  EXPECT_EQ(h.commands.ReadExternalFlash(0x1000, bytes, 240, false), 240);
  EXPECT_EQ(h.device->GetCounters().requests[kFlashRead], before + 1);
  EXPECT_EQ(h.stack.dataFlash.RepeatCount, 0);

  h.device->SetFaults({.dropEvery = 1});
  EXPECT_EQ(h.commands.ReadExternalFlash(0x1000, bytes, 16, false), -1);
  // Three sends. The last one's answer was dropped: the emulator may count it after the wait.
  EXPECT_TRUE(test::WaitCounters(*h.device, [&](const sim::Counters& c) {
    return c.requests.at(kFlashRead) >= before + 4 && c.dropped >= 3;
  })) << h.device->GetCounters().requests[kFlashRead];
  EXPECT_EQ(h.device->GetCounters().dropped, 3);
  EXPECT_EQ(h.device->GetCounters().requests[kFlashRead], before + 4);
}

TEST(HistoryDownload, AFullRingIsReadCompletelyInPairsAndGivesTheChart) {
  // On real time: the answer waits are the manager's own, so a busy machine causes no resends.
  History h(
      [](sim::DeviceConfig& c) {
        c.historyWrap = true;
        c.historyStart = 0x0500;
        c.historySize = 65200;
      },
      1);
  ASSERT_TRUE(h.connected);
  const auto ring = h.link.device->History();
  int before = 0;
  {
    const auto counters = h.link.device->GetCounters();
    if (counters.requests.count(kFlashRead)) before = counters.requests.at(kFlashRead);
  }
  const auto started = std::chrono::steady_clock::now();
  h.controller.OnReadClicked();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  RecordProperty("seconds", std::to_string(seconds));
  EXPECT_TRUE(h.link.dialogs.boxes.empty()) << h.BoxTexts().front();
  ASSERT_TRUE(h.controller.Ring.Loaded);
  EXPECT_EQ(h.controller.Ring.FlashReads, 32640);
  EXPECT_EQ(h.Reads() - before, 32640);
  EXPECT_EQ(h.view.progressMaximum, 255);
  EXPECT_EQ(h.view.progress, 0);
  EXPECT_EQ(h.view.readingChanges, (std::vector<bool>{true, false}));
  EXPECT_TRUE(h.view.navigationEnabled);
  EXPECT_TRUE(h.view.deleteEnabled);
  EXPECT_TRUE(h.view.saveEnabled);
  EXPECT_EQ(h.Count(HistoryReadStart), 1);
  EXPECT_EQ(h.Count(HistoryReadEnd), 1);
  EXPECT_EQ(h.link.device->Parameter(0xC023), 0u);  // the device left its reading state
  EXPECT_TRUE(h.link.core.manager.LinkWatch);
  EXPECT_EQ(h.controller.HistoryCoefficient, 127u);

  // The copy is the device's flash, byte for byte, over the whole ring.
  const std::vector<uint8_t> flash = h.link.device->ReadExternalFlash(kHistoryBase, 65280 * 16);
  for (uint32_t p = 0; p < 65280; p += 97)
    ASSERT_EQ(0, std::memcmp(h.controller.Ring.RecordBytes(p), flash.data() + 16 * p, 16)) << p;
  EXPECT_EQ(h.controller.Ring.Ring.RecordCount, ring.count);

  // The CSV text, against the flash itself: one line for every record outside position 0 of its
  // sector with kind 0xFE or 0xFC and status 0, the newest (the latest start) first.
  uint32_t usable = 0, newest = 0;
  for (uint32_t p = 0; p < 65280; ++p) {
    const uint8_t* r = flash.data() + 16 * p;
    if (p % 256 == 0 || (r[0] != 0xFE && r[0] != 0xFC) || r[1] != 0) continue;
    ++usable;
    newest = std::max(newest, static_cast<uint32_t>(r[4] | r[5] << 8 | r[6] << 16 | r[7] << 24));
  }
  const std::string& csv = h.controller.Csv.CsvText;
  EXPECT_GT(usable, 50000u);
  EXPECT_EQ(static_cast<uint32_t>(std::count(csv.begin(), csv.end(), '\n')), usable);
  EXPECT_EQ(h.controller.Csv.CsvLineCount, usable);
  EXPECT_TRUE(csv.starts_with(std::to_string(newest) + ";"));
  EXPECT_NE(csv.find("=E" + std::to_string(usable) + "*G"), std::string::npos);

  // The chart shows the minute of the device time, whose bars hold the newest records.
  ASSERT_EQ(h.view.chart.Title.size(), 2u);
  EXPECT_TRUE(h.view.chart.Title[0].starts_with("History for Minute : "));
  EXPECT_EQ(h.view.chart.Title[1], "uR/h  K = 1.27");
  EXPECT_EQ(h.view.chart.Rate.size(), 6u);
}

TEST(HistoryDownload, RingsOfEveryShapeAreReadFromTheirNewestSector) {
  struct Shape {
    uint32_t first, size;
    int sectors;
  } shapes[] = {
      {0, 500, 2},       // from the start
      {64768, 2000, 8},  // across the physical end without being full
      {0, 0, 1},         // empty
  };
  for (const Shape& shape : shapes) {
    History h([&](sim::DeviceConfig& c) {
      c.historyStart = shape.first;
      c.historySize = shape.size;
    });
    ASSERT_TRUE(h.connected);
    const int before = h.link.device->GetCounters().requests.count(kFlashRead) ? h.Reads() : 0;
    EXPECT_TRUE(h.controller.DownloadHistory());
    EXPECT_TRUE(h.link.dialogs.boxes.empty()) << shape.first;
    EXPECT_TRUE(h.controller.Ring.Loaded) << shape.first;
    EXPECT_EQ(h.Reads() - before, shape.sectors * 128) << shape.first;
    EXPECT_EQ(h.view.progressMaximum, shape.sectors);
    const std::vector<uint8_t> flash = h.link.device->ReadExternalFlash(kHistoryBase, 65280 * 16);
    for (uint32_t l = 0; l < shape.size; ++l) {
      const uint32_t p = (shape.first + l) % 65280;
      ASSERT_EQ(0, std::memcmp(h.controller.Ring.RecordBytes(p), flash.data() + 16 * p, 16));
    }
    EXPECT_EQ(h.Count(HistoryReadEnd), 1);
  }
}

TEST(HistoryDownload, AFullNewestSectorIsReadAndShortAnswersFailTheDownload) {
  // 512 records from slot 0: sectors 1 and 0, both full.
  History h([](sim::DeviceConfig& c) { c.historySize = 512; });
  ASSERT_TRUE(h.connected);
  h.controller.OnReadClicked();
  EXPECT_TRUE(h.link.dialogs.boxes.empty()) << h.BoxTexts().front();
  EXPECT_TRUE(h.controller.Ring.Loaded);
  EXPECT_EQ(h.view.progressMaximum, 2);

  // Every record read now comes back 8 bytes short: the download fails at the first one, the
  // device is released, and nothing reaches the chart or the CSV text.
  sim::Faults faults;
  faults.wrongLengthCommand = kFlashRead;
  faults.wrongLengthDelta = -8;
  h.link.device->SetFaults(faults);
  const int reads = h.Reads();
  h.controller.OnReadClicked();
  EXPECT_EQ(h.BoxTexts(), (std::vector<std::string>{"Error of History reading"}));
  EXPECT_EQ(h.Reads(), reads + 1);
  EXPECT_FALSE(h.controller.Ring.Loaded);
  EXPECT_EQ(h.Count(HistoryReadEnd), 2);
  EXPECT_EQ(h.link.device->Parameter(0xC023), 0u);
  EXPECT_TRUE(h.controller.Csv.CsvText.empty());
  EXPECT_EQ(h.view.chart.Title, (std::vector<std::string>{"Waiting of reading History"}));
  h.link.dialogs.boxes.clear();
  h.controller.OnSaveCsvClicked();
  EXPECT_EQ(h.BoxTexts(), (std::vector<std::string>{"First read History from Device"}));
}

TEST(HistoryDownload, ExactRecordsGiveExactCsvLines) {
  std::vector<test::StoredRecord> records(300);
  for (uint32_t i = 0; i < 300; ++i)
    records[i] = {131371200 + 60 * i, 1000 + i, 60};
  records[0].kind = 0x01;     // a sector header at position 0
  records[299].status = 1;    // the newest is flagged
  records[298].duration = 0;  // no duration
  records[298].kind = kKindOnChange;
  History h([&](sim::DeviceConfig& c) {
    c.historyStart = 0;
    c.historyRecords = Records(records);
  });
  ASSERT_TRUE(h.connected);
  ASSERT_TRUE(h.controller.DownloadHistory());
  const std::string& text = h.controller.Csv.CsvText;
  const std::string first =
      "131389080;29.02.2004;16:58:00;0;1298;2;127;36;86;0\r\n"
      "131389020;29.02.2004;16:57:00;60;1297;2;127;36;86;=E2*G2*H2/(D2*F2*I2)\r\n";
  EXPECT_TRUE(text.starts_with(first)) << text.substr(0, 200);
  EXPECT_TRUE(text.ends_with(
      "131371260;29.02.2004;12:01:00;60;1001;2;127;36;86;=E297*G297*H297/(D297*F297*I297)\r\n"));
  // Record 256 sits at position 0 of the second sector and gives no line.
  EXPECT_EQ(text.find("131386560;"), std::string::npos);
  EXPECT_EQ(h.controller.Csv.CsvLineCount, 297u);
}

// What the page says along the way: how far the download is, what it brought, and, when the
// view it opens on holds no records, so on the chart, with the way to the newest ones.
TEST(HistoryDownload, ItSaysHowFarItIsWhatItBroughtAndWhereTheNewestRecordsAre) {
  std::vector<test::StoredRecord> records(300);
  for (uint32_t i = 0; i < 300; ++i)
    records[i] = {131371200 + 60 * i, 1000 + i, 60};
  records[299].status = 1;  // the newest usable one is 298, at 16:58
  History h([&](sim::DeviceConfig& c) {
    c.historyStart = 0;
    c.historyRecords = Records(records);
  });
  ASSERT_TRUE(h.connected);
  h.controller.OnReadClicked();
  ASSERT_TRUE(h.controller.Ring.Loaded);
  const std::vector<std::string>& said = h.view.summaries;
  ASSERT_GE(said.size(), 5u);
  EXPECT_EQ(said[0], "");  // the last download's summary goes at the start
  EXPECT_EQ(said[1], "Read 0 of 300 records, 0 %");
  EXPECT_TRUE(said[2].starts_with("Read 256 of 300 records, 50 %, about ")) << said[2];
  EXPECT_TRUE(said[2].ends_with(" left")) << said[2];
  EXPECT_EQ(said[3], "Read 300 of 300 records, 100 %");
  EXPECT_EQ(said.back(), "300 records read, newest at 29.02.2004 16:58:00");

  // The device's clock is far past 2004: the minute it opens on is empty, and says so.
  EXPECT_FALSE(h.view.chart.AnyRecords);
  EXPECT_EQ(h.view.chart.Note,
            "No records in this minute. The newest record is from 29.02.2004 16:58:00.");
  EXPECT_TRUE(h.view.chart.NewestOffered);
  for (const ChartPoint& point : h.view.chart.Rate)
    EXPECT_TRUE(point.Mark);  // placeholders, never values

  // The way to the newest records: the same level, at the newest record's minute.
  h.controller.OnUpClicked();
  EXPECT_EQ(h.view.chart.Note,
            "No records in this hour. The newest record is from 29.02.2004 "
            "16:58:00.");
  h.controller.OnNewestClicked();
  EXPECT_TRUE(h.view.chart.AnyRecords);
  EXPECT_EQ(h.view.chart.Note, "");
  EXPECT_FALSE(h.view.chart.NewestOffered);
  EXPECT_EQ(h.view.chart.Title[0], "History for Hour : 29.02.2004-16");
  EXPECT_FALSE(h.view.chart.Rate[58].Mark);
  EXPECT_TRUE(h.view.chart.Rate[59].Mark);  // record 299 is flagged

  h.link.language.Set(Lang::Russian);
  h.controller.RefreshChart();
  EXPECT_EQ(h.view.summary, "300 записей прочитано, последняя от 29.02.2004 16:58:00");
  EXPECT_EQ(h.controller.ProgressText(1, 2, 4000),
            "Прочитано 256 из 300 записей, 50 %, осталось около 0:04");
}

// Unplugged in the middle of a download: one message that says so, no chain of protocol
// errors, and no command sent to a device that is gone.
TEST(HistoryDownload, AnUnplugEndsTheDownloadWithOneMessage) {
  History h([](sim::DeviceConfig& c) { c.historySize = 4000; });
  ASSERT_TRUE(h.connected);
  h.view.onProgress = [&](int position) {
    if (position == 2) h.link.device->Unplug();
  };
  h.controller.OnReadClicked();
  EXPECT_EQ(h.BoxTexts(), (std::vector<std::string>{
                              "The device was disconnected, the history download was cancelled."}));
  EXPECT_FALSE(h.controller.Ring.Loaded);
  EXPECT_EQ(h.Count(HistoryReadEnd), 0);
  EXPECT_FALSE(h.link.log.Has("# ERROR: \"Write PAR[65280] : 0xC0BA0011(3233415185)\""));
  EXPECT_FALSE(h.view.reading);
  EXPECT_EQ(h.view.summary, "");
  EXPECT_TRUE(h.link.core.manager.LinkWatch);
}

TEST(HistoryDownload, AWrongGeometryIsAFormatErrorWithNothingReadAndTheDeviceReleased) {
  History h([](sim::DeviceConfig& c) { c.historySectorSize = 2048; });
  ASSERT_TRUE(h.connected);
  h.controller.OnReadClicked();
  EXPECT_EQ(h.BoxTexts(), (std::vector<std::string>{"Error of History Format Data"}));
  EXPECT_FALSE(h.link.device->GetCounters().requests.count(kFlashRead));
  EXPECT_FALSE(h.controller.Ring.Loaded);
  EXPECT_FALSE(h.view.navigationEnabled);
  EXPECT_EQ(h.view.chart.Title, (std::vector<std::string>{"Waiting of reading History"}));
  EXPECT_EQ(h.Count(HistoryReadEnd), 1);
  EXPECT_EQ(h.link.device->Parameter(0xC023), 0u);
  EXPECT_TRUE(h.link.core.manager.LinkWatch);
}

TEST(HistoryDownload, CancelStopsAfterTheCurrentSectorWithAWarningAndNoChart) {
  History h([](sim::DeviceConfig& c) { c.historySize = 4000; });
  ASSERT_TRUE(h.connected);
  // The user presses Cancel while the second sector is being read.
  h.view.onProgress = [&](int position) {
    if (position == 1 && h.controller.HistoryReading) h.controller.OnReadClicked();
  };
  h.controller.OnReadClicked();
  EXPECT_EQ(h.BoxTexts(), (std::vector<std::string>{"Reading of History canceled"}));
  EXPECT_EQ(h.link.dialogs.boxes[0].kind, BoxKind::Warning);
  EXPECT_EQ(h.Reads(), 2 * 128);
  EXPECT_FALSE(h.controller.Ring.Loaded);
  EXPECT_FALSE(h.view.navigationEnabled);
  EXPECT_EQ(h.view.charts, 1);  // only the waiting title
  EXPECT_EQ(h.Count(HistoryReadEnd), 1);
  EXPECT_EQ(h.view.progress, 0);
  EXPECT_FALSE(h.view.reading);
  // The chart and the CSV save refuse until a complete download.
  h.controller.OnBackClicked();
  EXPECT_EQ(h.view.charts, 1);
}

TEST(HistoryDownload, ADeviceFallingSilentEndsWithTheErrorAndAnAttemptToRelease) {
  History h([](sim::DeviceConfig& c) { c.historySize = 4000; });
  ASSERT_TRUE(h.connected);
  h.view.onProgress = [&](int position) {
    if (position == 2) {
      sim::Faults faults;
      faults.silentAfter = 1;
      h.link.device->SetFaults(faults);
    }
  };
  h.controller.OnReadClicked();
  const std::vector<std::string> boxes = h.BoxTexts();
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes.back(), "Error of History reading");
  EXPECT_FALSE(h.controller.Ring.Loaded);
  EXPECT_FALSE(h.view.navigationEnabled);
  // The end command was sent (and failed, with its own box).
  EXPECT_TRUE(h.link.log.Has("# ERROR: \"Write PAR[65280] : 0xC0BA0011(3233415185)\""));
  EXPECT_EQ(h.view.progress, 0);
  EXPECT_FALSE(h.view.reading);
  EXPECT_TRUE(h.link.core.manager.LinkWatch);
}

// Every answer to the start is lost while the device takes it: the download and the delete fail,
// and the device is released all the same (one box for the lost answers, not two).
TEST(HistoryDownload, AStartWhoseAnswersAreAllLostIsEndedToo) {
  History h([](sim::DeviceConfig& c) { c.historySize = 500; });
  ASSERT_TRUE(h.connected);
  h.link.device->SetFaults({.dropEvery = 1});
  h.controller.OnReadClicked();
  EXPECT_EQ(h.BoxTexts(),
            (std::vector<std::string>{"No answer - Parameter WRITE", "Error of History reading"}));
  EXPECT_TRUE(h.link.log.Has("# ERROR: \"Write PAR[65280] : 0xC0BA0011(3233415185)\""));
  EXPECT_EQ(h.link.device->Parameter(0xC023), 0u);
  EXPECT_FALSE(h.link.device->GetCounters().requests.count(kFlashRead));

  h.link.dialogs.boxes.clear();
  h.link.dialogs.answers = {true};
  const uint32_t records = h.link.device->Parameter(0xC021) & 0xFFFF;
  h.controller.OnDeleteClicked();
  EXPECT_EQ(h.BoxTexts(),
            (std::vector<std::string>{"No answer - Parameter WRITE", "Error of History deleting"}));
  EXPECT_EQ(h.link.device->Parameter(0xC023), 0u);
  EXPECT_EQ(h.link.device->Parameter(0xC021) & 0xFFFF, records);  // nothing deleted
  h.link.device->SetFaults({});
  EXPECT_TRUE(h.link.core.manager.LinkWatch);
}

TEST(HistoryDownload, EveryTenthAnswerLostStillCompletes) {
  // Two sectors, about 25 answers lost. The resends wait 700 ms of manager time each: the clock
  // runs only four times faster, so that a busy machine still answers within an attempt.
  History h([](sim::DeviceConfig& c) { c.historySize = 500; }, 4);
  ASSERT_TRUE(h.connected);
  sim::Faults faults;
  faults.dropEvery = 10;
  h.link.device->SetFaults(faults);
  h.controller.OnReadClicked();
  EXPECT_TRUE(h.link.dialogs.boxes.empty()) << h.BoxTexts().front();
  EXPECT_TRUE(h.controller.Ring.Loaded);
  EXPECT_GT(h.link.device->GetCounters().dropped, 15);
  const std::vector<uint8_t> flash = h.link.device->ReadExternalFlash(kHistoryBase, 500 * 16);
  EXPECT_EQ(0, std::memcmp(h.controller.Ring.RecordBytes(0), flash.data(), flash.size()));
}

TEST(HistoryDownload, AccessIsRefusedInTheBootLoaderAndForOldFirmware) {
  for (uint16_t main : {uint16_t{0x0C05}, uint16_t{0}}) {
    History h([&](sim::DeviceConfig& c) {
      if (main == 0)
        c.startInBoot = true;
      else
        c.mainVersion = main;
    });
    ASSERT_TRUE(h.connected);
    h.controller.OnReadClicked();
    EXPECT_EQ(h.BoxTexts(), (std::vector<std::string>{"Error of History reading"}));
    EXPECT_EQ(h.view.message,
              main == 0 ? "In BOOT\n\rMode is\n\rUnavailable" : "Need\n\rto Update\n\rFirmware");
    EXPECT_EQ(h.Count(HistoryReadStart), 0);
    EXPECT_EQ(h.Count(HistoryReadEnd), 0);
  }
}

TEST(HistoryDownload, DeleteAsksThenEmptiesTheRingAndKeepsTheCopy) {
  History h([](sim::DeviceConfig& c) { c.historySize = 600; });
  ASSERT_TRUE(h.connected);
  ASSERT_TRUE(h.controller.DownloadHistory());
  h.link.dialogs.answers = {false};
  h.controller.OnDeleteClicked();
  EXPECT_EQ(h.link.device->History().count, 600u);
  h.link.dialogs.answers = {true};
  h.view.navigationEnabled = true;
  h.controller.OnDeleteClicked();
  ASSERT_EQ(h.link.dialogs.questions.size(), 2u);
  EXPECT_EQ(h.link.dialogs.questions[1], "History in Device will be deleted!\r\nContinue");
  // Asked as a warning: No is the default answer of what cannot be undone.
  EXPECT_EQ(h.link.dialogs.questionKinds[1], QuestionKind::Warning);
  EXPECT_EQ(h.link.device->History().count, 0u);
  EXPECT_EQ(h.link.device->Parameter(0xC023), 0u);
  EXPECT_EQ(h.link.frame.pages, (std::vector<bool>{false, true}));
  // Said, and the erased records leave the chart; their CSV text can still be saved.
  EXPECT_EQ(h.BoxTexts(), (std::vector<std::string>{"The history in the device was deleted."}));
  EXPECT_EQ(h.view.chart.Note, "The history in the device was deleted.");
  EXPECT_TRUE(h.view.chart.Rate.empty());
  EXPECT_FALSE(h.view.navigationEnabled);
  const int charts = h.view.charts;
  h.controller.OnBackClicked();
  h.controller.OnNewestClicked();
  EXPECT_EQ(h.view.charts, charts);
  EXPECT_TRUE(h.controller.Ring.Loaded);
  h.view.saveName = h.link.folder.path() + "/kept.csv";
  h.controller.OnSaveCsvClicked();
  EXPECT_EQ(h.link.dialogs.boxes.size(), 1u);  // saved, no error

  // Without a device: one plain sentence, and nothing is asked.
  h.link.core.manager.Connected = false;
  h.controller.OnDeleteClicked();
  EXPECT_EQ(h.link.dialogs.questions.size(), 2u);
  EXPECT_EQ(h.BoxTexts().back(), NoDeviceText(h.link.language));
}

}  // namespace
}  // namespace dravion
