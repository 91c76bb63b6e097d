#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <regex>

#include "cli/cli_options.h"
#include "cli_harness.h"
#include "device/device_time.h"
#include "services/clock.h"

namespace dravion::cli_test {
namespace {

const std::string kFactorySettingsText =
    "language=0  Russian\n"
    "units=0  Sievert\n"
    "background-threshold=8  1,2 uSv/h\n"
    "dose-threshold=14  100 Sv\n"
    "sound=0  on\n"
    "button-click=1  on\n"
    "sensor-click=1  on\n"
    "threshold-sound=1  on\n"
    "brightness=1  2\n"
    "display-off=3  3 minutes\n"
    "device-off=10  10 minutes\n"
    "history-method=1  On Change\n"
    "alarm=0  off\n"
    "alarm-hour=0  0\n"
    "alarm-minute=0  0\n"
    "calibration=127  1,27\n";

TEST(CliSettingsLink, GetPrintsEverySettingAsStoredWithItsText) {
  CliBench bench;
  CliResult r = bench.Run({"settings", "get"});
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_EQ(r.out, kFactorySettingsText);
  EXPECT_EQ(bench.device->Requests(1, 0x0F), 0);  // nothing written

  r = bench.Run({"--json", "--lang", "ru", "settings", "get"});
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_EQ(r.out.rfind("{\"language\":{\"value\":0,\"text\":\"Русский\"},\"units\":", 0), 0u)
      << r.out;
  EXPECT_NE(r.out.find("\"sound\":{\"value\":0,\"text\":\"вкл\"}"), std::string::npos);
  const auto settings = nlohmann::json::parse(r.out);
  EXPECT_EQ(settings.size(), 16u);
  EXPECT_EQ(settings["calibration"],
            (nlohmann::json{{"value", 127}, {"text", "1,27"}, {"coefficient", 1.27}}));
  EXPECT_TRUE(settings["alarm-hour"]["value"].is_number_integer());
}

TEST(CliSettingsLink, SetWritesTheNamedSettingsAndKeepsTheOthers) {
  CliBench bench;
  CliResult r = bench.Run({"--yes", "settings", "set", "units=1", "sound=1", "brightness=3",
                           "alarm=1", "alarm-hour=7", "display-off=0", "calibration=150"});
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_EQ(bench.device->Parameter(9), 1u);
  EXPECT_EQ(bench.device->Parameter(3), 1u);  // sound off
  EXPECT_EQ(bench.device->Parameter(16), 3u);
  EXPECT_EQ(bench.device->Parameter(20), 1u);
  EXPECT_EQ(bench.device->Parameter(21), 7u);
  EXPECT_EQ(bench.device->Parameter(17), 0u);
  EXPECT_EQ(bench.device->Parameter(4), 150u);
  // Untouched ones were written back as read.
  EXPECT_EQ(bench.device->Parameter(7), 8u);
  EXPECT_EQ(bench.device->Parameter(18), 10u);
  // --yes also took the offered restart.
  EXPECT_EQ(bench.device->GetCounters().restarts, 1);
  EXPECT_NE(r.err.find("Settings successfully saved\nIt is reccomended Restart Device\nDo it Now?"),
            std::string::npos);

  r = bench.Run({"settings", "get"});
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_NE(r.out.find("units=1  Roentgen\n"), std::string::npos);
  EXPECT_NE(r.out.find("background-threshold=8  120 uR/h\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("sound=1  off\n"), std::string::npos);
  EXPECT_NE(r.out.find("display-off=0  Always ON\n"), std::string::npos);
  EXPECT_NE(r.out.find("alarm-hour=7  7\n"), std::string::npos);
  EXPECT_NE(r.out.find("calibration=150  1,50\n"), std::string::npos);

  // Back to the factory settings, the device language kept.
  bench.device->SetParameter(6, 2);
  r = bench.Run({"--yes", "settings", "default"});
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;
  r = bench.Run({"settings", "get"});
  std::string expected = kFactorySettingsText;
  expected.replace(0, expected.find('\n'), "language=2  Deutsch");
  // The page's Save leaves the calibration alone.
  expected.replace(expected.find("calibration=127  1,27"), 21, "calibration=150  1,50");
  EXPECT_EQ(r.out, expected);
}

TEST(CliSettingsLink, QuestionsWithoutTerminalOrYesRefuseAndChangeNothing) {
  CliBench bench;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"settings", "set", "units=2"},
        std::vector<std::string>{"settings", "default"}, std::vector<std::string>{"time", "sync"},
        std::vector<std::string>{"calibration", "set", "2,5"}}) {
    const CliResult r = bench.Run(args, "y\n");
    EXPECT_EQ(r.status, cli::kExitFailed) << args[0];
    EXPECT_NE(r.err.find("No terminal to answer on"), std::string::npos) << r.err;
  }
  EXPECT_EQ(bench.device->Requests(1, 0x0F), 0);  // no parameter written
  EXPECT_EQ(bench.device->Requests(1, 0x03), 0);  // no clock written
  EXPECT_EQ(bench.device->Parameter(9), 0u);
  EXPECT_EQ(bench.device->Parameter(4), 127u);

