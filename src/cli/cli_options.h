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
inline constexpr int kExitConfig = 4;    // the monitor's configuration cannot be used

// monitor: seconds a reading stands for unless --interval says otherwise.
inline constexpr int kMonitorIntervalSeconds = 60;

// What the command line asks for.
struct CliOptions {
  int port = -1;  // -1: the first listed port that answers as the device
  Lang lang = Lang::English;
  std::string logFile;
  bool verbose = false;
  bool yes = false;
  bool json = false;
  bool help = false;
  bool version = false;
  // The command and its words: {"settings", "set", "units=1"}.
  std::vector<std::string> command;
  int count = 1;  // measure --count
  bool countGiven = false;
  bool follow = false;     // measure --follow: readings until stopped
  int interval = 1;        // measure --interval, monitor --interval: seconds between readings
  std::string csvFile;     // history download --csv, measure --follow --csv
  int ifDrift = -1;        // time sync --if-drift: write only beyond this many seconds (-1: always)
  int retries = 0;         // firmware update --retries: attempts after a failed first one
  bool noArchive = false;  // history download --no-archive: not merged into the archive
  bool newOnly = false;    // history download --new: only what follows the archive's newest
  std::string device;      // archive export / import --device: a serial number ("214-36587")
  std::string uid;         // archive export / import --uid: the device's identifier
  int run = 0;             // archive export --run N: the device's run N (0: its newest)
  bool newDevice = false;  // archive import --new-device: a serial the archive does not know yet
  std::string from, to;    // archive export / stats --from / --to: dates as typed
  std::string xlsxFile;    // archive export --xlsx: the workbook
  bool thresholdGiven = false;
  double threshold = 0;  // archive stats --threshold: a rate in its own unit, else --unit's
  bool thresholdUnitGiven = false;  // the rate came with its unit ("0.3usv", "30ur")
  bool thresholdRoentgen = false;   // that unit: uR/h (else uSv/h)
  bool unitGiven = false;
  bool roentgen = false;     // archive stats --unit r (else sv)
  std::string configFile;    // monitor --config: the station's configuration file
  bool installTask = false;  // monitor --install-task: start the monitor at this user's logon
  bool removeTask = false;   // monitor --remove-task: no longer
  // archive compare: the second period (--with-from / --with-to, each the first's when not
  // given) and device (--with-device: a serial number; none: the first device).
  std::string withFrom, withTo, withDevice;
  double confidence = 0.95;  // archive stats and compare --confidence: of their intervals, (0, 1)
};

// Parses the arguments after the program name. Returns false with `error` set on bad usage.
bool ParseCommandLine(const std::vector<std::string>& args, CliOptions& options,
                      std::string& error);

// An option of the command line, for every command or for one.
struct OptionWord {
  const char* name;     // "--count"
  const char* command;  // "" for every command, else the command's words: "history download"
  const char* value;    // what follows it: "" nothing, "N" a number, "FILE", "en|ru" one of these
};
const std::vector<OptionWord>& OptionWords();

// The words that may follow `before` (the words after the program name, up to the one being
// completed), for the shell's completion: the next command word; else the command's options and
// the global ones, and for `settings set` the setting names ("units="); after an option, its
// values, or "@file" when a file name follows.
std::vector<std::string> CompletionWords(const std::vector<std::string>& before);

// The usage text, ending in a line feed.
const std::string& UsageText();
// "dravion-cli 1.9", ending in a line feed.
std::string VersionText();
// The line after a usage error.
inline constexpr const char* kTryHelp = "Try 'dravion-cli --help' for more information.";

}  // namespace dravion::cli
