#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "cli/cli_options.h"
#include "cli_harness.h"
#include "cli_process.h"
#include "services/clock.h"

extern char** environ;

namespace dravion::cli_test {
namespace {

// The local time of a line ("2026-12-07T10:30:15+03:00,...") as seconds.
int64_t LineSeconds(const std::string& line) {
  LocalDateTime t;
  int offsetHours = 0, offsetMinutes = 0;
  char sign = '+';
  std::sscanf(line.c_str(), "%d-%d-%dT%d:%d:%d%c%d:%d", &t.year, &t.month, &t.day, &t.hour,
              &t.minute, &t.second, &sign, &offsetHours, &offsetMinutes);
  t.utcOffsetMinutes = (sign == '-' ? -1 : 1) * (offsetHours * 60 + offsetMinutes);
  return SecondsBetween(LocalDateTime{}, t);
}

TEST(CliRecordLink, FollowRecordsAcrossAnUnplugAndEndsWithACompleteFileOnSigterm) {
  CliBench bench;
  const std::string csv = bench.folder.path() + "/readings.csv";
  const std::string err = bench.folder.path() + "/stderr.txt";
  // The real program in a process of its own, so that SIGTERM reaches it as it would in use.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> args = {DRAVION_CLI_PATH, "--port", "7", "measure",
                                   "--follow",       "--csv",  csv};
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);

  ASSERT_TRUE(WaitForFile(csv, [](const std::string& t) { return Lines(t) >= 3; }))
      << FileText(err);
  bench.device->Unplug();
  ASSERT_TRUE(WaitForFile(err, [](const std::string& t) {
    return t.find("Recording: the device does not answer") != std::string::npos;
  })) << FileText(err);
  const int beforeReplug = Lines(FileText(csv));
  // Away for a while: the gap in the file is at least this long.
  std::this_thread::sleep_for(std::chrono::seconds(2));
  ASSERT_TRUE(bench.device->Plug());
  ASSERT_TRUE(WaitForFile(csv, [&](const std::string& t) { return Lines(t) >= beforeReplug + 2; }))
      << FileText(err);
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  int status = -1;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  // Ended by the signal as every command is: 128 + 15.
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 143) << status;

  // The file is whole: the header, then complete lines only, in time order.
  const std::string text = FileText(csv);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  std::istringstream lines(text);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "time,rate,rate_unit,level,dose,dose_unit,serial");
  const std::regex reading(
      R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d,\d+\.\d\d,uSv/h,\d+,[^,]+,[^,]+,214-36587)");
  std::vector<int64_t> times;
  while (std::getline(lines, line)) {
    EXPECT_TRUE(std::regex_match(line, reading)) << line;
    const int64_t seconds = LineSeconds(line);
    if (!times.empty()) {
      EXPECT_GE(seconds, times.back()) << line;
    }
    times.push_back(seconds);
  }
  ASSERT_GE(times.size(), static_cast<size_t>(beforeReplug + 1));
  // The unplug is one gap, noted once with its length, between the last reading before it and
  // the first after: the device was away for two seconds at least.
  const std::string messages = FileText(err);
  const std::string note = "Recording: readings go on after a gap of ";
  const size_t noted = messages.find(note);
  ASSERT_NE(noted, std::string::npos) << messages;
  EXPECT_EQ(messages.find(note, noted + 1), std::string::npos) << messages;
  EXPECT_EQ(messages.find("Recording: the device does not answer"),
            messages.rfind("Recording: the device does not answer"))
      << messages;
  const int64_t gap = times[beforeReplug - 1] - times[beforeReplug - 2];
  EXPECT_EQ(messages.substr(noted + note.size(), std::to_string(gap).size() + 3),
            std::to_string(gap) + " s\n")
      << messages;
  EXPECT_GE(gap, 2) << text;
  EXPECT_EQ(messages.substr(messages.size() - 12), "Interrupted\n") << messages;
}

// A closed terminal (SIGHUP) and a reader that went away (SIGPIPE, as with `| head -n1`) end a
// recording as SIGTERM does: the log written, the file complete, 128 plus the signal's number.
TEST(CliRecordLink, AClosedTerminalOrAVanishedReaderEndsTheCommandCleanly) {
  CliBench bench;
  const std::string csv = bench.folder.path() + "/readings.csv";
  const std::string log = bench.folder.path() + "/run.log";
  const std::string err = bench.folder.path() + "/stderr.txt";
  const pid_t hungUp =
      SpawnCli({"--port", "7", "measure", "--follow", "--csv", csv, "--log", log}, -1, err);
  ASSERT_GT(hungUp, 0);
  ASSERT_TRUE(WaitForFile(csv, [](const std::string& t) { return Lines(t) >= 3; }))
      << FileText(err);
  ASSERT_EQ(::kill(hungUp, SIGHUP), 0);
  EXPECT_EQ(ExitStatus(hungUp), 129) << FileText(err);
  const std::string text = FileText(csv);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  EXPECT_NE(FileText(log).find("Read Device Information"), std::string::npos);

  // Readings printed into a pipe whose reader leaves after the first line.
  int pipeEnds[2];
  ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
  const pid_t piped = SpawnCli(
      {"--port", "7", "measure", "--follow", "--interval", "1", "--csv", csv, "--log", log},
      pipeEnds[1], err);
  ::close(pipeEnds[1]);
  ASSERT_GT(piped, 0);
  char c = 0;
  while (::read(pipeEnds[0], &c, 1) == 1 && c != '\n') {
  }
  ::close(pipeEnds[0]);
  EXPECT_EQ(ExitStatus(piped), 141) << FileText(err);
  const std::string appended = FileText(csv);
  EXPECT_GT(Lines(appended), Lines(text));
  EXPECT_EQ(appended.back(), '\n');
  EXPECT_NE(FileText(err).find("Interrupted"), std::string::npos) << FileText(err);
}