  // On a terminal: save yes, restart no.
  const CliResult r = bench.Run({"settings", "set", "history-method=0"}, "y\nn\n", true);
  EXPECT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_EQ(bench.device->Parameter(19), 0u);
  EXPECT_EQ(bench.device->GetCounters().restarts, 0);
}

TEST(CliSettingsLink, BadSettingsAreUsageErrorsBeforeAnyTraffic) {
  CliBench bench;
  for (const std::vector<std::string>& args : {
           std::vector<std::string>{"settings", "set", "volume=3"},
           std::vector<std::string>{"settings", "set", "units"},
           std::vector<std::string>{"settings", "set", "units=3"},
           std::vector<std::string>{"settings", "set", "alarm-minute=60"},
           std::vector<std::string>{"settings", "set", "sound=-1"},
           std::vector<std::string>{"settings", "set", "calibration=1000"},
           std::vector<std::string>{"calibration", "set", "1,234"},
           std::vector<std::string>{"calibration", "set", "x"},
       }) {
    const CliResult r = bench.Run(args);
    EXPECT_EQ(r.status, cli::kExitUsage) << args[2];
    // One line saying what is wrong, and where to read more.
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
    EXPECT_TRUE(r.err.ends_with("\nTry 'dravion-cli --help' for more information.\n")) << r.err;
  }
  EXPECT_EQ(bench.device->GetCounters().totalRequests, 0);
}

TEST(CliSettingsLink, TimeSyncAndCalibrationSet) {
  CliBench bench;
  CliResult r = bench.Run({"--yes", "time", "sync"});
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_EQ(bench.device->Requests(1, 0x0B), 1);
  // The device runs on the computer's local time now.
  const uint32_t pc = SecondsFromTimeRecord(TimeRecordFromClock(SystemClock().Now()));
  EXPECT_LE(std::abs(static_cast<int64_t>(bench.device->DeviceSeconds()) - pc), 3);
  // The clock read back is printed as the page shows it.
  EXPECT_TRUE(std::regex_match(r.out, std::regex(R"(\[\d\d\.\d\d\.20\d\d\]-\[\d\d:\d\d:\d\d\]\n)")))
      << r.out;
  EXPECT_NE(r.err.find("Time written to Device\n" + r.out), std::string::npos) << r.err;

  r = bench.Run({"--yes", "calibration", "set", "1.5"});
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_EQ(bench.device->Parameter(4), 150u);
  // Out of the device's range: the page's message, nothing written.
  r = bench.Run({"--yes", "calibration", "set", "12"});
  EXPECT_EQ(r.status, cli::kExitFailed);
  EXPECT_NE(r.err.find("Error: K is to be from 0,1 to 9,99 [12]"), std::string::npos);
  EXPECT_EQ(bench.device->Parameter(4), 150u);
}

}  // namespace
}  // namespace dravion::cli_test
