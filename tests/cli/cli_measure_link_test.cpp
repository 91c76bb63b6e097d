#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

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

  // JSON: one object a line, numbers as numbers, the dose's text beside its number, the time of
  // each reading in ISO 8601 with its offset.
  r = bench.Run({"--json", "--lang", "ru", "measure", "--count", "2"});
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;
  std::istringstream jsonLines(r.out);
  std::string text;
  int readings = 0;
  while (std::getline(jsonLines, text)) {
    ++readings;
    const auto reading = nlohmann::json::parse(text);
    EXPECT_TRUE(std::regex_match(reading["time"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")))
        << text;
    ASSERT_TRUE(reading["rate"].is_number_float()) << text;
    EXPECT_GT(reading["rate"].get<double>(), 0.0);
    EXPECT_LT(reading["rate"].get<double>(), 5.0);
    EXPECT_EQ(reading["rateUnit"], "мкЗв/ч");
    EXPECT_TRUE(reading["level"].is_number_integer());
    ASSERT_TRUE(reading["dose"].is_string()) << text;
    ASSERT_TRUE(reading["doseValue"].is_number()) << text;
    std::string dose = reading["dose"];
    std::replace(dose.begin(), dose.end(), ',', '.');
    EXPECT_DOUBLE_EQ(reading["doseValue"].get<double>(), std::stod(dose)) << text;
    EXPECT_TRUE(reading["doseUnit"].is_string());
  }
  EXPECT_EQ(readings, 2);

  // Counts per minute are whole numbers.
  ASSERT_EQ(bench.Run({"--yes", "settings", "set", "units=2"}).status, cli::kExitDone);
  r = bench.Run({"--json", "measure"});
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;
  const auto counts = nlohmann::json::parse(r.out);
  EXPECT_TRUE(counts["rate"].is_number_integer()) << r.out;
  EXPECT_EQ(counts["rateUnit"], "CPM");
}

TEST(CliMeasureLink, ADeviceInItsBootLoaderIsRefusedWithThePagesMessage) {
  sim::DeviceConfig config;
  config.startInBoot = true;
  CliBench bench(config);
  const CliResult r = bench.Run({"measure"});
  EXPECT_EQ(r.status, cli::kExitFailed);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "In BOOT\nMode is\nUnavailable\n");
}

TEST(CliMeasureLink, DoseResetAsksAndTheHeartbeatSendsIt) {
  CliBench bench;
  CliResult r = bench.Run({"dose", "reset"});
  EXPECT_EQ(r.status, cli::kExitFailed);
  EXPECT_EQ(bench.device->GetCounters().requests.count(sim::CommandKey(1, 0x0F)), 0u);

  r = bench.Run({"--yes", "dose", "reset"});
  EXPECT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_NE(r.err.find("Accumulated Dose\nReset\n"), std::string::npos) << r.err;
  EXPECT_EQ(bench.device->GetCounters().requests.at(sim::CommandKey(1, 0x0F)), 1);
}

}  // namespace
}  // namespace dravion::cli_test