// Ctrl+C while a [y/n] question waits on the terminal ends the command there: a "y" typed later
// finds no question, and nothing is deleted.
TEST(CliRecordLink, CtrlCAtAQuestionEndsTheCommandAtOnce) {
  sim::DeviceConfig config;
  config.historySize = 500;
  CliBench bench(config);
  const uint32_t records = bench.device->Parameter(0xC021) & 0xFFFF;
  ASSERT_GT(records, 0u);
  test::PtyPair terminal;
  const std::string err = bench.folder.path() + "/stderr.txt";
  const pid_t pid = SpawnCli({"--port", "7", "history", "delete"}, -1, err, terminal.slavePath());
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitForFile(err, [](const std::string& t) {
    return t.find("[y/n]") != std::string::npos;
  })) << FileText(err);
  ASSERT_EQ(::kill(pid, SIGINT), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  terminal.Write("y\n");
  EXPECT_EQ(ExitStatus(pid), 130) << FileText(err);
  EXPECT_EQ(bench.device->Parameter(0xC021) & 0xFFFF, records);
  EXPECT_NE(FileText(err).find("Interrupted"), std::string::npos) << FileText(err);
}

// measure --follow without a file: a device that stops answering is said, and its return too.
TEST(CliRecordLink, FollowWithoutAFileSaysWhenTheDeviceStopsAnswering) {
  CliBench bench;
  sim::Faults faults;
  faults.unplugAfterRequests = 40;
  faults.replugAfterMs = 300;
  bench.device->SetFaults(faults);
  const CliResult r = bench.Run({"--port", "7", "measure", "--follow", "--count", "8"});
  EXPECT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_EQ(Lines(r.out), 8) << r.out;
  const size_t gone = r.err.find("The device does not answer; waiting for it");
  ASSERT_NE(gone, std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Readings go on", gone), std::string::npos) << r.err;
}

// A clock that reads back an impossible date is no drift: time show says it is invalid, and
// --if-drift writes the clock whatever the limit.
TEST(CliTimeLink, AnInvalidDeviceTimeIsSaidAndSyncWritesIt) {
  CliBench bench;
  const uint16_t writeTime = sim::CommandKey(1, 0x0B);
  for (const std::array<uint8_t, 7>& bytes : {std::array<uint8_t, 7>{0, 0, 12, 15, 13, 26, 1},
                                              std::array<uint8_t, 7>{0, 0, 12, 0, 6, 26, 1},
                                              std::array<uint8_t, 7>{0, 0, 12, 32, 1, 26, 1},
                                              std::array<uint8_t, 7>{0, 0, 12, 15, 6, 100, 1}}) {
    bench.device->SetClockBytes(bytes);
    CliResult r = bench.Run({"--json", "time", "show"});
    EXPECT_EQ(r.status, cli::kExitFailed) << r.out;
    const nlohmann::json clock = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_TRUE(clock.is_object()) << r.out;
    EXPECT_TRUE(clock["drift"].is_null()) << r.out;
    EXPECT_EQ(clock["valid"], false) << r.out;
    EXPECT_NE(r.err.find("The device clock holds an invalid time: ["), std::string::npos) << r.err;

    const int writes = bench.device->GetCounters().requests.count(writeTime)
                           ? bench.device->GetCounters().requests.at(writeTime)
                           : 0;
    r = bench.Run({"--yes", "time", "sync", "--if-drift", "1000000"});
    EXPECT_EQ(r.status, cli::kExitDone) << r.err;
    EXPECT_EQ(bench.device->GetCounters().requests.at(writeTime), writes + 1);
    EXPECT_NE(r.err.find(", an invalid time"), std::string::npos) << r.err;
  }
}

TEST(CliTimeLink, TimeShowGivesTheDriftAndSyncWritesOnlyBeyondTheLimit) {
  CliBench bench;
  bench.device->ShiftClock(-100);
  auto drift = [&bench] {
    const CliResult r = bench.Run({"--json", "time", "show"});
    EXPECT_EQ(r.status, cli::kExitDone) << r.err;
    const nlohmann::json clock = nlohmann::json::parse(r.out, nullptr, false);
    if (!clock.is_object() || !clock["drift"].is_number_integer()) {
      ADD_FAILURE() << r.out;
      return int64_t{9999};
    }
    EXPECT_TRUE(std::regex_match(clock["device"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)")))
        << r.out;
    EXPECT_TRUE(std::regex_match(clock["computer"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")))
        << r.out;
    return clock["drift"].get<int64_t>();
  };
  const int64_t before = drift();
  EXPECT_LE(std::abs(before + 100), 2) << before;
  CliResult r = bench.Run({"time", "show"});
  EXPECT_NE(r.out.find("The device is "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" s behind"), std::string::npos) << r.out;

  const uint16_t writeTime = sim::CommandKey(1, 0x0B);
  r = bench.Run({"--yes", "time", "sync", "--if-drift", "200"});
  EXPECT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_NE(r.out.find(", within 200 s: the time was not written"), std::string::npos) << r.out;
  EXPECT_EQ(bench.device->GetCounters().requests.count(writeTime), 0u);

  r = bench.Run({"--yes", "time", "sync", "--if-drift", "30"});
  EXPECT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_EQ(bench.device->GetCounters().requests.at(writeTime), 1);
  EXPECT_TRUE(
      std::regex_search(r.err, std::regex(R"(Device clock corrected by \+(98|99|100|101|102) s)")))
      << r.err;
  EXPECT_LE(std::abs(drift()), 1);
}

}  // namespace
}  // namespace dravion::cli_test
