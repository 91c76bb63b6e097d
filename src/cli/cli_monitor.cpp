#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <system_error>

#include "archive/archive_files.h"
#include "archive/station_store.h"
#include "cli/cli_json.h"
#include "cli/cli_pages.h"
#include "cli/cli_session.h"
#include "connection/connection_manager.h"
#include "log/run_log_file.h"
#include "monitor/metrics_server.h"
#include "monitor/monitor_config.h"
#include "monitor/monitor_station.h"
#include "monitor/mqtt_output.h"
#include "monitor/network_output.h"
#include "services/number_text.h"

namespace dravion::cli {
namespace {

// A mean for printing: four decimals at most, a point whatever the locale.
Json MeanJson(double value) {
  return std::round(value * 10000) / 10000;
}

// The station's readings and notes on the terminal: one line (or JSON object) per reading on
// stdout, the notes on stderr.
class TerminalStationView : public StationView {
 public:
  explicit TerminalStationView(CliSession& s) : s_(s) {}

  void OnReading(const StationReading& r, bool kept) override {
    LocalDateTime local = ShiftedBy(LocalDateTime{1970, 1, 1, 0, 0, 0, 0, r.utcOffsetMinutes},
                                    r.time + static_cast<int64_t>(r.utcOffsetMinutes) * 60);
    if (s_.options.json) {
      // As measure --json prints a reading, with the interval's means and the count rate.
      Json reading;
      reading["time"] = FormatIsoDateTime(local);
      reading["rate"] = r.rate ? MeanJson(*r.rate) : Json(nullptr);
      reading["rateUnit"] = r.rateUnit;
      reading["usvh"] = r.microSievertPerHour ? MeanJson(*r.microSievertPerHour) : Json(nullptr);
      reading["cpm"] = MeanJson(r.cpm);
      reading["dose"] = r.dose;
      reading["doseValue"] = JsonNumber(r.dose);
      reading["doseUnit"] = r.doseUnit;
      reading["seconds"] = r.seconds;
      reading["samples"] = r.samples;
      reading["serial"] = r.serial;
      reading["kept"] = kept;
      PrintJson(s_.io, reading);
      return;
    }
    s_.io.out << FormatIsoDateTime(local) << "  ";
    if (r.rate) s_.io.out << FixedDecimal(*r.rate, 2) << ' ' << r.rateUnit << "  ";
    s_.io.out << FixedDecimal(r.cpm, 1) << " CPM";
    if (!r.dose.empty())
      s_.io.out << "  " << s_.language.Text("доза ", "dose ") << r.dose << ' ' << r.doseUnit;
    s_.io.out << "  (" << r.samples << '/' << r.seconds << " s)\n" << std::flush;
  }

  void Note(const std::string& text) override {
    s_.io.err << text << '\n' << std::flush;
    s_.log.LogLine(text);
    // A station runs for months and may end by force (a power cut, taskkill /f): its log file,
    // when it has one, holds every note from the moment it is said. Notes are few.
    if (!s_.options.logFile.empty() &&
        !WriteRunLogFile(s_.options.logFile, s_.log.Lines(), s_.logEarlier) && !logFailed_) {
      logFailed_ = true;
      s_.io.err << s_.language.Text("Не удалось записать журнал в ", "Could not write the log to ")
                << s_.options.logFile << '\n';
    }
  }

