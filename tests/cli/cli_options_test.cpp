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
  EXPECT_EQ(Parse({"calibration", "set", "1,27"}).command.back(), "1,27");
  EXPECT_TRUE(Parse({"--help"}).help);
  EXPECT_TRUE(Parse({"--version"}).version);
  EXPECT_TRUE(Parse({"info", "-h"}).help);
}

TEST(CliOptions, BadUsageIsRefusedWithAReason) {
  ErrorOf({});
  ErrorOf({"--port"});
  ErrorOf({"--port", "0", "info"});
  ErrorOf({"--port", "251", "info"});
  ErrorOf({"--port", "7x", "info"});
  ErrorOf({"--port", "-3", "info"});
  ErrorOf({"--lang", "de", "info"});
  ErrorOf({"--frobnicate", "info"});
  EXPECT_NE(ErrorOf({"fly"}).find("unknown command"), std::string::npos);
  ErrorOf({"settings"});
  ErrorOf({"settings", "get", "extra"});
  ErrorOf({"settings", "set"});
  ErrorOf({"calibration", "set"});
  ErrorOf({"calibration", "set", "1", "2"});
  ErrorOf({"restart"});
  ErrorOf({"restart", "sideways"});
  // Command options belong to their command, and the CSV file is required where the command
  // writes nothing else.
  ErrorOf({"info", "--count", "2"});
  ErrorOf({"measure", "--count", "0"});
  ErrorOf({"history", "download", "--no-archive"});
  EXPECT_TRUE(Parse({"history", "download"}).csvFile.empty());
  ErrorOf({"archive", "export"});
  ErrorOf({"archive", "import", "old.csv"});
  ErrorOf({"archive", "import", "--device", "214-36587"});
  ErrorOf({"archive", "list", "--from", "2026-01-01"});
  ErrorOf({"measure", "--device", "214-36587"});
  ErrorOf({"measure", "--no-archive"});
  const CliOptions exported = Parse(
      {"archive", "export", "--device", "214-36587", "--from", "2026-01-01", "--csv", "a.csv"});
  EXPECT_EQ(exported.device, "214-36587");
  EXPECT_EQ(exported.from, "2026-01-01");
  ErrorOf({"history", "delete", "--csv", "x.csv"});
  ErrorOf({"measure", "--retries", "2"});
  ErrorOf({"firmware", "update", "--retries", "101"});
  ErrorOf({"history", "download", "--csv", ""});
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
                           "--no-archive",
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
