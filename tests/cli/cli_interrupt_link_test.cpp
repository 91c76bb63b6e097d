#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "cli/cli_options.h"
#include "cli/interrupt.h"
#include "cli_harness.h"
#include "signal_when.h"

namespace dravion::cli_test {
namespace {

std::string FileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(CliInterruptLink, CtrlCStopsADownloadBetweenSectorsAndKeepsTheOldCsv) {
  sim::DeviceConfig config;
  config.historySize = 20000;
  CliBench bench(config);
  const auto csv = std::filesystem::path(bench.folder.path()) / "history.csv";
  const auto log = std::filesystem::path(bench.folder.path()) / "run.log";
  std::ofstream(csv) << "the last download\n";
  cli::InterruptWatch watch;
  CliResult r;
  {
    SignalWhen ctrlC([&] { return bench.device->Requests(2, 0x02) > 200; }, SIGINT);
    r = bench.Run({"history", "download", "--csv", csv.string(), "--log", log.string()});
    ASSERT_TRUE(ctrlC.Sent());
  }
  EXPECT_EQ(r.status, 130) << r.err;
  EXPECT_NE(r.err.find("Reading of History canceled"), std::string::npos) << r.err;
  EXPECT_EQ(FileText(csv), "the last download\n");
  // Stopped long before the ring's 20,000 records, and the device left its reading state.
  EXPECT_LT(bench.device->Requests(2, 0x02), 20000 / 2);
  EXPECT_EQ(bench.device->Parameter(0xC023), 0u);
  const std::string lines = FileText(log);
  EXPECT_NE(lines.find("Read Device Information"), std::string::npos);
}

TEST(CliInterruptLink, TermDuringTheProgramWriteSaysWhereTheDeviceIsAndWritesTheLog) {
  CliBench bench;
  const auto log = std::filesystem::path(bench.folder.path()) / "update.log";
  CliResult r;
  {
    cli::InterruptWatch watch;
    SignalWhen term([&] { return bench.device->GetCounters().programWrites > 20; }, SIGTERM);
    r = bench.Run({"--yes", "firmware", "update", "--log", log.string()});
    ASSERT_TRUE(term.Sent());
  }
  EXPECT_EQ(r.status, 143) << r.err;
  // No retry question, no further steps: the device waits in its boot loader, half written.
  EXPECT_NE(r.err.find("step 2 of 5: the device is now in its boot loader"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("firmware update again restores it"), std::string::npos);
  EXPECT_EQ(r.err.find("Try again"), std::string::npos);
  EXPECT_EQ(r.err.find("Step 3 of 5"), std::string::npos);
  EXPECT_TRUE(bench.device->InBootLoader());
  EXPECT_FALSE(bench.device->ProgramImageComplete());
  const sim::Counters counters = bench.device->GetCounters();
  EXPECT_EQ(counters.restarts, 1);
  EXPECT_EQ(counters.answers, counters.totalRequests);  // the exchange under way was finished
  const std::string lines = FileText(log);
  EXPECT_NE(lines.find("Interrupted at 0x"), std::string::npos) << lines;
  EXPECT_NE(lines.find("Update interrupted at step 2"), std::string::npos);

  // Running the update again restores the device.
  r = bench.Run({"--yes", "firmware", "update"});
  EXPECT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_TRUE(bench.device->ProgramImageComplete());
}

}  // namespace
}  // namespace dravion::cli_test
