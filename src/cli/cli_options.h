#pragma once

#include <string>
#include <vector>

#include "services/language.h"

namespace dravion::cli {

// Exit statuses of dravion-cli.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;    // the device refused, failed or did not answer
inline constexpr int kExitUsage = 2;     // bad usage
inline constexpr int kExitNoDevice = 3;  // no device found

// What the command line asks for.
struct CliOptions {
  int port = -1;  // -1: the first listed port that answers as the device
  Lang lang = Lang::English;
  std::string logFile;
  bool verbose = false;
  bool yes = false;
  bool json = false;
  bool help = false;
  // The command and its words: {"settings", "set", "units=1"}.
  std::vector<std::string> command;
  int count = 1;  // measure --count
  bool countGiven = false;
  bool follow = false;  // measure --follow: readings until stopped
  int interval = 1;     // measure --interval: seconds between readings
  std::string csvFile;  // history download --csv, measure --follow --csv
  int ifDrift = -1;     // time sync --if-drift: write only beyond this many seconds (-1: always)
  int retries = 0;      // firmware update --retries: attempts after a failed first one
};

// Parses the arguments after the program name. Returns false with `error` set on bad usage.
bool ParseCommandLine(const std::vector<std::string>& args, CliOptions& options,
                      std::string& error);

// The usage text, ending in a line feed.
const std::string& UsageText();

}  // namespace dravion::cli
