#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "cli/cli_options.h"
#include "cli_harness.h"
#include "services/clock.h"

extern char** environ;

namespace dravion::cli_test {
namespace {

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Polls a file (the program writes it in another process) until `done` holds; false after
// `seconds`.
template <typename Done>
bool WaitForFile(const std::string& path, Done done, int seconds = 30) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done(FileText(path))) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

int Lines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

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
  EXPECT_EQ(line, "time,rate,rate_unit,level,dose,dose_unit");
  const std::regex reading(
      R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d,\d+\.\d\d,uSv/h,\d+,[^,]+,[^,]+)");
  std::vector<int64_t> times;
  while (std::getline(lines, line)) {
    EXPECT_TRUE(std::regex_match(line, reading)) << line;
    const int64_t seconds = LineSeconds(line);
    if (!times.empty()) EXPECT_GE(seconds, times.back()) << line;
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
