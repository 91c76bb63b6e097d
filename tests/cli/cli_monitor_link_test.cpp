#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <nlohmann/json.hpp>

#include <ctime>
#include <filesystem>
#include <fstream>
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

// A configuration that cannot be used ends the monitor at once with a status of its own, naming
// the line and the key, never the value; the service's unit does not start it again for that
// status, gives it longer to stop than it waits, and has the hardening a long-running service
// should have. Its log keeps the runs before.
TEST(CliMonitorLink, AConfigurationMistakeEndsItWithItsOwnStatusWhichTheUnitDoesNotRestart) {
  CliBench bench;
  const std::string archive = bench.folder.path() + "/archive.sqlite3";
  ::setenv("DRAVION_ARCHIVE", archive.c_str(), 1);
  const std::string config = bench.folder.path() + "/monitor.ini";
  {
    std::ofstream file(config);
    file << "[safecast]\napi_key = hunter2\nlatitude = 51.5\nlongitude = -0.12\n"
            "device_id = 007\n\n[mqtt]\nport = 99999\n";
  }
  ::chmod(config.c_str(), 0600);
  const std::string log = bench.folder.path() + "/monitor-log.txt";
  {
    std::ofstream earlier(log);
    earlier << "a line of the run before\n";
  }
  const CliResult result = bench.Run({"--log", log, "monitor", "--config", config});
  EXPECT_EQ(result.status, cli::kExitConfig);
  EXPECT_EQ(cli::kExitConfig, 4);
  EXPECT_NE(result.err.find("line 5: [safecast] device_id"), std::string::npos) << result.err;
  EXPECT_EQ(result.err.find("hunter2"), std::string::npos) << result.err;
  EXPECT_EQ(result.err.find("007"), std::string::npos) << result.err;
  const std::string logged = FileText(log);
  EXPECT_EQ(logged.find("a line of the run before\n"), 0u) << logged;
  EXPECT_NE(logged.find("[safecast] device_id"), std::string::npos) << logged;
  ::unsetenv("DRAVION_ARCHIVE");

  const std::string unitPath =
      std::string(DRAVION_SOURCE_DIR) + "/packaging/linux/dravion-monitor.service";
  const std::string unit = FileText(unitPath);
  ASSERT_FALSE(unit.empty()) << unitPath;
  auto value = [&](const std::string& key) {
    const size_t at = unit.find("\n" + key + "=");
    if (at == std::string::npos) return std::string();
    const size_t from = at + key.size() + 2;
    return unit.substr(from, unit.find('\n', from) - from);
  };
  EXPECT_EQ(value("RestartPreventExitStatus"), std::to_string(cli::kExitConfig));
  EXPECT_EQ(value("Restart"), "on-failure");
  EXPECT_EQ(value("NoNewPrivileges"), "yes");
  EXPECT_EQ(value("UMask"), "0077");
  EXPECT_EQ(value("LockPersonality"), "yes");
  EXPECT_EQ(value("RestrictRealtime"), "yes");
  EXPECT_FALSE(value("MemoryMax").empty());
  for (const char* family : {"AF_UNIX", "AF_INET", "AF_INET6"})
    EXPECT_NE(value("RestrictAddressFamilies").find(family), std::string::npos) << family;
  // Above the longest wait of a stop: the archive held by another program (15 s) and the
  // outputs' ends.
  EXPECT_GE(std::stoi(value("TimeoutStopSec")), 25);
  // systemd's own check of the unit, where systemd is there (the binary it names is not).
  if (::access("/usr/bin/systemd-analyze", X_OK) == 0) {
    const std::string out = bench.folder.path() + "/verify.txt";
    const std::string command =
        "/usr/bin/systemd-analyze verify '" + unitPath + "' >'" + out + "' 2>&1";
    EXPECT_NE(::system(command.c_str()), -1);
    std::istringstream said(FileText(out));
    for (std::string line; std::getline(said, line);) {
      if (line.find("is not executable") != std::string::npos ||
          line.find("man dravion-cli") != std::string::npos)
        continue;  // the package's program and manual page, not installed here
      ADD_FAILURE() << line;
    }
  }
}

