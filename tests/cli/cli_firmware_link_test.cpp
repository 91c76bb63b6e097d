#include <gtest/gtest.h>

#include "cli/cli_options.h"
#include "cli_harness.h"

namespace dravion::cli_test {
namespace {

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++n;
  return n;
}

TEST(CliFirmwareLink, A12_5DeviceEndsIn12_6) {
  sim::DeviceConfig config;
  config.mainVersion = 0x0C05;
  CliBench bench(config);
  CliResult r = bench.Run({"--yes", "firmware", "update"});
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_EQ(bench.device->MainVersion(), 0x0C06);
  EXPECT_TRUE(bench.device->ProgramImageComplete());
  EXPECT_TRUE(bench.device->DataFlashIntact());
  EXPECT_EQ(bench.device->GetCounters().restarts, 3);
  EXPECT_NE(r.err.find("Congratulations\nYour Device successfully\nupdated\n"), std::string::npos)
      << r.err;

  // Found again, the new program and nothing more to offer.
  r = bench.Run({"info"});
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_NE(r.out.find("SW MAIN: 1.20.12.6\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Upgrade"), std::string::npos);
}

TEST(CliFirmwareLink, WithoutYesOrTerminalNothingIsWritten) {
  sim::DeviceConfig config;
  config.mainVersion = 0x0C05;
  CliBench bench(config);
  const CliResult r = bench.Run({"firmware", "update"});
  EXPECT_EQ(r.status, cli::kExitFailed);
  EXPECT_NE(r.err.find("to version 1.20.12.6\nThe update takes about two minutes.\nKeep the device "
                       "plugged in until it ends.\nContinue?\nNo terminal to answer on"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(bench.device->GetCounters().restarts, 0);
  EXPECT_TRUE(bench.device->FlashRequests().empty());
  EXPECT_EQ(bench.device->MainVersion(), 0x0C05);
}

TEST(CliFirmwareLink, RetriesAreCountedEvenWithYes) {
  CliBench bench;
  // Every restart into the boot loader comes back in the main program: step 1 fails.
  sim::Faults faults;
  faults.restartInto = 2;
  bench.device->SetFaults(faults);
  CliResult r = bench.Run({"--yes", "firmware", "update"});
  EXPECT_EQ(r.status, cli::kExitFailed);
  EXPECT_EQ(Count(r.err, "Try again? [no]"), 1u) << r.err;
  EXPECT_EQ(bench.device->GetCounters().restarts, 1);

  r = bench.Run({"--yes", "firmware", "update", "--retries", "2"});
  EXPECT_EQ(r.status, cli::kExitFailed);
  EXPECT_EQ(Count(r.err, "Try again? [yes]"), 2u) << r.err;
  EXPECT_EQ(Count(r.err, "Try again? [no]"), 1u) << r.err;
  EXPECT_EQ(bench.device->GetCounters().restarts, 1 + 3);
  EXPECT_TRUE(bench.device->FlashRequests().empty());
}

// The retries used up: the command says where the update left the device, as on Ctrl+C.
TEST(CliFirmwareLink, RetriesUsedUpSayWhereTheDeviceIsAndHowToRestoreIt) {
  sim::DeviceConfig config;
  config.mainVersion = 0x0C05;
  CliBench bench(config);
  sim::Faults faults;
  faults.unplugAfterRequests = 1000;
  faults.replugAfterMs = 300;
  bench.device->SetFaults(faults);
  const CliResult r = bench.Run({"--yes", "firmware", "update"});
  EXPECT_EQ(r.status, cli::kExitFailed);
  EXPECT_EQ(Count(r.err, "Try again? [no]"), 1u) << r.err;
  EXPECT_NE(r.err.find("Update not completed at step 2 of 5: the device is now in its boot loader "
                       "(BOOT).\nRunning the firmware update again restores it.\n"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(bench.device->InBootLoader());
}

TEST(CliFirmwareLink, ARetryWaitsUntilTheDeviceIsBackAndIdentified) {
  sim::DeviceConfig config;
  config.mainVersion = 0x0C05;
  CliBench bench(config);
  // The device drops off the port while its program flash is written, and comes back 2.5 s
  // later (10 s of manager time) in its boot loader.
  sim::Faults faults;
  faults.unplugAfterRequests = 1000;
  faults.replugAfterMs = 2500;
  bench.device->SetFaults(faults);
  const CliResult r = bench.Run({"--yes", "--verbose", "firmware", "update", "--retries", "1"});
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_EQ(Count(r.err, "Try again? [yes]"), 1u) << r.err;
  EXPECT_TRUE(bench.device->ProgramImageComplete());
  EXPECT_EQ(bench.device->MainVersion(), 0x0C06);
  // The second attempt restarted the device only after it was identified again.
  const size_t retry = r.err.find("Try again? [yes]");
  const size_t identified = r.err.find("# Read Device Information:", retry);
  const size_t restart = r.err.find("==> Device Reset to BOOT", retry);
  ASSERT_NE(identified, std::string::npos) << r.err;
  EXPECT_LT(identified, restart);
}

}  // namespace
}  // namespace dravion::cli_test
