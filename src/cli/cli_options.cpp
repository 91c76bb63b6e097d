#include "cli/cli_options.h"

#include <algorithm>
#include <cctype>
#include <climits>

#include "cli/cli_settings.h"

namespace dravion::cli {
namespace {

// A decimal number in [low, high]; anything else (signs, blanks, letters) is refused.
bool ParseNumber(const std::string& text, int low, int high, int& value) {
  if (text.empty() || text.size() > 9) return false;
  long long v = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    v = v * 10 + (c - '0');
  }
  if (v < low || v > high) return false;
  value = static_cast<int>(v);
  return true;
}

// The number of words after the command name each command takes: exact, or at least.
struct CommandShape {
  std::vector<std::string> words;  // the command's fixed words
  int minArgs;
  int maxArgs;  // -1: no limit
};

const std::vector<CommandShape>& Shapes() {
  static const std::vector<CommandShape> shapes = {
      {{"ports"}, 0, 0},
      {{"info"}, 0, 0},
      {{"settings", "get"}, 0, 0},
      {{"settings", "set"}, 1, -1},
      {{"settings", "default"}, 0, 0},
      {{"time", "sync"}, 0, 0},
      {{"time", "show"}, 0, 0},
      {{"calibration", "set"}, 1, 1},
      {{"measure"}, 0, 0},
      {{"dose", "reset"}, 0, 0},
      {{"history", "download"}, 0, 0},
      {{"history", "delete"}, 0, 0},
      {{"firmware", "update"}, 0, 0},
      {{"restart", "main"}, 0, 0},
      {{"restart", "boot"}, 0, 0},
      {{"archive", "list"}, 0, 0},
      {{"archive", "export"}, 0, 0},
      {{"archive", "stats"}, 0, 0},
      {{"archive", "import"}, 1, 1},
      {{"archive", "compare"}, 0, 0},
      {{"monitor"}, 0, 0},
  };
  return shapes;
}

bool StartsWith(const std::vector<std::string>& words, const std::vector<std::string>& prefix) {
  if (words.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (words[i] != prefix[i]) return false;
  }
  return true;
}

// The command words typed so far: the words that are neither options nor their values.
std::vector<std::string> CommandWordsOf(const std::vector<std::string>& words) {
  std::vector<std::string> command;
  for (size_t i = 0; i < words.size(); ++i) {
    if (words[i].size() > 1 && words[i][0] == '-') {
      const auto option = std::find_if(OptionWords().begin(), OptionWords().end(),
                                       [&](const OptionWord& o) { return words[i] == o.name; });
      if (option != OptionWords().end() && *option->value) ++i;
    } else {
      command.push_back(words[i]);
    }
  }
  return command;
}

// A rate of at most 9 digits before and 6 after a decimal comma or point; nothing else.
bool ParseRate(const std::string& text, double& value) {
  const size_t point = text.find_first_of(",.");
  const std::string whole = text.substr(0, point);
  const std::string part = point == std::string::npos ? "" : text.substr(point + 1);
  if (whole.empty() || whole.size() > 9 || part.size() > 6 ||
      (point != std::string::npos && part.empty()))
    return false;
  double v = 0, scale = 1;
  for (char c : whole) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    v = v * 10 + (c - '0');
  }
  for (char c : part) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    scale /= 10;
    v += (c - '0') * scale;
  }
  value = v;
  return true;
}

// A rate and, after it, its unit: usv or ur, µ for u, "/h" or not, any case.
bool ParseThreshold(const std::string& text, CliOptions& options) {
  size_t number = 0;
  while (number < text.size() && (std::isdigit(static_cast<unsigned char>(text[number])) ||
                                  text[number] == ',' || text[number] == '.'))
    ++number;
  std::string unit;
  for (size_t i = number; i < text.size(); ++i)
    unit += static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
  if (unit.rfind("\xC2\xB5", 0) == 0) unit = "u" + unit.substr(2);  // µ
  if (unit.size() > 2 && unit.compare(unit.size() - 2, 2, "/h") == 0) unit.resize(unit.size() - 2);
  if (!unit.empty() && unit != "usv" && unit != "ur") return false;
  if (!ParseRate(text.substr(0, number), options.threshold)) return false;
  options.thresholdUnitGiven = !unit.empty();
  options.thresholdRoentgen = unit == "ur";
  return true;
}

