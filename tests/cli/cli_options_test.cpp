#include "cli/cli_options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>

#include "cli/cli_json.h"
#include "cli/cli_settings.h"
#include "device/measurement.h"
#include "services/clock.h"

namespace dravion::cli {
namespace {

CliOptions Parse(std::vector<std::string> args, bool expectOk = true) {
  CliOptions options;
  std::string error;
  EXPECT_EQ(ParseCommandLine(args, options, error), expectOk) << error;
  if (expectOk) {
    EXPECT_EQ(error, "");
  }
  return options;
}

std::string ErrorOf(std::vector<std::string> args) {
  CliOptions options;
  std::string error;
  EXPECT_FALSE(ParseCommandLine(args, options, error));
  EXPECT_FALSE(error.empty());
  return error;
}

TEST(CliOptions, GlobalOptionsAndCommandWords) {
  const CliOptions o = Parse({"--port", "7", "--lang", "ru", "--log", "run.txt", "-v", "--yes",
                              "--json", "settings", "set", "units=1", "sound=0"});
  EXPECT_EQ(o.port, 7);
  EXPECT_EQ(o.lang, Lang::Russian);
  EXPECT_EQ(o.logFile, "run.txt");
  EXPECT_TRUE(o.verbose);
  EXPECT_TRUE(o.yes);
  EXPECT_TRUE(o.json);
  EXPECT_EQ(o.command, (std::vector<std::string>{"settings", "set", "units=1", "sound=0"}));

  const CliOptions d = Parse({"info"});
  EXPECT_EQ(d.port, -1);
  EXPECT_EQ(d.lang, Lang::English);
  EXPECT_FALSE(d.yes);

  EXPECT_EQ(Parse({"measure", "--count", "5"}).count, 5);
  EXPECT_EQ(Parse({"history", "download", "--csv", "h.csv"}).csvFile, "h.csv");
  EXPECT_EQ(Parse({"firmware", "update", "--retries", "3"}).retries, 3);
  EXPECT_EQ(Parse({"firmware", "update"}).retries, 0);
  // A station's reading stands for a minute unless told otherwise.
  EXPECT_EQ(Parse({"monitor"}).interval, 60);
  EXPECT_EQ(Parse({"monitor", "--interval", "5"}).interval, 5);
  EXPECT_EQ(Parse({"calibration", "set", "1,27"}).command.back(), "1,27");
  EXPECT_TRUE(Parse({"--help"}).help);
  EXPECT_TRUE(Parse({"--version"}).version);
  EXPECT_TRUE(Parse({"info", "-h"}).help);
}

TEST(CliOptions, BadUsageIsRefusedWithAReason) {
  struct Case {
    std::vector<std::string> args;
    const char* reason;
  };
  const Case cases[] = {
      {{}, "no command"},
      {{"--port"}, "--port needs a value"},
      {{"--port", "0", "info"}, "--port takes a COM port number from 1 to 250"},
      {{"--port", "251", "info"}, "--port takes a COM port number from 1 to 250"},
      {{"--port", "7x", "info"}, "--port takes a COM port number from 1 to 250"},
      {{"--port", "-3", "info"}, "--port takes a COM port number from 1 to 250"},
      {{"--lang", "de", "info"}, "--lang takes en or ru"},
      {{"--log", "", "info"}, "--log needs a file name"},
      {{"--frobnicate", "info"}, "unknown option --frobnicate"},
      {{"fly"}, "unknown command: fly"},
      {{"settings"}, "unknown command: settings"},
      {{"settings", "get", "extra"}, "wrong number of arguments for settings get"},
      {{"settings", "set"}, "wrong number of arguments for settings set"},
      {{"calibration", "set"}, "wrong number of arguments for calibration set"},
      {{"calibration", "set", "1", "2"}, "wrong number of arguments for calibration set"},
      {{"restart"}, "unknown command: restart"},
      {{"restart", "sideways"}, "unknown command: restart sideways"},
      // Command options belong to their command, and the CSV file is required.
      {{"info", "--count", "2"}, "--count belongs to measure"},
      {{"measure", "--count", "0"}, "--count takes a number of readings from 1"},
      {{"info", "--follow"}, "--follow belongs to measure"},
      {{"info", "--interval", "5"}, "--interval belongs to measure --follow and monitor"},
      {{"monitor", "--interval", "0"}, "--interval takes whole seconds from 1"},
      {{"measure", "--interval", "5"}, "--interval needs --follow"},
      {{"measure", "--follow", "--interval", "0"}, "--interval takes whole seconds from 1"},
      {{"info", "--if-drift", "5"}, "--if-drift belongs to time sync"},
      {{"time", "sync", "--if-drift", "-1"}, "--if-drift takes whole seconds from 0"},
      {{"history", "download", "--no-archive"}, "history download --no-archive needs --csv FILE"},
      {{"history", "delete", "--csv", "x.csv"},
       "--csv belongs to history download, archive export and measure --follow"},
      {{"measure", "--csv", "x.csv"},
       "--csv belongs to history download, archive export and measure --follow"},
      {{"archive", "export"}, "archive export needs --csv FILE or --xlsx FILE"},
      {{"archive", "export", "--csv", "a.csv", "--xlsx", "a.xlsx"},
       "archive export needs --csv FILE or --xlsx FILE"},
      {{"archive", "list", "--xlsx", "a.xlsx"}, "--xlsx belongs to archive export"},
      {{"archive", "stats", "--threshold", "0,3x"}, "--threshold takes a rate"},
      {{"archive", "stats", "--threshold", "-1"}, "--threshold takes a rate"},
      {{"archive", "stats", "--threshold", "1,"}, "--threshold takes a rate"},
      {{"archive", "stats", "--unit", "gy"}, "--unit takes sv or r"},
      {{"archive", "export", "--csv", "a.csv", "--unit", "r"},
       "--unit belongs to archive stats and archive export --xlsx"},
      {{"archive", "export", "--xlsx", "a.xlsx", "--threshold", "1ur"},
       "--threshold belongs to archive stats"},
      {{"archive", "list", "--run", "2"}, "--run belongs to archive export and archive stats"},
      {{"archive", "import", "old.csv", "--device", "21436587"}, "--device takes a serial number"},
      {{"archive", "export", "--csv", "a.csv", "--new-device"},
       "--new-device belongs to archive import"},
      {{"archive", "import", "--device", "214-36587"},
       "wrong number of arguments for archive import"},
      {{"archive", "list", "--from", "2026-01-01"},
       "--from and --to belong to archive export and archive stats"},
      {{"measure", "--device", "214-36587"},
       "--device belongs to archive export, stats and import"},
      {{"measure", "--no-archive"}, "--no-archive belongs to history download"},
      {{"history", "delete", "--new"}, "--new belongs to history download"},
      {{"history", "download", "--new", "--no-archive", "--csv", "x.csv"},
       "--new reads what the archive lacks: it cannot go with --no-archive"},
      {{"measure", "--retries", "2"}, "--retries belongs to firmware update"},
      {{"firmware", "update", "--retries", "101"}, "--retries takes a number of further attempts"},
      {{"history", "download", "--csv", ""}, "--csv needs a file name"},
  };
  for (const Case& c : cases) {
    std::string args;
    for (const std::string& arg : c.args)
      args += " '" + arg + "'";
    EXPECT_NE(ErrorOf(c.args).find(c.reason), std::string::npos)
        << args << ": " << ErrorOf(c.args) << " (expected " << c.reason << ")";
  }
  EXPECT_TRUE(Parse({"history", "download"}).csvFile.empty());
  const CliOptions exported = Parse(
      {"archive", "export", "--device", "214-36587", "--from", "2026-01-01", "--csv", "a.csv"});
  EXPECT_EQ(exported.device, "214-36587");
  EXPECT_EQ(exported.from, "2026-01-01");
  // A rate with either decimal mark, whatever the locale.
  const CliOptions stats =
      Parse({"archive", "stats", "--threshold", "0,35", "--unit", "r", "--to", "2026-02-01"});
  EXPECT_DOUBLE_EQ(stats.threshold, 0.35);
  EXPECT_TRUE(stats.roentgen);
  EXPECT_DOUBLE_EQ(Parse({"archive", "stats", "--threshold", "12.5ur"}).threshold, 12.5);
}

// A threshold is read in the unit given with it ("0.3usv", "30uR/h") or by --unit, never in the
// unit the device's settings happened to have when they were read last.
TEST(CliOptions, TheThresholdTakesItsUnitWithItOrFromUnit) {
  CliOptions o = Parse({"archive", "stats", "--threshold", "0.3usv"});
  EXPECT_DOUBLE_EQ(o.threshold, 0.3);
  EXPECT_TRUE(o.thresholdUnitGiven);
  EXPECT_FALSE(o.thresholdRoentgen);
  EXPECT_FALSE(o.unitGiven);
  o = Parse({"archive", "stats", "--threshold", "30uR/h"});
  EXPECT_DOUBLE_EQ(o.threshold, 30);
  EXPECT_TRUE(o.thresholdRoentgen);
  o = Parse({"archive", "stats", "--threshold", "0,25\xC2\xB5Sv/h", "--unit", "r"});
  EXPECT_DOUBLE_EQ(o.threshold, 0.25);
  EXPECT_FALSE(o.thresholdRoentgen);
  EXPECT_TRUE(o.roentgen);
  o = Parse({"archive", "stats", "--threshold", "0.3", "--unit", "sv"});
  EXPECT_FALSE(o.thresholdUnitGiven);
  EXPECT_TRUE(o.unitGiven);
  EXPECT_NE(ErrorOf({"archive", "stats", "--threshold", "0.3"}).find("--threshold needs its unit"),
            std::string::npos);
  EXPECT_NE(ErrorOf({"archive", "stats", "--threshold", "3mr"}).find("--threshold takes a rate"),
            std::string::npos);
  EXPECT_NE(ErrorOf({"archive", "stats", "--threshold", "usv"}).find("--threshold takes a rate"),
            std::string::npos);
}

TEST(CliOptions, UsageNamesEveryCommandAndSetting) {
  const std::string& usage = UsageText();
  for (const char* word : {"ports",
                           "info",
                           "settings get",
                           "settings set",
                           "settings default",
                           "time sync",
                           "calibration set",
                           "measure",
                           "dose reset",
                           "history download",
                           "history delete",
                           "firmware update",
                           "restart main|boot",
                           "archive list",
                           "archive export",
                           "archive import",
                           "archive stats",
                           "--xlsx",
                           "--no-archive",
                           "--new",
                           "background-threshold",
                           "alarm-minute",
                           "calibration"}) {
    EXPECT_NE(usage.find(word), std::string::npos) << word;
  }
  EXPECT_EQ(usage.back(), '\n');
}

// The shell's completion comes from the parser's own tables; the usage text, the option table and
// the parser must name the same options.
TEST(CliOptions, CompletionFollowsTheCommandTablesAndTheUsageNamesEveryOption) {
  using Words = std::vector<std::string>;
  auto has = [](const Words& words, const std::string& word) {
    return std::find(words.begin(), words.end(), word) != words.end();
  };
  const Words start = CompletionWords({});
  for (const char* word : {"ports", "settings", "history", "restart", "--port", "--json"})
    EXPECT_TRUE(has(start, word)) << word;
  EXPECT_FALSE(has(start, "--count"));
  EXPECT_EQ(CompletionWords({"--port", "7", "settings"}), (Words{"get", "set", "default"}));
  EXPECT_EQ(CompletionWords({"restart"}), (Words{"main", "boot"}));
  const Words set = CompletionWords({"--yes", "settings", "set", "units=1"});
  EXPECT_TRUE(has(set, "units=") && has(set, "alarm-minute=") && has(set, "calibration="));
  EXPECT_EQ(set.size(), SettingNames().size() + 8);  // and the global options
  const Words measure = CompletionWords({"measure"});
  EXPECT_TRUE(has(measure, "--count") && has(measure, "--follow") && has(measure, "--csv") &&
              has(measure, "--lang") && !has(measure, "--if-drift"));
  EXPECT_TRUE(has(CompletionWords({"time", "sync"}), "--if-drift"));
  EXPECT_EQ(CompletionWords({"--lang"}), (Words{"en", "ru"}));
  EXPECT_EQ(CompletionWords({"history", "download", "--csv"}), (Words{"@file"}));
  EXPECT_EQ(CompletionWords({"measure", "--count"}), Words{});
  EXPECT_EQ(CompletionWords({"fly"}), Words{});

  const std::string& usage = UsageText();
  std::set<std::string> tabled;
  for (const OptionWord& option : OptionWords()) {
    tabled.insert(option.name);
    const std::regex named("(^|[ \\[])" + std::string(option.name) + "[ ,\\]]");
    EXPECT_TRUE(std::regex_search(usage, named)) << option.name << " is not in the usage text";
    Words args;
    std::string command = option.command;
    for (size_t start = 0, space; !command.empty() && start <= command.size(); start = space + 1) {
      space = std::min(command.find(' ', start), command.size());
      args.push_back(command.substr(start, space - start));
    }
    args.push_back(option.name);
    if (*option.value) args.push_back(std::string(option.value) == "en|ru" ? "en" : "1");
    CliOptions parsed;
    std::string error;
    ParseCommandLine(args, parsed, error);
    EXPECT_EQ(error.find("unknown option"), std::string::npos) << option.name;
  }
  const std::regex anyOption("[ \\[](--?[a-z][a-z-]*)");
  for (std::sregex_iterator it(usage.begin(), usage.end(), anyOption), end; it != end; ++it)
    EXPECT_TRUE(tabled.count((*it)[1])) << (*it)[1] << " is in the usage text only";
}

TEST(JsonText, EscapesQuotesControlsAndKeepsUtf8) {
  EXPECT_EQ(JsonText("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(JsonText("x\ny\r\t\x01"), "\"x\\ny\\r\\t\\u0001\"");
  EXPECT_EQ(JsonText("мкЗв/ч"), "\"мкЗв/ч\"");
  // Bytes that are not UTF-8 do not fail the output.
  EXPECT_EQ(JsonText("a\xC8"), "\"a\xEF\xBF\xBD\"");
}

TEST(JsonText, DeviceValueTextsAsNumbersAndTimesWithTheirOffset) {
  EXPECT_EQ(JsonText(JsonNumber("0,12")), "0.12");
  EXPECT_EQ(JsonText(JsonNumber("0.0052")), "0.0052");
  EXPECT_EQ(JsonText(JsonNumber(" 150 ")), "150");
  EXPECT_EQ(JsonText(JsonNumber("1,00")), "1.0");
  EXPECT_EQ(JsonText(JsonNumber("-1,5")), "-1.5");
  for (const char* text : {"", " ", "--------", "1,2,3", "1e3", ",", "12 mSv", "0x10"})
    EXPECT_EQ(JsonText(JsonNumber(text)), "null") << text;

  LocalDateTime t{2026, 3, 9, 7, 5, 3, 0, 180};
  EXPECT_EQ(FormatIsoDateTime(t), "2026-03-09T07:05:03+03:00");
  t.utcOffsetMinutes = -330;
  EXPECT_EQ(FormatIsoDateTime(t), "2026-03-09T07:05:03-05:30");
}

}  // namespace
}  // namespace dravion::cli