 private:
  CliSession& s_;
  bool logFailed_ = false;
};

// Why the monitor cannot run: on stderr, and in the run log, which is all that the windowless
// companion of a logon task leaves. `status` kExitConfig when the configuration must be mended
// first (a service manager does not start it again by itself then).
int Refuse(CliSession& s, const std::string& reason, int status = kExitFailed) {
  s.io.err << "dravion-cli: " << reason << '\n';
  s.log.LogLine(reason);
  return status;
}

// The station's configuration: --config FILE, else the user's monitor.ini. A missing default file
// is written, every output commented out, for the user to fill in; a missing --config file, or
// one that cannot be used, ends the command.
bool LoadConfig(CliSession& s, MonitorConfig& config) {
  const bool given = !s.options.configFile.empty();
  const std::string path = given ? s.options.configFile : DefaultMonitorConfigPath();
  if (path.empty()) return true;
  std::string error;
  bool missing = false;
  if (LoadMonitorConfig(path, config, error, missing)) return true;
  if (!missing || given) {
    Refuse(s, error, kExitConfig);
    return false;
  }
  if (WritePrivateFile(path, MonitorConfigTemplate(), error)) {
    s.io.err << s.language.Text("Выходы не настроены; настройки для заполнения записаны в ",
                                "No outputs are configured; a configuration to fill in was "
                                "written to ")
             << path << '\n';
  } else {
    s.io.err << s.language.Text("Выходы не настроены; не удалось записать ",
                                "No outputs are configured; could not write ")
             << error << '\n';
  }
  return true;
}

// A station's log (--log) keeps the runs before this one, so that a restart (at the next logon,
// after a failure) does not lose what the last run said; a log over kMonitorLogRotateBytes is
// moved aside to NAME.1.EXT (replacing the one before) and begun anew.
constexpr uintmax_t kMonitorLogRotateBytes = 1024 * 1024;

void KeepEarlierRuns(CliSession& s) {
  if (s.options.logFile.empty()) return;
  const std::filesystem::path file = PathFromUtf8(s.options.logFile);
  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(file, error);
  if (error) return;  // none yet
  if (size > kMonitorLogRotateBytes) {
    std::filesystem::path aside = file;
    aside.replace_extension(".1" + file.extension().string());
    std::filesystem::rename(file, aside, error);
    if (!error) return;
  }
  std::ifstream in(file, std::ios::binary);
  std::string bytes(static_cast<size_t>(std::min<uintmax_t>(size, 2 * kMonitorLogRotateBytes)),
                    '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  if (!bytes.empty() && bytes.back() != '\n') bytes += '\n';
  s.logEarlier = std::move(bytes);
}

}  // namespace

int Monitor(CliSession& s) {
  if ((s.options.installTask || s.options.removeTask) && MonitorTaskRefused(s)) return kExitUsage;
  if (s.options.removeTask) return RemoveMonitorTask(s);
  if (!s.options.installTask) KeepEarlierRuns(s);
  // A task is installed only with a configuration that the monitor would take.
  MonitorConfig config;
  if (!LoadConfig(s, config)) return kExitConfig;
  std::vector<std::unique_ptr<NetworkOutput>> networks;
  if (std::string error; !MakeNetworkOutputs(config, networks, error))
    return Refuse(s, config.path + ": " + error, kExitConfig);
  if (s.options.installTask) return InstallMonitorTask(s);
  MetricsServer metrics;
  if (config.Has("prometheus")) {
    std::string error;
    const std::string listen = config.Get("prometheus", "listen", "127.0.0.1:9750");
    if (!metrics.Start(listen, error)) return Refuse(s, error);
    s.io.err << s.language.Text("Метрики: http://", "Metrics: http://") << listen << "/metrics\n";
  }
  const std::string archive = DefaultArchivePath();
  StationStore store;
  if (!store.Open(archive, config.station))
    return Refuse(
        s, s.language.Text("Архив недоступен: ", "The archive cannot be used: ") + store.Error());
  // The device as found now, if it is there; from then on (or when it is not) the connection
  // manager looks for it in the heartbeat, as the window's automatic mode does, or on --port.
  const int found = s.Connect();
  ConnectionManager& m = s.core.manager;
  if (found != kExitDone) {
    if (s.pump.QuitRequested()) return kExitFailed;
    if (s.options.port > 0) {
      m.ConnectionMode = kManualPort;
      m.ManualPortNumber = m.SelectedPort = s.options.port;
    } else {
      m.ConnectionMode = kAutoWatch;
    }
  }
  TerminalStationView view(s);
  MonitorStation station(s.context, store, view, s.options.interval);
  const StationLimits limits = StationLimitsOf(config);
  station.SetLimits(limits.keepDays, limits.queueMax);
  if (config.Has("prometheus")) station.AddOutput(&metrics);
  std::optional<MqttOutput> mqtt;
  if (config.Has("mqtt")) {
    mqtt.emplace(config);
    mqtt->note = [&station](const std::string& text) { station.PostOutputNote("mqtt", text); };
    mqtt->counted = [&metrics, &station](const OutputCounts& counts) {
      metrics.Count("mqtt", counts);
      station.PostOutputCounts("mqtt", counts);
    };
    if (std::string error; !mqtt->Start(archive, error))
      return Refuse(s, config.path + ": " + error);
    station.AddOutput(&*mqtt);
  }
  for (const std::unique_ptr<NetworkOutput>& output : networks) {
    output->note = [&station, name = output->Name()](const std::string& text) {
      station.PostOutputNote(name, text);
    };
    output->counted = [&metrics, &station, name = output->Name()](const OutputCounts& counts) {
      metrics.Count(name, counts);
      station.PostOutputCounts(name, counts);
    };
    if (std::string error; !output->Start(archive, error)) {
      Refuse(s, error);
      for (const std::unique_ptr<NetworkOutput>& started : networks)
        started->Stop();  // before the station their notes go to
      if (mqtt) mqtt->Stop();
      return kExitFailed;
    }
    station.AddOutput(output.get());
  }
  station.Run();
  // What the outputs hold stays queued in the archive; their threads end at once.
  for (const std::unique_ptr<NetworkOutput>& output : networks)
    output->Stop();
  if (mqtt) mqtt->Stop();
  metrics.Stop();
  // Readings that the archive never took are lost: not a clean end.
  return station.Unkept() > 0 ? kExitFailed : kExitDone;
}

}  // namespace dravion::cli
