#include <gtest/gtest.h>

#include <regex>

#include "cli/cli_options.h"
#include "cli_harness.h"

namespace dravion::cli_test {
namespace {

TEST(CliMeasureLink, ReadingsASecondApartAsTextOrJson) {
  CliBench bench;
  bench.device->SetBackground(0.25);
  // Slow answers: heartbeats run between the requests of each reading.
  sim::Faults slow;
  slow.delayMs = 30;
  bench.device->SetFaults(slow);
  CliResult r = bench.Run({"measure", "--count", "3"});
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;
  const std::regex line(R"(\d+,\d\d uSv/h  level \d+  dose \S+ \S+\n)");
  std::smatch m;
  std::string rest = r.out;
  int lines = 0;
  while (std::regex_search(rest, m, line) && m.position() == 0) {
    ++lines;
    rest = m.suffix();
  }
  EXPECT_EQ(lines, 3) << r.out;
  EXPECT_EQ(rest, "");

  r = bench.Run({"--json", "--lang", "ru", "measure"});
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_TRUE(std::regex_match(
      r.out, std::regex(R"(\{"rate":"\d+,\d\d","rateUnit":"мкЗв/ч","level":\d+,"dose":"[^"]+",)"
                        R"("doseUnit":"[^"]+"\}\n)")))
      << r.out;
}

TEST(CliMeasureLink, ADeviceInItsBootLoaderIsRefusedWithThePagesMessage) {
  sim::DeviceConfig config;
  config.startInBoot = true;
  CliBench bench(config);
  const CliResult r = bench.Run({"measure"});
  EXPECT_EQ(r.status, cli::kExitFailed);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "In BOOT\nMode is\nUnavaliable\n");
}

TEST(CliMeasureLink, DoseResetAsksAndTheHeartbeatSendsIt) {
  CliBench bench;
  CliResult r = bench.Run({"dose", "reset"});
  EXPECT_EQ(r.status, cli::kExitFailed);
  EXPECT_EQ(bench.device->GetCounters().requests.count(sim::CommandKey(1, 0x0F)), 0u);

  r = bench.Run({"--yes", "dose", "reset"});
  EXPECT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_NE(r.err.find("Accumulated Dose\nReseted\n"), std::string::npos) << r.err;
  EXPECT_EQ(bench.device->GetCounters().requests.at(sim::CommandKey(1, 0x0F)), 1);
}

}  // namespace
}  // namespace dravion::cli_test
