#pragma once

#include <string>
#include <vector>

namespace dravion::cli {

struct CliOptions;

// The logon task that starts the monitor for one user (Windows' Task Scheduler): what it runs and
// the task's definition. Building these is plain text work, tested everywhere; registering them
// is the system's (monitor_task_win32.cpp).

// The program the task starts: the windowless companion of dravion-cli, beside it.
inline constexpr const char* kMonitorCompanionName = "dravion-monitor.exe";

// The task's name in Task Scheduler's root folder, which all users share: "Dravion Monitor
// (NAME)" with the account's name, characters that cannot stand in a task's name replaced by "_".
std::string MonitorTaskName(const std::string& userName);

// One argument quoted so that CommandLineToArgvW (and the C runtime) give it back unchanged:
// bare when it holds no blank or quotation mark and is not empty; else in quotation marks, a
// quotation mark inside as \" and the backslashes before a quotation mark (or before the closing
// one) doubled.
std::string QuoteArgument(const std::string& argument);
// The arguments quoted and joined by single spaces.
std::string JoinArguments(const std::vector<std::string>& arguments);

// Text for an XML element's content or an attribute value in quotation marks: & < > " ' as
// entities. Characters that XML 1.0 cannot carry (controls other than tab, line feed and carriage
// return) make it fail: false.
bool EscapeXml(const std::string& text, std::string& escaped);

// The monitor options of a command line as the task passes them on: --port, --lang, --interval,
// --config FILE and --log FILE, files as absolute paths (`absolute` makes one). Terminal options
// (--json, -v, --yes) have nothing to act on in a task and are left out.
std::vector<std::string> MonitorTaskArguments(const CliOptions& options,
                                              std::string (*absolute)(const std::string& path));

// What the task is: the program with its arguments, started in `workingFolder`, at the logon of
// the account `userId` (its SID or DOMAIN\name), with that user's own logon (no password stored,
// no elevation).
struct MonitorTaskDefinition {
  std::string program;  // absolute path
  std::vector<std::string> arguments;
  std::string workingFolder;
  std::string userId;
  std::string description;
};
// The task in Task Scheduler's XML schema (version 1.2): a logon trigger and an interactive-token
// principal for the user, no stop on batteries or idle, no time limit, a second start ignored
// while one runs, three restarts a minute apart after a failure. False when a text cannot be put
// into XML.
bool MonitorTaskXml(const MonitorTaskDefinition& task, std::string& xml);

// The companion's command line: "monitor" and the arguments it was given, with "--log
// `defaultLog`" added unless they name a log file (the companion has no console for its notes).
std::vector<std::string> CompanionArguments(const std::vector<std::string>& arguments,
                                            const std::string& defaultLog);
// The companion's log by default: monitor-log.txt in the archive's folder (empty without one).
std::string CompanionLogPath(const std::string& archivePath);

// Windows only (monitor_task_win32.cpp): registering, reading and removing a task of the root
// folder under the calling user. Each gives the system's reason in `error` when it fails.
enum class TaskOutcome { Done, NotThere, Failed };
TaskOutcome RegisterLogonTask(const std::string& name, const std::string& xml, std::string& error);
TaskOutcome ReadLogonTask(const std::string& name, std::string& xml, std::string& error);
TaskOutcome RemoveLogonTask(const std::string& name, std::string& error);
// The calling user's account for the task: its name (for the task's name) and its SID.
bool CurrentTaskAccount(std::string& userName, std::string& sid, std::string& error);
// The folder of the running program, with its trailing backslash.
std::string ProgramFolder();

}  // namespace dravion::cli