// A serial number as the device page shows it, three and five hexadecimal digits ("214-36587"),
// in capitals; false for anything else.
bool NormalSerial(std::string& serial) {
  bool form = serial.size() == 9 && serial[3] == '-';
  for (size_t i = 0; form && i < serial.size(); ++i) {
    if (i == 3) continue;
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(serial[i])));
    form = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
    serial[i] = c;
  }
  return form;
}

}  // namespace

const std::vector<OptionWord>& OptionWords() {
  static const std::vector<OptionWord> options = {
      {"--port", "", "N"},
      {"--lang", "", "en|ru"},
      {"--log", "", "FILE"},
      {"-v", "", ""},
      {"--verbose", "", ""},
      {"-y", "", ""},
      {"--yes", "", ""},
      {"--json", "", ""},
      {"-h", "", ""},
      {"--help", "", ""},
      {"--version", "", ""},
      {"--count", "measure", "N"},
      {"--follow", "measure", ""},
      {"--interval", "measure", "S"},
      {"--interval", "monitor", "S"},
      {"--config", "monitor", "FILE"},
      {"--install-task", "monitor", ""},
      {"--remove-task", "monitor", ""},
      {"--csv", "history download", "FILE"},
      {"--csv", "measure", "FILE"},
      {"--if-drift", "time sync", "S"},
      {"--retries", "firmware update", "N"},
      {"--no-archive", "history download", ""},
      {"--new", "history download", ""},
      {"--device", "archive export", "S"},
      {"--device", "archive import", "S"},
      {"--uid", "archive export", "UID"},
      {"--uid", "archive import", "UID"},
      {"--new-device", "archive import", ""},
      {"--run", "archive export", "N"},
      {"--from", "archive export", "DATE"},
      {"--to", "archive export", "DATE"},
      {"--csv", "archive export", "FILE"},
      {"--xlsx", "archive export", "FILE"},
      {"--unit", "archive export", "sv|r"},
      {"--device", "archive stats", "S"},
      {"--uid", "archive stats", "UID"},
      {"--run", "archive stats", "N"},
      {"--from", "archive stats", "DATE"},
      {"--to", "archive stats", "DATE"},
      {"--threshold", "archive stats", "RATE"},
      {"--unit", "archive stats", "sv|r"},
      {"--confidence", "archive stats", "X"},
      {"--device", "archive compare", "S"},
      {"--uid", "archive compare", "UID"},
      {"--from", "archive compare", "DATE"},
      {"--to", "archive compare", "DATE"},
      {"--with-device", "archive compare", "S"},
      {"--with-from", "archive compare", "DATE"},
      {"--with-to", "archive compare", "DATE"},
      {"--confidence", "archive compare", "X"},
  };
  return options;
}

std::vector<std::string> CompletionWords(const std::vector<std::string>& before) {
  std::vector<std::string> words;
  // An option's value.
  if (!before.empty()) {
    for (const OptionWord& option : OptionWords()) {
      if (before.back() != option.name || !*option.value) continue;
      const std::string value = option.value;
      if (value == "FILE") return {"@file"};
      if (value.find('|') == std::string::npos) return {};
      for (size_t start = 0, bar; start <= value.size(); start = bar + 1) {
        bar = std::min(value.find('|', start), value.size());
        words.push_back(value.substr(start, bar - start));
      }
      return words;
    }
  }
  const std::vector<std::string> command = CommandWordsOf(before);
  auto add = [&](const std::string& word) {
    if (std::find(words.begin(), words.end(), word) == words.end()) words.push_back(word);
  };
  // The command's words, one after the other.
  for (const CommandShape& shape : Shapes()) {
    if (command.size() < shape.words.size() &&
        std::equal(command.begin(), command.end(), shape.words.begin()))
      add(shape.words[command.size()]);
  }
  if (!command.empty() && !words.empty()) return words;
  std::string name;
  for (const CommandShape& shape : Shapes()) {
    if (!StartsWith(command, shape.words)) continue;
    for (const std::string& word : shape.words)
      name += (name.empty() ? "" : " ") + word;
  }
  if (name.empty() && !command.empty()) return {};  // not a command: nothing fits
  if (name == "settings set") {
    for (const SettingName& setting : SettingNames())
      add(std::string(setting.name) + "=");
  }
  for (const OptionWord& option : OptionWords()) {
    if (option.name[1] == '-' && (!*option.command || name == option.command)) add(option.name);
  }
  return words;
}

