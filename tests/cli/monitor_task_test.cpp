// The logon task of monitor --install-task: the command line it runs (CommandLineToArgvW's
// rules), its XML definition, and the options that lead there.
#include "cli/monitor_task.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "cli/cli.h"
#include "cli/cli_options.h"
#include "support/scratch_folder.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h.
#include <shellapi.h>

#include "services/wide_text_win32.h"
#endif

namespace dravion::cli {
namespace {

using Words = std::vector<std::string>;

// Paths as Windows users have them: blanks, Cyrillic, a folder with its trailing backslash, and
// quotation marks and backslashes where only a hostile or careless name puts them.
const Words kAwkwardArguments = {"--config",
                                 "C:\\Users\\Иван Петров\\Станция\\monitor.ini",
                                 "C:\\Program Files\\Dravion Manager\\",
                                 "C:\\plain\\path.ini",
                                 "",
                                 "say \"hi\"",
                                 "back\\\"slash",
                                 "two\\\\",
                                 "tab\there",
                                 "\\\\server\\share\\a b\\\\"};

TEST(MonitorTask, ArgumentsAreQuotedByCommandLineToArgvWsRules) {
  EXPECT_EQ(QuoteArgument("--interval"), "--interval");
  // Backslashes stand for themselves unless a quotation mark follows.
  EXPECT_EQ(QuoteArgument("C:\\plain\\path.ini"), "C:\\plain\\path.ini");
  EXPECT_EQ(QuoteArgument("C:\\Users\\Иван Петров\\m.ini"), "\"C:\\Users\\Иван Петров\\m.ini\"");
  // 2n backslashes before the closing quotation mark give n.
  EXPECT_EQ(QuoteArgument("C:\\Program Files\\Dravion Manager\\"),
            "\"C:\\Program Files\\Dravion Manager\\\\\"");
  // 2n+1 backslashes before a quotation mark give n and the mark itself.
  EXPECT_EQ(QuoteArgument("say \"hi\""), "\"say \\\"hi\\\"\"");
  EXPECT_EQ(QuoteArgument("back\\\"slash"), "\"back\\\\\\\"slash\"");
  EXPECT_EQ(QuoteArgument(""), "\"\"");
  EXPECT_EQ(QuoteArgument("tab\there"), "\"tab\there\"");
  EXPECT_EQ(JoinArguments({"--interval", "60", "--config", "C:\\a b\\c.ini"}),
            "--interval 60 --config \"C:\\a b\\c.ini\"");
#ifdef _WIN32
  // The system's own parser gives every argument back as it was.
  const std::wstring line = L"\"C:\\Program Files\\Dravion Manager\\dravion-monitor.exe\" " +
                            WideFromUtf8(JoinArguments(kAwkwardArguments));
  int count = 0;
  LPWSTR* parsed = ::CommandLineToArgvW(line.c_str(), &count);
  ASSERT_NE(parsed, nullptr);
  Words back;
  for (int i = 1; i < count; ++i)
    back.push_back(Utf8FromWide(parsed[i]));
  ::LocalFree(parsed);
  EXPECT_EQ(back, kAwkwardArguments);
#endif
}

TEST(MonitorTask, TheDefinitionIsEscapedXmlWithTheSettingsOfAStation) {
  MonitorTaskDefinition task;
  task.program = "C:\\Users\\Иван & Ко\\Dravion\\dravion-monitor.exe";
  task.arguments = {"--interval", "60", "--config", "C:\\Users\\Иван & Ко\\<станция>.ini"};
  task.workingFolder = "C:\\Users\\Иван & Ко\\Dravion";
  task.userId = "S-1-5-21-1004336348-1177238915-682003330-1001";
  task.description = "Dravion station 'at logon'";
  std::string xml;
  ASSERT_TRUE(MonitorTaskXml(task, xml));
  auto has = [&](const std::string& part) {
    EXPECT_NE(xml.find(part), std::string::npos) << part << "\nin\n" << xml;
  };
  has("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<Task version=\"1.2\" "
      "xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">");
  has("<Command>C:\\Users\\Иван &amp; Ко\\Dravion\\dravion-monitor.exe</Command>");
  has("<Arguments>--interval 60 --config &quot;C:\\Users\\Иван &amp; "
      "Ко\\&lt;станция&gt;.ini&quot;</Arguments>");
  has("<WorkingDirectory>C:\\Users\\Иван &amp; Ко\\Dravion</WorkingDirectory>");
  has("<Description>Dravion station &apos;at logon&apos;</Description>");
  // This user's logon starts it, as this user, without a stored password or elevation.
  has("<LogonTrigger>\n      <Enabled>true</Enabled>\n      <UserId>" + task.userId +
      "</UserId>\n    </LogonTrigger>");
  has("<Principal id=\"Author\">\n      <UserId>" + task.userId +
      "</UserId>\n      <LogonType>InteractiveToken</LogonType>\n      "
      "<RunLevel>LeastPrivilege</RunLevel>");
  has("<Actions Context=\"Author\">");
  // Runs on batteries and for ever, once, and again after a failure.
  has("<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>");
  has("<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>");
  has("<StopOnIdleEnd>false</StopOnIdleEnd>");
  has("<ExecutionTimeLimit>PT0S</ExecutionTimeLimit>");
  has("<MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>");
  has("<RestartOnFailure>\n      <Interval>PT1M</Interval>\n      <Count>3</Count>");
  // A control character cannot be carried by XML 1.0: refused, not passed on.
  task.arguments.push_back("bell\a");
  EXPECT_FALSE(MonitorTaskXml(task, xml));
}

TEST(MonitorTask, TheTaskTakesTheMonitorsOptionsWithAbsolutePathsAndTheCompanionItsLog) {
  CliOptions options;
  std::string error;
  ASSERT_TRUE(
      ParseCommandLine({"--port", "7", "--lang", "ru", "-v", "--json", "monitor", "--install-task",
                        "--interval", "30", "--config", "st.ini", "--log", "notes.txt"},
                       options, error))
      << error;
  EXPECT_TRUE(options.installTask);
  auto absolute = [](const std::string& path) { return "D:\\Станция\\" + path; };
  EXPECT_EQ(MonitorTaskArguments(options, absolute),
            (Words{"--port", "7", "--lang", "ru", "--interval", "30", "--config",
                   "D:\\Станция\\st.ini", "--log", "D:\\Станция\\notes.txt"}));
  ASSERT_TRUE(ParseCommandLine({"monitor", "--install-task"}, options, error)) << error;
  EXPECT_EQ(MonitorTaskArguments(options, absolute), (Words{"--interval", "60"}));

  const std::string log = CompanionLogPath(
      "C:\\Users\\Иван\\AppData\\Local\\Dravion "
      "Manager\\history-archive.sqlite3");
  EXPECT_EQ(log, "C:\\Users\\Иван\\AppData\\Local\\Dravion Manager\\monitor-log.txt");
  EXPECT_EQ(CompanionArguments({"--interval", "60"}, log),
            (Words{"monitor", "--interval", "60", "--log", log}));
  EXPECT_EQ(CompanionArguments({"--log", "D:\\mine.txt"}, log),
            (Words{"monitor", "--log", "D:\\mine.txt"}));
  EXPECT_EQ(CompanionArguments({}, ""), Words{"monitor"});

  // A name the root folder can hold, one per user.
  EXPECT_EQ(MonitorTaskName("Иван"), "Dravion Monitor (Иван)");
  EXPECT_EQ(MonitorTaskName("a\\b/c:d*e?f\"g<h>i|j"), "Dravion Monitor (a_b_c_d_e_f_g_h_i_j)");

  for (const Words& wrong : {Words{"measure", "--install-task"}, Words{"ports", "--remove-task"},
                             Words{"monitor", "--remove-task", "--interval", "5"},
                             Words{"monitor", "--remove-task", "--install-task"}}) {
    EXPECT_FALSE(ParseCommandLine(wrong, options, error)) << wrong[1];
    EXPECT_NE(error.find("task"), std::string::npos) << error;
  }
}

// The companion has no console: why the monitor could not start must be in its log too.
TEST(MonitorTask, AMonitorThatCannotStartSaysWhyInTheLog) {
  test::ScratchFolder folder("monitor-refused");
  const std::string config = folder.Utf8() + "/station.ini";
  const std::string log = folder.Utf8() + "/monitor-log.txt";
  std::ofstream(config) << "[nosuch]\n";
  std::filesystem::permissions(
      config, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  std::ostringstream out, err;
  std::istringstream in;
  CliIo io{out, err, in, false, false};
  EXPECT_EQ(RunCli({"monitor", "--config", config, "--log", log}, io), kExitConfig);
  const std::string said = err.str();
  ASSERT_EQ(said.rfind("dravion-cli: ", 0), 0u) << said;
  const std::string reason = said.substr(13, said.find('\n') - 13);
  std::ifstream file(log, std::ios::binary);
  const std::string logged{std::istreambuf_iterator<char>(file), {}};
  EXPECT_NE(logged.find(reason), std::string::npos) << reason << "\nnot in\n" << logged;
}

#ifndef _WIN32
// Elsewhere both options are refused before anything else is done (a missing configuration file
// would otherwise be the message), pointing at the systemd unit.
TEST(MonitorTask, OutsideWindowsTheOptionsPointAtTheSystemdUserUnit) {
  for (const Words& args : {Words{"monitor", "--install-task", "--config", "/nonexistent/m.ini"},
                            Words{"monitor", "--remove-task"}}) {
    std::ostringstream out, err;
    std::istringstream in;
    CliIo io{out, err, in, false, false};
    EXPECT_EQ(RunCli(args, io), kExitUsage) << args[1];
    EXPECT_NE(err.str().find("systemctl --user enable --now dravion-monitor"), std::string::npos)
        << err.str();
    EXPECT_EQ(err.str().find("nonexistent"), std::string::npos) << err.str();
    EXPECT_EQ(out.str(), "");
  }
}
#endif

}  // namespace
}  // namespace dravion::cli
