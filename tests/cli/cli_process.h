#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace dravion::cli_test {

// Header-only helpers for tests that run dravion-cli as a process of its own (DRAVION_CLI_PATH),
// so that signals reach it as they would in use.

inline std::string FileText(const std::string& path) {
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

// How many times `what` stands in `text`.
inline size_t Occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

inline int Lines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// A program (args[0], a path) in a process of its own with standard output to `out` (a
// descriptor; -1: nowhere) and standard error to the file `err`, truncated unless `append`;
// standard input from `in` (a terminal's path) when given.
inline pid_t SpawnProgram(std::vector<std::string> args, int out, const std::string& err,
                          const std::string& in = {}, bool append = false) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!in.empty()) posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDWR | O_NOCTTY, 0);
  if (out >= 0) {
    posix_spawn_file_actions_adddup2(&actions, out, 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(),
                                   O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC), 0644);
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// dravion-cli in a process of its own (see SpawnProgram).
inline pid_t SpawnCli(std::vector<std::string> args, int out, const std::string& err,
                      const std::string& in = {}) {
  args.insert(args.begin(), DRAVION_CLI_PATH);
  return SpawnProgram(std::move(args), out, err, in);
}

// The exit status of a program that ended by itself; -1 for one that a signal killed.
inline int ExitStatus(pid_t pid) {
  int status = -1;
  if (::waitpid(pid, &status, 0) != pid) return -2;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace dravion::cli_test
