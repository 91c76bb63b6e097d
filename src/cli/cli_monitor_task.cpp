// monitor --install-task / --remove-task: the monitor started at the user's logon by Windows'
// Task Scheduler.
#include <filesystem>
#include <ostream>
#include <system_error>

#include "archive/archive_files.h"
#include "cli/cli_pages.h"
#include "cli/cli_session.h"
#include "cli/monitor_task.h"
#include "log/run_log_file.h"

namespace dravion::cli {
namespace {

#ifdef _WIN32
std::string AbsolutePath(const std::string& path) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(PathFromUtf8(path), error);
  return error ? path : Utf8FromPath(absolute.make_preferred());
}

// The task's name for this user, or a message on stderr and false.
bool TaskName(CliSession& s, std::string& name, std::string* sid = nullptr) {
  std::string user, userSid, error;
  if (!CurrentTaskAccount(user, userSid, error)) {
    s.io.err << "dravion-cli: " << s.language.Text("учётная запись: ", "the account: ") << error
             << '\n';
    return false;
  }
  name = MonitorTaskName(user);
  if (sid != nullptr) *sid = userSid;
  return true;
}
#endif

}  // namespace

bool MonitorTaskRefused(CliSession& s) {
#ifdef _WIN32
  (void)s;
  return false;
#else
  s.io.err << "dravion-cli: "
           << s.language.Text(
                  "--install-task и --remove-task есть только в Windows (Планировщик заданий). "
                  "Здесь монитор запускается пользовательским модулем systemd:\n"
                  "  systemctl --user enable --now dravion-monitor\n",
                  "--install-task and --remove-task are for Windows (Task Scheduler). Here the "
                  "monitor runs as a systemd user unit:\n"
                  "  systemctl --user enable --now dravion-monitor\n");
  return true;
#endif
}

int InstallMonitorTask(CliSession& s) {
#ifdef _WIN32
  std::string name, sid;
  if (!TaskName(s, name, &sid)) return kExitFailed;
  const std::string folder = ProgramFolder();
  MonitorTaskDefinition task;
  task.program = folder + kMonitorCompanionName;
  if (folder.empty() || !FileIsThere(task.program)) {
    s.io.err << "dravion-cli: " << task.program
             << s.language.Text(": нет такой программы (она ставится рядом с dravion-cli.exe)",
                                ": no such program (it is installed beside dravion-cli.exe)")
             << '\n';
    return kExitFailed;
  }
  task.arguments = MonitorTaskArguments(s.options, AbsolutePath);
  task.workingFolder = folder.substr(0, folder.size() - 1);
  task.userId = sid;
  task.description =
      s.language.Text("Станция Dravion: dravion-cli monitor при входе пользователя в систему",
                      "Dravion station: dravion-cli monitor at the user's logon");
  std::string xml, error;
  if (!MonitorTaskXml(task, xml)) {
    s.io.err << "dravion-cli: "
             << s.language.Text("управляющий символ в пути или параметре",
                                "a control character in a path or option")
             << '\n';
    return kExitFailed;
  }
  if (RegisterLogonTask(name, xml, error) != TaskOutcome::Done) {
    s.io.err << "dravion-cli: " << s.language.Text("задание ", "task ") << '"' << name
             << "\": " << error << '\n';
    return kExitFailed;
  }
  s.io.out << s.language.Text("Задание \"", "Task \"") << name
           << s.language.Text("\" записано: при каждом входе в систему оно запускает\n",
                              "\" registered: at each logon it runs\n")
           << "  " << QuoteArgument(task.program) << ' ' << JoinArguments(task.arguments) << '\n'
           << s.language.Text("Журнал: ", "Log: ")
           << (s.options.logFile.empty() ? CompanionLogPath(DefaultArchivePath())
                                         : AbsolutePath(s.options.logFile))
           << '\n';
  return kExitDone;
#else
  MonitorTaskRefused(s);
  return kExitUsage;
#endif
}

int RemoveMonitorTask(CliSession& s) {
#ifdef _WIN32
  std::string name, error;
  if (!TaskName(s, name)) return kExitFailed;
  switch (RemoveLogonTask(name, error)) {
    case TaskOutcome::Done:
      s.io.out << s.language.Text("Задание \"", "Task \"") << name
               << s.language.Text("\" удалено\n", "\" removed\n");
      return kExitDone;
    case TaskOutcome::NotThere:
      s.io.out << s.language.Text("Задания \"", "There is no task \"") << name
               << s.language.Text("\" нет: удалять нечего\n", "\": nothing to remove\n");
      return kExitDone;
    case TaskOutcome::Failed:
      break;
  }
  s.io.err << "dravion-cli: " << s.language.Text("задание ", "task ") << '"' << name
           << "\": " << error << '\n';
  return kExitFailed;
#else
  MonitorTaskRefused(s);
  return kExitUsage;
#endif
}

}  // namespace dravion::cli