const std::string& UsageText() {
  static const std::string text =
      "Usage: dravion-cli [--port N] [--lang en|ru] [--log FILE] [-v] [--yes] [--json] COMMAND "
      "[ARGS]\n"
      "\n"
      "Commands:\n"
      "  ports                         the port list, and which ports answer as a Dravion\n"
      "  info                          identify; print the device information lines\n"
      "  settings get                  one line per setting: NAME=VALUE, then the text shown for "
      "it\n"
      "  settings set NAME=VALUE ...   read all, change the named ones, write all\n"
      "  settings default              the default settings, then write all\n"
      "  time show                     the device clock, the computer's, and the drift in seconds\n"
      "  time sync [--if-drift S]      write the PC's local time (with --if-drift only when the\n"
      "                                clock is off by more than S seconds); print the time read "
      "back\n"
      "  calibration set K             the calibration coefficient (\"1,27\" or \"1.27\")\n"
      "  measure [--count N]           N readings a second apart\n"
      "  measure --follow [--interval S] [--csv FILE] [--count N]\n"
      "                                readings every S seconds until Ctrl+C or SIGTERM (or N of\n"
      "                                them), each line appended to FILE as it comes\n"
      "  dose reset                    reset the accumulated dose\n"
      "  history download [--new] [--csv FILE] [--no-archive]\n"
      "                                the whole history ring, merged into the history archive\n"
      "                                (unless --no-archive) and saved as CSV; --new: only the\n"
      "                                records that follow the archive's newest one\n"
      "  history delete                delete the stored history\n"
      "  firmware update [--retries N] the five update steps; N more attempts after a failed "
      "one\n"
      "  restart main|boot             restart into the main program or the boot loader\n"
      "  archive list                  the devices in the history archive, their records and\n"
      "                                conflicts, first and last record\n"
      "  archive export [--device S] [--run N] [--from DATE] [--to DATE] --csv FILE\n"
      "                                the archive's records as Save CSV writes them (DATE:\n"
      "                                YYYY-MM-DD, device time, --to's day included; N: the\n"
      "                                device's run after a clock set back, default the newest)\n"
      "  archive export [...] [--unit sv|r] --xlsx FILE\n"
      "                                the same records as an Excel workbook: records, days,\n"
      "                                a chart of the days, the device and the period\n"
      "  archive stats [--device S] [--run N] [--from DATE] [--to DATE] [--threshold RATE]\n"
      "                [--unit sv|r] [--confidence X]\n"
      "                                figures of the period: records, time covered, gaps, mean,\n"
      "                                highest and lowest rate, dose, time above RATE (0.3usv\n"
      "                                or 30ur, or a number in --unit's unit: sv uSv/h or r\n"
      "                                uR/h; by default the device's unit and alarm threshold\n"
      "                                as its settings were last read); every run of the device\n"
      "                                in the period unless --run N names one; the mean and the\n"
      "                                dose with their intervals from the pulses counted (X:\n"
      "                                0.95 by default)\n"
      "  archive compare [--device S] [--from DATE] [--to DATE] [--with-device T]\n"
      "                [--with-from DATE] [--with-to DATE] [--confidence X]\n"
      "                                the first period's mean rate over the second's, with its\n"
      "                                interval and the chance that counting alone makes such a\n"
      "                                difference; the second period's dates and device are the\n"
      "                                first's unless given (X: 0.95 by default); for two devices\n"
      "                                over the same days, the calibration factor of S against T\n"
      "  archive import [--device S [--uid UID] [--new-device]] FILE\n"
      "                                a file Save CSV wrote, into the archive of device S\n"
      "                                (--new-device: one the archive does not know yet), or\n"
      "                                another history archive file, whole\n"
      "  monitor [--interval S] [--config FILE]\n"
      "                                a station: the device read every second, the mean of each\n"
      "                                S seconds (default 60) kept in the archive, printed and\n"
      "                                sent to the outputs FILE turns on (default: monitor.ini in\n"
      "                                the user's configuration folder), until Ctrl+C or SIGTERM;\n"
      "                                waits for the device when it is away\n"
      "  monitor --install-task [--interval S] [--config FILE]\n"
      "                                Windows: start the monitor, with these options, at each\n"
      "                                logon of this user (a Task Scheduler task, replaced when\n"
      "                                installed again); --remove-task removes it\n"
      "\n"
      "Options:\n"
      "  --port N      use COM N (without it: the first listed port that answers)\n"
      "  --lang en|ru  language of messages (default en)\n"
      "  --log FILE    write the run's log to FILE (Windows-1251, LF line ends)\n"
      "  -v, --verbose also print the log lines to stderr\n"
      "  -y, --yes     answer Yes to every question\n"
      "  --json        ports, info, settings get, measure, monitor, time show, archive list,\n"
      "                archive stats and archive compare print JSON\n"
      "  -h, --help    this text\n"
      "  --version     the program's version\n"
      "\n"
      "Setting names: language, units, background-threshold, dose-threshold, sound, "
      "button-click,\n"
      "  sensor-click, threshold-sound, brightness, display-off, device-off, history-method, "
      "alarm,\n"
      "  alarm-hour, alarm-minute, calibration\n"
      "\n"
      "Exit status: 0 done, 1 the device refused, failed or did not answer, 2 bad usage, 3 no "
      "device found.\n";
  return text;
}

