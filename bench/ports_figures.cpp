// `dravion-cli ports` as a user runs it, from the start of the process to its exit, in a private
// port folder: with the emulator (paced at 230400 baud, realistic device times) as the only port,
// and with a port added that opens but never answers (listed before the device), whose cost the
// link test bounds (three requests 700 ms apart, about 2.1 s). Median of five runs each.
//
//   build/bench/ports_figures

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/device.h"
#include "support/pty.h"

extern char** environ;

namespace {

// Runs `dravion-cli ports` with its output discarded; the seconds it took, or -1.
double RunPorts() {
  std::string program = DRAVION_CLI_PATH, command = "ports";
  char* argv[] = {program.data(), command.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  const int failed = posix_spawn(&child, argv[0], &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) return -1;
  int status = 0;
  ::waitpid(child, &status, 0);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // 0: a device answered; anything else means the run did not see it.
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

double Median(int runs) {
  std::vector<double> took;
  for (int i = 0; i < runs; ++i) {
    const double s = RunPorts();
    if (s < 0) return -1;
    took.push_back(s);
  }
  std::sort(took.begin(), took.end());
  return took[took.size() / 2];
}

}  // namespace

int main() {
  dravion::test::TempPortFolder folder;  // DRAVION_PORT_DIR for this process and its children
  ::setenv("DRAVION_SYSTEM_PORTS", "0", 1);
  dravion::sim::DeviceConfig config;
  config.portFolder = folder.path();
  config.port = 11;
  config.baud = 230400;
  config.commandTimeUs = dravion::sim::RealisticCommandTimes();
  dravion::sim::Device device(config);
  device.Plug();

  const double alone = Median(5);
  dravion::test::PtyPair silent;  // opens, never answers
  folder.Add("COM3", silent.slavePath());
  const double withSilent = Median(5);
  std::printf("dravion-cli ports, process start to exit, median of 5:\n");
  std::printf("  the device on the only port (COM11):       %6.3f s\n", alone);
  std::printf("  a silent port (COM3) listed first as well: %6.3f s  (the silent port: %.3f s)\n",
              withSilent, withSilent - alone);
  return alone < 0 || withSilent < 0 ? 1 : 0;
}