// A computer whose clock is behind the newest reading kept (not set after a start without a
// battery) keeps its readings but sends them nowhere, and says so once; its readings wait in no
// output's queue.
TEST(CliMonitorLink, AClockBehindTheNewestReadingKeepsReadingsButSendsNone) {
  CliBench bench;
  const std::string archive = bench.folder.path() + "/archive.sqlite3";
  ::setenv("DRAVION_ARCHIVE", archive.c_str(), 1);
  {
    StationStore earlier;
    ASSERT_TRUE(earlier.Open(archive)) << earlier.Error();
    StationReading future;
    future.time = static_cast<int64_t>(::time(nullptr)) + 30 * 86400;
    future.seconds = future.samples = 60;
    future.serial = "214-36587";
    ASSERT_TRUE(earlier.Add(future));
  }
  const std::string config = bench.folder.path() + "/monitor.ini";
  {
    // Nothing answers on the discard port: what is queued stays queued.
    std::ofstream file(config);
    file << "[safecast]\napi_key = k\nlatitude = 51.5\nlongitude = -0.12\n"
            "url = http://127.0.0.1:9/measurements.json\n";
  }
  ::chmod(config.c_str(), 0600);
  const std::string out = bench.folder.path() + "/readings.jsonl";
  const std::string err = bench.folder.path() + "/stderr.txt";
  const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const pid_t pid = SpawnCli(
      {"--port", "7", "--json", "monitor", "--interval", "1", "--config", config}, fd, err);
  ::close(fd);
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitForFile(out, [](const std::string& t) { return Lines(t) >= 3; }))
      << FileText(err);
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  EXPECT_EQ(ExitStatus(pid), 143) << FileText(err);
  const std::string notes = FileText(err);
  EXPECT_EQ(Occurrences(notes, "The computer's clock is behind the newest reading kept"), 1u)
      << notes;
  StationStore store;
  ASSERT_TRUE(store.Open(archive)) << store.Error();
  EXPECT_GE(store.Count(), 4u);
  for (const std::string& station : {std::string(), std::filesystem::canonical(config).string()})
    EXPECT_EQ(store.QueuedCount(station, "safecast"), 0u) << station;
  ::unsetenv("DRAVION_ARCHIVE");
}

// Another program holding the archive longer than the station waits for it: the readings taken
// meanwhile are kept in memory, said once, and written when the archive is free again, in order;
// none is lost.
TEST(CliMonitorLink, ReadingsTheArchiveRefusesWaitInMemoryUntilItTakesThem) {
  CliBench bench;
  const std::string archive = bench.folder.path() + "/archive.sqlite3";
  ::setenv("DRAVION_ARCHIVE", archive.c_str(), 1);
  const std::string out = bench.folder.path() + "/readings.jsonl";
  const std::string err = bench.folder.path() + "/stderr.txt";
  const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const pid_t pid = SpawnCli({"--port", "7", "--json", "monitor", "--interval", "1"}, fd, err);
  ::close(fd);
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitForFile(out, [](const std::string& t) { return Lines(t) >= 2; }))
      << FileText(err);
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(archive.c_str(), &holder), SQLITE_OK);
  sqlite3_busy_timeout(holder, 10000);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK)
      << sqlite3_errmsg(holder);
  const bool refused = WaitForFile(
      out, [](const std::string& t) { return t.find("\"kept\":false") != std::string::npos; }, 90);
  sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
  ASSERT_TRUE(refused) << FileText(err);
  ASSERT_TRUE(WaitForFile(
      err,
      [](const std::string& t) {
        return t.find("The archive takes readings again") != std::string::npos;
      },
      60))
      << FileText(err);
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  EXPECT_EQ(ExitStatus(pid), 143) << FileText(err);
  const std::string notes = FileText(err);
  EXPECT_EQ(Occurrences(notes, "The archive does not take readings"), 1u) << notes;
  EXPECT_EQ(Occurrences(notes, "The archive takes readings again"), 1u) << notes;
  const std::vector<nlohmann::json> printed = JsonLines(FileText(out));
  StationStore store;
  ASSERT_TRUE(store.Open(archive)) << store.Error();
  std::vector<StationReading> kept = store.Latest("", 1000);
  ASSERT_EQ(kept.size(), printed.size());
  std::reverse(kept.begin(), kept.end());
  for (size_t i = 1; i < kept.size(); ++i)
    EXPECT_GE(kept[i].time, kept[i - 1].time);
  ::unsetenv("DRAVION_ARCHIVE");
}

}  // namespace
}  // namespace dravion::cli_test
