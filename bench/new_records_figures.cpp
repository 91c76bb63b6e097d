// Figures of a download of new records only: `dravion-cli history download --new` in its own
// process against the emulator on a line paced at 230400 baud with realistic device times, on a
// full ring that has run round. In one run: the whole ring (which also fills a fresh archive),
// then a day's 1,440 new records with --new, then --new with nothing new; each from the
// command's start to its end (the archive merged), with the requests on the wire and the
// program's peak memory.
//
//   build/bench/new_records_figures [new records]   (about 100 s, the whole ring's read)

#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/device.h"

extern char** environ;

namespace {

using namespace dravion;

struct Run {
  bool ok = false;
  double seconds = 0;
  int reads = 0;   // ReadExternalFlash requests
  int others = 0;  // every other request
  long peakKb = 0;
};

Run Cli(sim::Device& device, const std::vector<std::string>& words) {
  std::vector<std::string> args{DRAVION_CLI_PATH, "--port", "11"};
  args.insert(args.end(), words.begin(), words.end());
  std::vector<char*> argv;
  for (std::string& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  Run r;
  const int readsBefore = device.Requests(2, 0x02);
  const int totalBefore = device.GetCounters().totalRequests;
  const auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  if (::posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    std::fprintf(stderr, "cannot start %s\n", argv[0]);
    return r;
  }
  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  r.reads = device.Requests(2, 0x02) - readsBefore;
  r.others = device.GetCounters().totalRequests - totalBefore - r.reads;
  r.peakKb = usage.ru_maxrss;
  return r;
}

void Print(const char* what, const Run& r) {
  std::printf("%-40s %8.2f s  %6d reads  %4d other requests  peak %6.1f MB%s\n", what, r.seconds,
              r.reads, r.others, r.peakKb / 1024.0, r.ok ? "" : "  FAILED");
}

}  // namespace

int main(int argc, char** argv) {
  const uint32_t fresh = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 1440;
  char pattern[] = "/tmp/dravion-new-records-bench.XXXXXX";
  const std::string folder = ::mkdtemp(pattern);
  ::setenv("DRAVION_PORT_DIR", folder.c_str(), 1);
  ::setenv("DRAVION_SYSTEM_PORTS", "0", 1);
  ::setenv("DRAVION_ARCHIVE", (folder + "/history-archive.sqlite3").c_str(), 1);

  sim::DeviceConfig config;
  config.portFolder = folder;
  config.port = 11;
  config.baud = 230400;
  config.commandTimeUs = sim::RealisticCommandTimes();
  config.historyWrap = true;
  config.historyStart = 0x0500;
  config.historySize = 65279;
  sim::Device device(config);
  if (!device.Plug()) {
    std::fprintf(stderr, "cannot plug the emulator in %s\n", folder.c_str());
    return 1;
  }
  std::printf("History download at 230400 baud, realistic device times, a full ring (%u records)\n",
              device.History().count);
  const Run whole = Cli(device, {"history", "download"});
  Print("whole ring (history download)", whole);
  device.AddHistoryRecords(fresh);
  const Run fresher = Cli(device, {"history", "download", "--new"});
  const std::string label = std::to_string(fresh) + " new records (history download --new)";
  Print(label.c_str(), fresher);
  const Run nothing = Cli(device, {"history", "download", "--new"});
  Print("nothing new (history download --new)", nothing);
  if (fresher.seconds > 0)
    std::printf("whole ring / new records: %.1f times as long\n", whole.seconds / fresher.seconds);
  device.Unplug();
  std::system(("rm -rf '" + folder + "'").c_str());
  return whole.ok && fresher.ok && nothing.ok ? 0 : 1;
}
