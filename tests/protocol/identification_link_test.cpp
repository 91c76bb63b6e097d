#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/commands.h"
#include "protocol/identification.h"
#include "services/log_sink.h"
#include "sim/link_harness.h"
#include "support/fakes.h"

namespace dravion {
namespace {

using Log = test::RecordingLog;

// Identification by the manager's command set over its real serial stack, against the emulator.
struct Identification {
  explicit Identification(sim::DeviceConfig config, const sim::Faults& faults = {}) : link(config) {
    link.device->SetFaults(faults);
  }
  bool Run() { return IdentifyDevice(record, commands, log); }

  test::SimLink link;
  DeviceCommands commands{*link.stack};
  DeviceInfo record;
  Log log;
};

const std::string kDevice = "# Device: Dravion ZAV-740.41.3";
std::string Error(const std::string& text) {
  return "# ERROR: \"" + text + "\"";
}

TEST(IdentifyOnEmulator, SupportedDeviceLogsItsWholeBlock) {
  Identification id{sim::DeviceConfig{}};
  ASSERT_TRUE(id.Run());
  EXPECT_EQ(id.log.lines, (std::vector<std::string>{
                              kDevice,
                              "# UID   : 30:00:45:00:0E:51:33:37:31:38:39:32",
                              "# S/N   : 214-36587",
                              "# (INF1) Board : ZAV-740.2",
                              "# (INF1) BoardY: (2:5)",
                              "# BOOT  : 4.16",
                              "# TQV8  : 12.6",
                          }));
  EXPECT_EQ(id.record.Valid, 1);
  EXPECT_EQ(id.record.Board, (BoardInfo{740, 41, 3}));
  EXPECT_EQ(id.record.Soft.MainVersion, 0x0C06);
  EXPECT_TRUE(id.link.dialogs.boxes.empty());
  // Each block read once: SoftInfo twice (start and end), 3 + 1 + 1 memory reads, the board.
  EXPECT_EQ(id.link.device->Requests(0x01, 0x01), 2);
  EXPECT_EQ(id.link.device->Requests(0x01, 0x02), 5);
  EXPECT_EQ(id.link.device->Requests(0x01, 0x0A), 1);

  // The caches stay filled: identifying again only re-reads INF_1, the UID and SoftInfo.
  ASSERT_TRUE(id.Run());
  EXPECT_EQ(id.link.device->Requests(0x01, 0x02), 7);
  EXPECT_EQ(id.link.device->Requests(0x01, 0x0A), 1);
}

TEST(IdentifyOnEmulator, BootLoaderAndNoisyLine) {
  sim::DeviceConfig boot;
  boot.startInBoot = true;
  Identification inBoot{boot};
  ASSERT_TRUE(inBoot.Run());
  EXPECT_EQ(inBoot.log.lines.back(), "# TQV8  : Device in BOOT mode");
  EXPECT_EQ(inBoot.record.Soft.MainVersion, 0);

  // Lost, corrupted and foreign frames cost resends, not the identification.
  sim::Faults noise;
  noise.dropEvery = 4;
  noise.corruptEvery = 5;
  noise.interleaveEvery = 2;
  Identification noisy{sim::DeviceConfig{}, noise};
  ASSERT_TRUE(noisy.Run());
  EXPECT_EQ(noisy.log.lines.size(), 7u);
  EXPECT_TRUE(noisy.link.dialogs.boxes.empty());
}

TEST(IdentifyOnEmulator, UnsupportedDevicesAreNamedThenRefused) {
  struct Case {
    const char* what;
    void (*setup)(sim::DeviceConfig&);
    std::vector<std::string> log;
  } cases[] = {
      {"another model",
       [](sim::DeviceConfig& c) { c.model = 644; },
       {"# Device: ZAV-644.41.3", Error("Wrong Device Type")}},
      {"revision 43",
       [](sim::DeviceConfig& c) { c.hardwareRevision = 43; },
       {"# Device: Dravion ZAV-740.43.3", Error("Wrong Device Type")}},
      {"boot loader 3.16",
       [](sim::DeviceConfig& c) { c.bootVersion = 0x0310; },
       {"# Device: ZAV-615", Error("Wrong Device Type")}},
      {"chip 5", [](sim::DeviceConfig& c) { c.chipCode = 5; }, {kDevice, Error("CPU MODEL:5")}},
  };
  for (const Case& k : cases) {
    sim::DeviceConfig config;
    k.setup(config);
    Identification id{config};
    EXPECT_FALSE(id.Run()) << k.what;
    EXPECT_EQ(id.log.lines, k.log) << k.what;
    EXPECT_EQ(id.record.Valid, 0) << k.what;
    EXPECT_TRUE(id.link.dialogs.boxes.empty()) << k.what;
  }
}

TEST(IdentifyOnEmulator, EachFailingReadEndsWithItsErrorLine) {
  // Requests in order: 1 SoftInfo, 2-4 device information, 5 board, 6 INF_1, 7 UID, 8 SoftInfo.
  const auto silentAfter = [](int n) {
    sim::Faults f;
    f.silentAfter = n;
    return f;
  };
  sim::Faults refuseSoft;
  refuseSoft.refuseCommand = sim::CommandKey(0x01, 0x01);
  sim::Faults longBoard;
  longBoard.wrongLengthCommand = sim::CommandKey(0x01, 0x0A);
  sim::Faults shortPiece;  // a memory piece one byte short fails the whole read
  shortPiece.wrongLengthCommand = sim::CommandKey(0x01, 0x02);
  shortPiece.wrongLengthDelta = -1;

  struct Case {
    const char* what;
    sim::Faults faults;
    std::vector<std::string> log;
    std::vector<std::string> boxes;
  } cases[] = {
      {"program information", refuseSoft, {Error("Read BoardCode")}, {}},
      {"device information", silentAfter(3), {Error("Read BoardCode")}, {}},
      {"short memory piece", shortPiece, {Error("Read BoardCode")}, {}},
      {"board information", longBoard, {Error("Read BoardCode")}, {}},
      {"INF_1", silentAfter(5), {kDevice, Error("Reading INF_1")}, {"No answer in Reading"}},
      {"UID", silentAfter(6), {kDevice, Error("Reading UID")}, {"No answer in Reading"}},
  };
  for (const Case& k : cases) {
    Identification id{sim::DeviceConfig{}, k.faults};
    EXPECT_FALSE(id.Run()) << k.what;
    EXPECT_EQ(id.log.lines, k.log) << k.what;
    EXPECT_EQ(id.record.Valid, 0) << k.what;
    std::vector<std::string> boxes;
    for (const auto& box : id.link.dialogs.boxes)
      boxes.push_back(box.text);
    EXPECT_EQ(boxes, k.boxes) << k.what;
  }

  // The closing program-information read: the identity block is logged, then the error.
  Identification id{sim::DeviceConfig{}, silentAfter(7)};
  EXPECT_FALSE(id.Run());
  ASSERT_EQ(id.log.lines.size(), 6u);
  EXPECT_EQ(id.log.lines[4], "# (INF1) BoardY: (2:5)");
  EXPECT_EQ(id.log.lines[5], Error("Read SoftInfo"));
  EXPECT_EQ(id.record.Valid, 0);
  EXPECT_EQ(id.record.Name, "Dravion ZAV-740.41.3");
  ASSERT_EQ(id.link.dialogs.boxes.size(), 1u);
  EXPECT_EQ(id.link.dialogs.boxes[0].text, "No answer in reading information about Programm");
}

}  // namespace
}  // namespace dravion
