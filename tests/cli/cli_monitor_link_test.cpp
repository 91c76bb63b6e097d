#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sstream>

#include "archive/station_store.h"
#include "cli/cli_options.h"
#include "cli_harness.h"
#include "cli_process.h"

namespace dravion::cli_test {
namespace {

std::vector<nlohmann::json> JsonLines(const std::string& text) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    lines.push_back(nlohmann::json::parse(line));
  return lines;
}

// The monitor as a service runs it: a process of its own, ended by a signal. Every reading it
// printed is in the archive, in order and once, whether it was stopped (SIGTERM: the seconds of
// the interval under way are kept too) or killed; an unplug is said once, and so is the return.
TEST(CliMonitorLink, ReadingsAreKeptAcrossAnUnplugAndNoneIsLostToAKill) {
  CliBench bench;
  bench.device->SetBackground(0.25);
  // Roentgen: the mean is kept in µR/h and, converted, in µSv/h.
  ASSERT_EQ(bench.Run({"--yes", "settings", "set", "units=1"}).status, cli::kExitDone);
  const std::string archive = bench.folder.path() + "/archive.sqlite3";
  ::setenv("DRAVION_ARCHIVE", archive.c_str(), 1);
  const std::string out = bench.folder.path() + "/readings.jsonl";
  const std::string err = bench.folder.path() + "/stderr.txt";
  const std::string log = bench.folder.path() + "/log.txt";
  auto start = [&](const std::string& interval) {
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t pid = SpawnCli(
        {"--port", "7", "--json", "--log", log, "monitor", "--interval", interval}, fd, err);
    ::close(fd);
    return pid;
  };

  pid_t pid = start("1");
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitForFile(out, [](const std::string& t) { return Lines(t) >= 3; }))
      << FileText(err);
  bench.device->Unplug();
  ASSERT_TRUE(WaitForFile(err, [](const std::string& t) {
    return t.find("waiting for it") != std::string::npos;
  })) << FileText(err);
  ASSERT_TRUE(bench.device->Plug());
  ASSERT_TRUE(WaitForFile(err, [](const std::string& t) {
    return t.find("Readings go on: 214-36587") != std::string::npos;
  })) << FileText(err);
  const int beforeKill = Lines(FileText(out)) + 2;
  ASSERT_TRUE(WaitForFile(out, [&](const std::string& t) { return Lines(t) >= beforeKill; }));
  ASSERT_EQ(::kill(pid, SIGKILL), 0);
  EXPECT_EQ(ExitStatus(pid), -1);
  const std::string notes = FileText(err);
  EXPECT_EQ(Occurrences(notes, "Readings of the device 214-36587 every 1 s\n"), 1u) << notes;
  EXPECT_EQ(Occurrences(notes, "waiting for it"), 1u) << notes;
  EXPECT_EQ(Occurrences(notes, "Readings go on"), 1u) << notes;
  // The log file holds every note said before the kill.
  const std::string logged = FileText(log);
  for (const char* note : {"Readings of the device 214-36587 every 1 s", "waiting for it",
                           "Readings go on: 214-36587"})
    EXPECT_EQ(Occurrences(logged, note), 1u) << note << "\n" << logged;
  // and not the requests of every second, which would fill it within hours.
  EXPECT_EQ(Occurrences(logged, "PAR["), 0u) << logged;

  std::vector<nlohmann::json> printed = JsonLines(FileText(out));
  StationStore store;
  ASSERT_TRUE(store.Open(archive)) << store.Error();
  std::vector<StationReading> kept = store.Latest("", 1000);
  // Kept before it is printed: a kill in between leaves one more kept than printed.
  ASSERT_GE(kept.size(), printed.size());
  ASSERT_LE(kept.size(), printed.size() + 1);
  std::reverse(kept.begin(), kept.end());
  for (size_t i = 0; i < printed.size(); ++i) {
    const nlohmann::json& p = printed[i];
    const StationReading& k = kept[i];
    SCOPED_TRACE(p.dump());
    EXPECT_EQ(p["rateUnit"], "uR/h");
    EXPECT_EQ(k.rateUnit, "uR/h");
    ASSERT_TRUE(k.rate && k.microSievertPerHour);
    EXPECT_NEAR(p["rate"].get<double>(), *k.rate, 1e-4);
    EXPECT_DOUBLE_EQ(*k.microSievertPerHour, *k.rate / 100);
    EXPECT_GT(*k.microSievertPerHour, 0.05);
    EXPECT_LT(*k.microSievertPerHour, 1.0);
    EXPECT_NEAR(p["cpm"].get<double>(), k.cpm, 1e-4);
    EXPECT_GT(k.cpm, 0);
    EXPECT_EQ(k.serial, "214-36587");
    EXPECT_EQ(p["seconds"], 1);
    EXPECT_EQ(k.samples, 1);
    if (i > 0) {
      EXPECT_GE(k.time, kept[i - 1].time);
    }
  }

  // Stopped: the interval under way is kept as a shorter one, printed, and the run ends as every
  // command ended by SIGTERM does. (The killed monitor never took back its exclusive hold on the
  // pseudo-terminal, which outlives it there, unlike a USB port's: the device comes anew.)
  bench.device->Unplug();
  ASSERT_TRUE(bench.device->Plug());
  const size_t before = store.Count();
  pid = start("3600");
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitForFile(err, [](const std::string& t) {
    return t.find("every 3600 s") != std::string::npos;
  })) << FileText(err);
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  EXPECT_EQ(ExitStatus(pid), 143) << FileText(err);
  printed = JsonLines(FileText(out));
  ASSERT_EQ(printed.size(), 1u) << FileText(out);
  EXPECT_LT(printed[0]["seconds"].get<int>(), 3600);
  EXPECT_GE(printed[0]["samples"].get<int>(), 1);
  EXPECT_EQ(store.Count(), before + 1);
  ::unsetenv("DRAVION_ARCHIVE");
}

}  // namespace
}  // namespace dravion::cli_test
