#include "cli/monitor_task.h"

#include <algorithm>
#include <string_view>

#include "cli/cli_options.h"

namespace dravion::cli {

std::string MonitorTaskName(const std::string& userName) {
  std::string name = userName;
  for (char& c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos) c = '_';
  }
  return "Dravion Monitor (" + name + ")";
}

std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos)
    return argument;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count double only before a quotation mark.
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    quoted += c;
    backslashes = 0;
  }
  quoted.append(backslashes * 2, '\\');  // before the closing quotation mark
  return quoted + '"';
}

std::string JoinArguments(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& argument : arguments)
    line += (line.empty() ? "" : " ") + QuoteArgument(argument);
  return line;
}

bool EscapeXml(const std::string& text, std::string& escaped) {
  escaped.clear();
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&apos;";
        break;
      default:
        escaped += c;
    }
  }
  return true;
}

std::vector<std::string> MonitorTaskArguments(const CliOptions& options,
                                              std::string (*absolute)(const std::string& path)) {
  std::vector<std::string> arguments;
  if (options.port > 0) arguments.insert(arguments.end(), {"--port", std::to_string(options.port)});
  if (options.lang == Lang::Russian) arguments.insert(arguments.end(), {"--lang", "ru"});
  arguments.insert(arguments.end(), {"--interval", std::to_string(options.interval)});
  if (!options.configFile.empty())
    arguments.insert(arguments.end(), {"--config", absolute(options.configFile)});
  if (!options.logFile.empty())
    arguments.insert(arguments.end(), {"--log", absolute(options.logFile)});
  return arguments;
}

bool MonitorTaskXml(const MonitorTaskDefinition& task, std::string& xml) {
  std::string user, program, arguments, folder, description;
  if (!EscapeXml(task.userId, user) || !EscapeXml(task.program, program) ||
      !EscapeXml(JoinArguments(task.arguments), arguments) ||
      !EscapeXml(task.workingFolder, folder) || !EscapeXml(task.description, description))
    return false;
  // Handed over as UTF-16 text, which the declaration says.
  xml =
      "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n"
      "<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\n"
      "  <RegistrationInfo>\n"
      "    <Description>" +
      description +
      "</Description>\n"
      "  </RegistrationInfo>\n"
      "  <Triggers>\n"
      "    <LogonTrigger>\n"
      "      <Enabled>true</Enabled>\n"
      "      <UserId>" +
      user +
      "</UserId>\n"
      "    </LogonTrigger>\n"
      "  </Triggers>\n"
      "  <Principals>\n"
      "    <Principal id=\"Author\">\n"
      "      <UserId>" +
      user +
      "</UserId>\n"
      "      <LogonType>InteractiveToken</LogonType>\n"
      "      <RunLevel>LeastPrivilege</RunLevel>\n"
      "    </Principal>\n"
      "  </Principals>\n"
      "  <Settings>\n"
      "    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>\n"
      "    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>\n"
      "    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>\n"
      "    <AllowHardTerminate>true</AllowHardTerminate>\n"
      "    <StartWhenAvailable>false</StartWhenAvailable>\n"
      "    <RunOnlyIfNetworkAvailable>false</RunOnlyIfNetworkAvailable>\n"
      "    <IdleSettings>\n"
      "      <StopOnIdleEnd>false</StopOnIdleEnd>\n"
      "      <RestartOnIdle>false</RestartOnIdle>\n"
      "    </IdleSettings>\n"
      "    <AllowStartOnDemand>true</AllowStartOnDemand>\n"
      "    <Enabled>true</Enabled>\n"
      "    <Hidden>false</Hidden>\n"
      "    <RunOnlyIfIdle>false</RunOnlyIfIdle>\n"
      "    <WakeToRun>false</WakeToRun>\n"
      "    <ExecutionTimeLimit>PT0S</ExecutionTimeLimit>\n"
      "    <Priority>7</Priority>\n"
      "    <RestartOnFailure>\n"
      "      <Interval>PT1M</Interval>\n"
      "      <Count>3</Count>\n"
      "    </RestartOnFailure>\n"
      "  </Settings>\n"
      "  <Actions Context=\"Author\">\n"
      "    <Exec>\n"
      "      <Command>" +
      program +
      "</Command>\n"
      "      <Arguments>" +
      arguments +
      "</Arguments>\n"
      "      <WorkingDirectory>" +
      folder +
      "</WorkingDirectory>\n"
      "    </Exec>\n"
      "  </Actions>\n"
      "</Task>\n";
  return true;
}

std::vector<std::string> CompanionArguments(const std::vector<std::string>& arguments,
                                            const std::string& defaultLog) {
  std::vector<std::string> line = {"monitor"};
  line.insert(line.end(), arguments.begin(), arguments.end());
  const bool logGiven = std::find(arguments.begin(), arguments.end(), "--log") != arguments.end();
  if (!logGiven && !defaultLog.empty()) line.insert(line.end(), {"--log", defaultLog});
  return line;
}

std::string CompanionLogPath(const std::string& archivePath) {
  const size_t slash = archivePath.find_last_of("\\/");
  if (slash == std::string::npos) return {};
  return archivePath.substr(0, slash + 1) + "monitor-log.txt";
}

}  // namespace dravion::cli