std::string VersionText() {
  return std::string("dravion-cli ") + DRAVION_VERSION + "\n";
}

bool ParseCommandLine(const std::vector<std::string>& args, CliOptions& options,
                      std::string& error) {
  options = CliOptions{};
  bool csvGiven = false, retriesGiven = false, intervalGiven = false, ifDriftGiven = false;
  bool deviceGiven = false, rangeGiven = false, uidGiven = false, configGiven = false;
  bool compareGiven = false, confidenceGiven = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) {
        error = "option " + arg + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    std::string text;
    if (arg == "-h" || arg == "--help") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "-v" || arg == "--verbose") {
      options.verbose = true;
    } else if (arg == "--yes" || arg == "-y") {
      options.yes = true;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--port") {
      if (!value(text)) return false;
      if (!ParseNumber(text, 1, 250, options.port)) {
        error = "--port takes a COM port number from 1 to 250";
        return false;
      }
    } else if (arg == "--lang") {
      if (!value(text)) return false;
      if (text == "en") {
        options.lang = Lang::English;
      } else if (text == "ru") {
        options.lang = Lang::Russian;
      } else {
        error = "--lang takes en or ru";
        return false;
      }
    } else if (arg == "--log") {
      if (!value(options.logFile)) return false;
      if (options.logFile.empty()) {
        error = "--log needs a file name";
        return false;
      }
    } else if (arg == "--count") {
      if (!value(text)) return false;
      if (!ParseNumber(text, 1, 1000000, options.count)) {
        error = "--count takes a number of readings from 1";
        return false;
      }
      options.countGiven = true;
    } else if (arg == "--follow") {
      options.follow = true;
    } else if (arg == "--interval") {
      if (!value(text)) return false;
      if (!ParseNumber(text, 1, 86400, options.interval)) {
        error = "--interval takes whole seconds from 1 to 86400";
        return false;
      }
      intervalGiven = true;
    } else if (arg == "--if-drift") {
      if (!value(text)) return false;
      if (!ParseNumber(text, 0, 1000000000, options.ifDrift)) {
        error = "--if-drift takes whole seconds from 0";
        return false;
      }
      ifDriftGiven = true;
    } else if (arg == "--config") {
      if (!value(options.configFile)) return false;
      if (options.configFile.empty()) {
        error = "--config needs a file name";
        return false;
      }
      configGiven = true;
    } else if (arg == "--install-task") {
      options.installTask = true;
    } else if (arg == "--remove-task") {
      options.removeTask = true;
    } else if (arg == "--csv") {
      if (!value(options.csvFile)) return false;
      if (options.csvFile.empty()) {
        error = "--csv needs a file name";
        return false;
      }
      csvGiven = true;
    } else if (arg == "--retries") {
      if (!value(text)) return false;
      if (!ParseNumber(text, 0, 100, options.retries)) {
        error = "--retries takes a number of further attempts from 0 to 100";
        return false;
      }
      retriesGiven = true;
    } else if (arg == "--no-archive") {
      options.noArchive = true;
    } else if (arg == "--new") {
      options.newOnly = true;
    } else if (arg == "--device") {
      if (!value(options.device)) return false;
      if (!NormalSerial(options.device)) {
        error = "--device takes a serial number as the device shows it, like 214-36587";
        return false;
      }
      deviceGiven = true;
    } else if (arg == "--uid") {
      if (!value(options.uid)) return false;
      if (options.uid.empty()) {
        error = "--uid needs the device's identifier as archive list shows it";
        return false;
      }
      uidGiven = true;
    } else if (arg == "--run") {
      if (!value(text)) return false;
      if (!ParseNumber(text, 1, 100000, options.run)) {
        error = "--run takes the number of a device's run as archive list shows it";
        return false;
      }
    } else if (arg == "--new-device") {
      options.newDevice = true;
    } else if (arg == "--xlsx") {
      if (!value(options.xlsxFile)) return false;
      if (options.xlsxFile.empty()) {
        error = "--xlsx needs a file name";
        return false;
      }
    } else if (arg == "--threshold") {
      if (!value(text)) return false;
      if (!ParseThreshold(text, options)) {
        error =
            "--threshold takes a rate with its unit, like 0.3usv or 30ur (0,3 works too), or a "
            "number in the unit of --unit";
        return false;
      }
      options.thresholdGiven = true;
    } else if (arg == "--unit") {
      if (!value(text)) return false;
      if (text != "sv" && text != "r") {
        error = "--unit takes sv or r";
        return false;
      }
      options.roentgen = text == "r";
      options.unitGiven = true;
    } else if (arg == "--with-device") {
      if (!value(options.withDevice)) return false;
      if (!NormalSerial(options.withDevice)) {
        error = "--with-device takes a serial number as the device shows it, like 214-36587";
        return false;
      }
      compareGiven = true;
    } else if (arg == "--with-from" || arg == "--with-to") {
      if (!value(arg == "--with-from" ? options.withFrom : options.withTo)) return false;
      compareGiven = true;
    } else if (arg == "--confidence") {
      if (!value(text)) return false;
      if (!ParseRate(text, options.confidence) || !(options.confidence > 0) ||
          !(options.confidence < 1)) {
        error = "--confidence takes a number between 0 and 1, like 0.95";
        return false;
      }
      confidenceGiven = true;
    } else if (arg == "--from" || arg == "--to") {
      if (!value(arg == "--from" ? options.from : options.to)) return false;
      rangeGiven = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = "unknown option " + arg;
      return false;
    } else {
      options.command.push_back(arg);
    }
  }
  if (options.help || (options.version && options.command.empty())) return true;
  if (options.command.empty()) {
    error = "no command";
    return false;
  }
  const CommandShape* shape = nullptr;
  for (const CommandShape& s : Shapes()) {
    if (StartsWith(options.command, s.words)) {
      shape = &s;
      break;
    }
  }
  if (shape == nullptr) {
    std::string words;
    for (size_t i = 0; i < options.command.size() && i < 2; ++i)
      words += (i ? " " : "") + options.command[i];
    error = "unknown command: " + words;
    return false;
  }
  const int extra = static_cast<int>(options.command.size() - shape->words.size());
  if (extra < shape->minArgs || (shape->maxArgs >= 0 && extra > shape->maxArgs)) {
    error = "wrong number of arguments for " + options.command[0] +
            (shape->words.size() > 1 ? " " + shape->words[1] : std::string());
    return false;
  }
  const std::string& name = options.command[0];
  const bool isMeasure = name == "measure";
  const bool isMonitor = name == "monitor";
  const bool isDownload = name == "history" && options.command[1] == "download";
  const bool isUpdate = name == "firmware";
  const bool isTimeSync = name == "time" && options.command[1] == "sync";
  const bool isExport = name == "archive" && options.command[1] == "export";
  const bool isImport = name == "archive" && options.command[1] == "import";
  const bool isStats = name == "archive" && options.command[1] == "stats";
  const bool isCompare = name == "archive" && options.command[1] == "compare";
  if (compareGiven && !isCompare) {
    error = "--with-device, --with-from and --with-to belong to archive compare";
    return false;
  }
  if (confidenceGiven && !isCompare && !isStats) {
    error = "--confidence belongs to archive stats and archive compare";
    return false;
  }
  if (isCompare && !compareGiven) {
    error =
        "archive compare needs a second period (--with-from, --with-to) or a second device "
        "(--with-device)";
    return false;
  }
  if (options.countGiven && !isMeasure) {
    error = "--count belongs to measure";
    return false;
  }
  if (options.follow && !isMeasure) {
    error = "--follow belongs to measure";
    return false;
  }
  if (intervalGiven && !isMeasure && !isMonitor) {
    error = "--interval belongs to measure --follow and monitor";
    return false;
  }
  if (isMonitor && !intervalGiven) options.interval = kMonitorIntervalSeconds;
  if (configGiven && !isMonitor) {
    error = "--config belongs to monitor";
    return false;
  }
  if ((options.installTask || options.removeTask) && !isMonitor) {
    error = "--install-task and --remove-task belong to monitor";
    return false;
  }
  if (options.removeTask && (options.installTask || intervalGiven || configGiven)) {
    error = "monitor --remove-task takes no other option of monitor";
    return false;
  }
  if (intervalGiven && isMeasure && !options.follow) {
    error = "--interval needs --follow";
    return false;
  }
  if (ifDriftGiven && !isTimeSync) {
    error = "--if-drift belongs to time sync";
    return false;
  }
  if (csvGiven && !isDownload && !isExport && !(isMeasure && options.follow)) {
    error = "--csv belongs to history download, archive export and measure --follow";
    return false;
  }
  if (options.noArchive && !isDownload) {
    error = "--no-archive belongs to history download";
    return false;
  }
  if (options.newOnly && !isDownload) {
    error = "--new belongs to history download";
    return false;
  }
  if (options.newOnly && options.noArchive) {
    error = "--new reads what the archive lacks: it cannot go with --no-archive";
    return false;
  }
  if (deviceGiven && !isExport && !isImport && !isStats && !isCompare) {
    error = "--device belongs to archive export, stats and import (and archive compare)";
    return false;
  }
  if (uidGiven && !deviceGiven) {
    error = "--uid needs --device S";
    return false;
  }
  if (options.newDevice && !isImport) {
    error = "--new-device belongs to archive import";
    return false;
  }
  if (rangeGiven && !isExport && !isStats && !isCompare) {
    error = "--from and --to belong to archive export and archive stats (and archive compare)";
    return false;
  }
  if (options.run != 0 && !isExport && !isStats) {
    error = "--run belongs to archive export and archive stats";
    return false;
  }
  if (!options.xlsxFile.empty() && !isExport) {
    error = "--xlsx belongs to archive export";
    return false;
  }
  if (options.thresholdGiven && !isStats) {
    error = "--threshold belongs to archive stats";
    return false;
  }
  // The unit of the device's settings read last would change what a bare number means.
  if (options.thresholdGiven && !options.thresholdUnitGiven && !options.unitGiven) {
    error = "--threshold needs its unit: 0.3usv (uSv/h) or 30ur (uR/h), or --unit sv|r";
    return false;
  }
  if (options.unitGiven && !isStats && options.xlsxFile.empty()) {
    error = "--unit belongs to archive stats and archive export --xlsx";
    return false;
  }
  if (isExport && csvGiven == !options.xlsxFile.empty()) {
    error = "archive export needs --csv FILE or --xlsx FILE";
    return false;
  }
  if (retriesGiven && !isUpdate) {
    error = "--retries belongs to firmware update";
    return false;
  }
  if (isDownload && !csvGiven && options.noArchive) {
    error = "history download --no-archive needs --csv FILE";
    return false;
  }
  return true;
}

}  // namespace dravion::cli
