#include "cli/cli.h"

#include <functional>
#include <map>
#include <ostream>

#include "cli/cli_json.h"
#include "cli/cli_options.h"
#include "cli/cli_pages.h"
#include "cli/cli_session.h"
#include "cli/cli_settings.h"
#include "cli/interrupt.h"
#include "connection/device_mode.h"
#include "firmware/device_information_view.h"
#include "protocol/device_format.h"

namespace dravion::cli {
namespace {

using Handler = std::function<int(CliSession&)>;

// `ports`: every listed port; where the device answers the link test, what its identification
// found (name, serial number, the program it runs), or why it is not a supported device.
int Ports(CliSession& s) {
  bool any = false;
  Json ports = Json::array();
  for (const int port : s.ListedPorts()) {
    Json entry = {{"port", port}, {"answers", false}};
    std::string line = "COM" + std::to_string(port);
    if (s.TryPort(port)) {
      any = true;
      entry["answers"] = true;
      s.WaitForIdentification();
      if (s.core.manager.Identified) {
        Json identity = IdentityJson(s);
        identity.erase("port");
        entry.update(identity);
        line += "  " + s.record.Name + "  S/N " + entry["serial"].get<std::string>();
        if (s.record.Soft.MainVersion == 0)
          line += "  " + s.language.Text("загрузчик", "boot loader");
      } else {
        entry["status"] = s.core.manager.StatusText;
        line += "  " + s.core.manager.StatusText;
      }
    }
    ports.push_back(entry);
    if (!s.options.json) s.io.out << line << '\n' << std::flush;
  }
  s.Release();
  if (s.options.json) PrintJson(s.io, ports);
  return any ? kExitDone : kExitNoDevice;
}

// `info`: the About-device page's lines, or with --json the identity and those lines.
int Info(CliSession& s) {
  const std::vector<std::string> lines = DeviceInformationLines(s.record, s.language);
  if (!s.options.json) {
    for (const std::string& line : lines)
      s.io.out << line << '\n';
    return kExitDone;
  }
  Json info = IdentityJson(s);
  info["lines"] = lines;
  PrintJson(s.io, info);
  return kExitDone;
}

// `restart main|boot`: the restart of the settings page (main) or of the update (boot), with its
// wait until the device is back and the mode it came back in.
int Restart(CliSession& s) {
  const bool toBoot = s.options.command[1] == "boot";
  const std::optional<DeviceIdentity> before = IdentityOf(s.record);
  int result;
  {
    DeviceOperation operation(s.context);
    result = toBoot ? ResetToBoot(s.context.Link()) : ResetToMain(s.context.Link());
  }
  if (result == 0) return kExitDone;
  if (result == kRestartOtherDevice && before) {
    s.dialogs.ShowMessage(BoxKind::Error,
                          OtherDeviceText(s.language, *before, IdentityOf(s.record)));
  } else if (result == -2) {
    s.io.err << (toBoot ? s.language.Text("Прибор перезапустился в основную программу",
                                          "The device came back in its main program")
                        : s.language.Text("Прибор перезапустился в загрузчик",
                                          "The device came back in its boot loader"))
             << '\n';
  } else {
    s.io.err << s.language.Text("Ошибка перезагрузки прибора", "Error restarting Device") << '\n';
  }
  return kExitFailed;
}

// Commands that need no device, and those that run once the device was found and identified.
const std::map<std::string, Handler>& PortCommands() {
  static const std::map<std::string, Handler> commands = {{"ports", Ports},
                                                          {"archive list", ArchiveList},
                                                          {"archive export", ArchiveExport},
                                                          {"archive import", ArchiveImport},
                                                          {"archive stats", ArchiveStats},
                                                          {"archive compare", ArchiveCompare},
                                                          {"monitor", Monitor}};
  return commands;
}

const std::map<std::string, Handler>& DeviceCommandsByName() {
  static const std::map<std::string, Handler> commands = {
      {"info", Info},
      {"settings get", SettingsGet},
      {"settings set", SettingsSet},
      {"settings default", SettingsDefault},
      {"time sync", TimeSync},
      {"time show", TimeShow},
      {"calibration set", CalibrationSet},
      {"measure", Measure},
      {"dose reset", DoseReset},
      {"history download", HistoryDownload},
      {"history delete", HistoryDelete},
      {"firmware update", FirmwareUpdate},
      {"restart main", Restart},
      {"restart boot", Restart},
  };
  return commands;
}

std::string CommandName(const CliOptions& options) {
  std::string name = options.command[0];
  if (options.command.size() > 1 && name != "measure" && name != "ports" && name != "info" &&
      name != "monitor")
    name += " " + options.command[1];
  return name;
}

// The command's own words, checked before any device traffic.
bool CheckArguments(const CliOptions& options, std::string& error) {
  const std::string name = CommandName(options);
  if (name == "settings set") {
    std::vector<SettingChange> changes;
    return ParseSettingChanges({options.command.begin() + 2, options.command.end()}, changes,
                               error);
  }
  if (name == "calibration set" && ParseCoefficient(options.command[2]) < 0) {
    error = "calibration set takes K as 1,27 or 1.27";
    return false;
  }
  return true;
}

int RunCommand(CliSession& session) {
  const std::string name = CommandName(session.options);
  if (const auto it = PortCommands().find(name); it != PortCommands().end()) {
    return it->second(session);
  }
  const auto it = DeviceCommandsByName().find(name);
  if (it == DeviceCommandsByName().end()) {
    session.io.err << "dravion-cli: " << name << ": not available in this build\n";
    return kExitUsage;
  }
  const int connected = session.Connect();
  if (connected != kExitDone) return connected;
  int status = it->second(session);
  if (status == kExitDone && session.dialogs.refused) status = kExitFailed;
  return status;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, CliIo& io, Clock* clock, EventPump* waits,
           const StackWatch& watch) {
  // The shell's completion asks for the words that may follow (see CompletionWords).
  if (!args.empty() && args[0] == "--complete") {
    for (const std::string& word : CompletionWords({args.begin() + 1, args.end()}))
      io.out << word << '\n';
    return kExitDone;
  }
  CliOptions options;
  std::string error;
  const bool parsed = ParseCommandLine(args, options, error);
  if (parsed && options.help) {
    io.out << UsageText();
    return kExitDone;
  }
  if (parsed && options.version) {
    io.out << VersionText();
    return kExitDone;
  }
  if (!parsed || !CheckArguments(options, error)) {
    io.err << "dravion-cli: " << error << '\n' << kTryHelp << '\n';
    return kExitUsage;
  }
  CliSession session(io, options, clock, waits);
  if (watch) watch(&session.stack);
  int status = RunCommand(session);
  session.Release();
  if (watch) watch(nullptr);
  // The log is written however the command ended, an interrupt included.
  if (!session.Finish() && status == kExitDone) status = kExitFailed;
  if (const int signal = InterruptWatch::Signal(); signal != 0) {
    io.err << session.language.Text("Прервано", "Interrupted") << '\n';
    status = InterruptWatch::ExitStatus(signal);
  }
  io.out.flush();
  return status;
}

}  // namespace dravion::cli
