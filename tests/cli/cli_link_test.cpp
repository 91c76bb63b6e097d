#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "cli/cli_options.h"
#include "cli_harness.h"
#include "serial/serial_port.h"

namespace dravion::cli_test {
namespace {

std::string FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(CliLink, PortsListsEveryPortAndWhatAnswers) {
  CliBench bench;
  bench.folder.Add("COM3", "/dev/null");
  const CliResult r = bench.Run({"ports"});
  EXPECT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_EQ(r.out, "COM3\nCOM7  Dravion ZAV-740.41.3  S/N 214-36587\n");
  // The port is given back: another program (the next run) can open it.
  const CliResult json = bench.Run({"--json", "ports"});
  EXPECT_EQ(json.status, cli::kExitDone) << json.err;
  const auto ports = nlohmann::json::parse(json.out);
  ASSERT_EQ(ports.size(), 2u) << json.out;
  EXPECT_EQ(ports[0], (nlohmann::json{{"port", 3}, {"answers", false}}));
  EXPECT_EQ(ports[1]["port"], 7);
  EXPECT_EQ(ports[1]["answers"], true);
  EXPECT_EQ(ports[1]["device"], "Dravion ZAV-740.41.3");
  EXPECT_EQ(ports[1]["serial"], "214-36587");
  EXPECT_EQ(ports[1]["program"], "main");

  // A device in its boot loader says so; an unsupported one is named by the status line.
  ASSERT_EQ(bench.Run({"restart", "boot"}).status, cli::kExitDone);
  EXPECT_EQ(bench.Run({"ports"}).out,
            "COM3\nCOM7  Dravion ZAV-740.41.3  S/N 214-36587  boot loader\n");
}

TEST(CliLink, NoDeviceIsStatusThreeAndBadUsageTwoWithoutTraffic) {
  CliBench bench({}, false);
  bench.folder.Add("COM3", "/dev/null");
  CliResult r = bench.Run({"ports"});
  EXPECT_EQ(r.status, cli::kExitNoDevice);
  EXPECT_EQ(r.out, "COM3\n");

  bench.device->Plug();
  r = bench.Run({"--port", "5", "--lang", "ru", "restart", "main"});
  EXPECT_EQ(r.status, cli::kExitNoDevice);
  // The port that would not open says why.
  EXPECT_EQ(r.err,
            "Прибор не найден (COM 5)\nCOM 5: нет устройства по адресу /dev/ttyS4. Проверьте, что "
            "прибор подключён и включён.\n");
  {
    // The device's port held by another program (here another port object of this process).
    struct Holder : SerialPort {
      ~Holder() override { Close(); }
      void OnReceive(int) override {}
    } holder;
    holder.PortNumber = 7;
    ASSERT_TRUE(holder.Open(230400));
    r = bench.Run({"--port", "7", "info"});
    EXPECT_EQ(r.status, cli::kExitNoDevice);
    EXPECT_NE(r.err.find("No device found (COM 7)\nCOM 7: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("is in use by "), std::string::npos) << r.err;
  }

  r = bench.Run({"--port", "7", "settings", "frobnicate"});
  EXPECT_EQ(r.status, cli::kExitUsage);
  EXPECT_EQ(r.err,
            "dravion-cli: unknown command: settings frobnicate\n"
            "Try 'dravion-cli --help' for more information.\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(bench.device->GetCounters().totalRequests, 0);

  r = bench.Run({"--help"});
  EXPECT_EQ(r.status, cli::kExitDone);
  EXPECT_EQ(r.out, cli::UsageText());
  r = bench.Run({"--version"});
  EXPECT_EQ(r.status, cli::kExitDone);
  EXPECT_TRUE(r.out.starts_with("dravion-cli 1.")) << r.out;
}

TEST(CliLink, LogFileIsTheRunsLogInWindows1251WithLineFeeds) {
  CliBench bench;
  const auto path = std::filesystem::path(bench.folder.path()) / "run log.txt";
  {
    std::ofstream old(path);
    old << std::string(5000, 'x');
  }
  const CliResult r = bench.Run({"--log", path.string(), "-v", "ports"});
  EXPECT_EQ(r.status, cli::kExitDone);
  const std::string bytes = FileBytes(path);
  EXPECT_EQ(bytes.find('x'), std::string::npos);
  EXPECT_EQ(bytes.find('\r'), std::string::npos);
  EXPECT_EQ(bytes.rfind("##########################################\n# START: ", 0), 0u);
  EXPECT_NE(bytes.find("\nOpen COM 7 : OK\n"), std::string::npos);
  EXPECT_NE(bytes.find("\n# END: "), std::string::npos);
  EXPECT_EQ(bytes.back(), '\n');
  // -v: the same lines on stderr.
  EXPECT_NE(r.err.find("Open COM 7 : OK\n"), std::string::npos);

  const CliResult failed = bench.Run(
      {"--log", (std::filesystem::path(bench.folder.path()) / "no" / "log.txt").string(), "ports"});
  EXPECT_EQ(failed.status, cli::kExitFailed);
  EXPECT_NE(failed.err.find("Could not write the log"), std::string::npos);
}

TEST(CliLink, InfoPrintsTheDeviceInformationLinesOrJson) {
  sim::DeviceConfig config;
  config.mainVersion = 0x0C05;
  CliBench bench(config);
  CliResult r = bench.Run({"info"});
  EXPECT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_EQ(r.out,
            "Connected Device Information\n"
            "Device: Dravion ZAV-740.41.3\n"
            "S/N: 214-36587\n"
            "------------------------------\n"
            "SW BOOT: 4.16\n"
            "SW MAIN: 1.20.12.5\n"
            "------------------------------\n"
            "Upgrade to Version 1.20.12.6\n"
            "is available\n");

  r = bench.Run({"--json", "--port", "7", "info"});
  EXPECT_EQ(r.status, cli::kExitDone) << r.err;
  const auto info = nlohmann::json::parse(r.out);
  EXPECT_EQ(info["port"], 7);
  EXPECT_EQ(info["device"], "Dravion ZAV-740.41.3");
  EXPECT_EQ(info["serial"], "214-36587");
  EXPECT_EQ(info["boot"], "4.16");
  EXPECT_EQ(info["main"], "12.5");
  EXPECT_EQ(info["program"], "main");
  ASSERT_EQ(info["lines"].size(), 9u);
  EXPECT_EQ(info["lines"][0], "Connected Device Information");
  EXPECT_EQ(r.out.back(), '\n');
}

TEST(CliLink, AnUnsupportedDeviceIsRefusedWithTheStatusLine) {
  sim::DeviceConfig config;
  config.chipCode = 7;
  CliBench bench(config);
  const CliResult r = bench.Run({"info"});
  EXPECT_EQ(r.status, cli::kExitFailed);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("Unknown Device [", 0), 0u) << r.err;
  // `ports` names what answers there.
  EXPECT_EQ(bench.Run({"ports"}).out.rfind("COM7  Unknown Device [", 0), 0u);
}

TEST(CliLink, RestartsIntoEitherProgramAndWaitsForTheDevice) {
  CliBench bench;
  CliResult r = bench.Run({"--port", "7", "restart", "boot"});
  EXPECT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_TRUE(bench.device->InBootLoader());
  // Found by the search this time, in its boot loader, and brought back.
  r = bench.Run({"restart", "main"});
  EXPECT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_FALSE(bench.device->InBootLoader());
  EXPECT_EQ(bench.device->GetCounters().restarts, 2);
}

TEST(CliLink, ARefusingOrSilentDeviceEndsWithStatusOneAndAMessage) {
  CliBench bench;
  const uint16_t reset = sim::CommandKey(1, 0x05);
  sim::Faults faults;
  faults.refuseCommand = reset;
  bench.device->SetFaults(faults);
  CliResult r = bench.Run({"--port", "7", "restart", "main"});
  EXPECT_EQ(r.status, cli::kExitFailed);
  EXPECT_EQ(r.err, "Error restarting Device\n");
  EXPECT_EQ(bench.device->GetCounters().restarts, 0);

  // The same run answered up to the restart command, then silence.
  const sim::Counters first = bench.device->GetCounters();
  // (Less the one link test that followed the unanswered restart command.)
  const int connecting = first.totalRequests - first.requests.at(reset) - 1;
  faults = {};
  faults.silentAfter = first.totalRequests + connecting;
  bench.device->SetFaults(faults);
  r = bench.Run({"--port", "7", "--lang", "ru", "restart", "boot"});
  EXPECT_EQ(r.status, cli::kExitFailed);
  EXPECT_EQ(r.err, "Ошибка перезагрузки прибора\n");
  EXPECT_GT(bench.device->GetCounters().silenced, 0);
  EXPECT_FALSE(bench.device->InBootLoader());
}

}  // namespace
}  // namespace dravion::cli_test
