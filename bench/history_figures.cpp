// Figures of the history page: a full-ring download against the emulator on a line paced at
// 230400 baud with realistic device times, by the window (its history page, event loop and
// heartbeat, offscreen) and by the terminal tool (`dravion-cli history download`, its own process),
// one after the other in one run, each next to the line's and the device's own time for the same
// reads; and the chart model's redraw at each zoom level on a downloaded full ring.
//
//   build/bench/history_figures [records [window|cli]]  (both: about 2 x 100 s on the full ring)
//   build/bench/history_figures --chart    (the chart figures only, on a fast line)
//
// The time of the reads is taken on the device's side: from the first read arriving to the last
// answer written. It splits into the line and the device (the floor), what the emulator itself
// adds by waking late for an answer on a busy machine, and the host's time between an answer and
// the next request. Next to the host's time per read, the machine's own paced round trip over a
// pty (one plain thread, and a plain reader thread handing over) shows what any program pays here.

#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

#include <QApplication>
#include <QPushButton>
#include <QTabWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_views.h"
#include "bench_window.h"
#include "connection/connection_core.h"
#include "connection/connection_view.h"
#include "device/device_context.h"
#include "device/device_time.h"
#include "device/history_chart_model.h"
#include "device/history_controller.h"
#include "device_side.h"
#include "log/session_log.h"
#include "protocol/commands.h"
#include "protocol/identification.h"
#include "protocol/link_stack.h"
#include "pty_round_trip.h"
#include "services/clock.h"
#include "services/dialogs.h"
#include "services/event_pump.h"
#include "services/language.h"
#include "services/log_sink.h"
#include "sim/device.h"
#include "support/fakes.h"
#include "ui/device_session.h"
#include "ui/main_window.h"
#include "ui/pages/history_page.h"
#include "ui/qt_services.h"

extern char** environ;

namespace {

using namespace dravion;
using namespace dravion::bench;

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long MaxRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

struct Manager {
  explicit Manager(const std::string& folder, uint32_t baud, bool realistic) {
    sim::DeviceConfig config;
    config.portFolder = folder;
    config.port = 11;
    config.baud = baud;
    config.historyWrap = true;
    config.historyStart = 0x0500;
    config.historySize = 65279;
    if (realistic) config.commandTimeUs = sim::RealisticCommandTimes();
    device = std::make_unique<sim::Device>(config);
    device->Plug();
    stack.port.PortNumber = config.port;
    stack.port.Open(230400);
    core.manager.Connected = core.manager.Identified = true;
    record.Valid = 1;
    record.Soft.MainVersion = 0x0C06;
  }
  ~Manager() {
    stack.port.Close();
    device->Unplug();
  }

  SystemClock clock;
  ThreadEventPump pump{clock};
  QuietDialogs dialogs{true, true};
  NoLog log;
  Language language;
  SilentConnectionView view;
  LinkStack stack{pump, clock, dialogs};
  DeviceCommands commands{stack};
  DeviceInfo record;
  ConnectionCore core{stack, commands, record, view, dialogs, clock, log, language};
  NoFrame frame;
  DeviceContext context{commands, record, core.manager, log, dialogs, language, clock, pump, frame};
  NoHistoryView historyView;
  HistoryController controller{context, historyView};
  std::unique_ptr<sim::Device> device;
};

void ChartFigures(Manager& m) {
  std::printf("\nChart redraw on the full ring (%u records), model alone, median of 21:\n",
              m.controller.Ring.Ring.RecordCount);
  const char* names[] = {"minute", "hour", "day", "month", "year"};
  for (bool peaks : {false, true}) {
    m.historyView.showMaximum = peaks;
    for (int level = 0; level <= 4; ++level) {
      std::vector<double> ms;
      for (int run = 0; run < 21; ++run) {
        m.controller.HistoryViewTime = m.controller.HistoryDeviceTime;
        m.controller.HistoryLevel = level;
        const auto start = std::chrono::steady_clock::now();
        m.controller.DrawHistoryChart();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
      }
      std::sort(ms.begin(), ms.end());
      std::printf("  %-6s %s  %8.3f ms (max %.3f)\n", names[level], peaks ? "+max" : "    ",
                  ms[ms.size() / 2], ms.back());
    }
  }
}

// The history reads of one download as the device saw them.
struct ReadFigures {
  bool ok = false;
  DeviceSide reads;
  double cpu = 0;  // the program's CPU over the whole run (child or this process)
};

DeviceSide ReadsOf(const sim::Device& device) {
  return DeviceSideOf(device.Timings(), [](const sim::ExchangeTiming& t) {
    return t.key == sim::CommandKey(2, 0x02);
  });
}

// The window: main window, device session and history page as the program builds them, the Qt
// event loop on the offscreen platform, the Read button clicked.
ReadFigures WindowDownload(const std::string& folder, uint32_t records) {
  test::MemoryOptionStore options;
  BenchWindow window(options);
  Language& language = window.language;
  ui::MainWindow& form = window.form;
  ui::QtClock clock;
  ui::QtEventPump pump(clock);
  QuietDialogs dialogs{true, true};
  SessionLog log;
  ui::DeviceSession session(form, pump, clock, dialogs, log, language);
  form.ApplyLanguage();
  form.SetLog(&log);
  session.Start();
  form.show();
  auto waitFor = [&](const std::function<bool()>& done, uint32_t ms) {
    const uint32_t start = clock.TickMs();
    while (!done() && clock.TickMs() - start < ms)
      pump.ProcessEvents(clock.TickMs() + 20);
    return done();
  };
  ReadFigures f;
  if (!waitFor([&] { return session.connection.ports.FirstRefresh == 0; }, 5000)) return f;
  sim::Device device(PacedHistoryRing(folder, records));
  device.Plug();
  if (!waitFor([&] { return session.Manager().Connected && session.Manager().Identified; },
               10000)) {
    std::fprintf(stderr, "window: the device was not found\n");
    return f;
  }
  form.findChild<QTabWidget*>(QStringLiteral("PageControl1"))->setCurrentIndex(1);
  device.ClearRecords();
  const double cpuBefore = ProcessCpuSeconds();
  form.findChild<QPushButton*>(QStringLiteral("BitBtn_HIS_Read"))->click();
  const double cpu = ProcessCpuSeconds() - cpuBefore;
  f.reads = ReadsOf(device);
  f.ok = form.History()->Controller()->Ring.Loaded;
  f.cpu = cpu;  // the window's threads and the emulator's
  device.Unplug();
  return f;
}

// The terminal tool in its own process: `dravion-cli --port 11 history download --csv FILE`.
ReadFigures CliDownload(const std::string& folder, uint32_t records) {
  sim::Device device(PacedHistoryRing(folder, records));
  device.Plug();
  const std::string csv = folder + "/history.csv";
  std::vector<std::string> args{DRAVION_CLI_PATH, "--port", "11", "history",
                                "download",       "--csv",  csv};
  std::vector<char*> argv;
  for (std::string& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  ReadFigures f;
  pid_t child = 0;
  if (::posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    std::fprintf(stderr, "cannot start %s\n", argv[0]);
    return f;
  }
  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  f.reads = ReadsOf(device);
  f.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  f.cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
          (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  device.Unplug();
  return f;
}

// This machine's own cost of one paced round trip over a pty, as references for the host's time
// per read: one plain thread, and a plain reader thread handing each answer to a waiting thread.
struct MachineRoundTrip {
  double oneThreadUs = 0;
  double handOffUs = 0;
};

MachineRoundTrip MeasureMachineRoundTrip() {
  constexpr int kExchanges = 1000;
  constexpr int kReadUs = 2840;  // a history read's line and device time
  return {Quantile(RawTurnaround(kExchanges, kReadUs), 0.5),
          Quantile(RawTurnaround(kExchanges, kReadUs, true), 0.5)};
}

void PrintSideBySide(const ReadFigures& window, const ReadFigures& cli,
                     const MachineRoundTrip& machine) {
  const DeviceSide& w = window.reads;
  const DeviceSide& c = cli.reads;
  std::printf("History reads at 230400 baud, realistic device times: window and terminal tool\n");
  std::printf("  %-40s %14s %14s\n", "", "window", "dravion-cli");
  std::printf("  %-40s %14s %14s\n", "download", window.ok ? "complete" : "FAILED",
              cli.ok ? "complete" : "FAILED");
  std::printf("  %-40s %14zu %14zu\n", "reads of 32 bytes", w.exchanges, c.exchanges);
  const auto row = [](const char* name, double a, double b, const char* unit) {
    std::printf("  %-40s %12.3f %s %12.3f %s\n", name, a, unit, b, unit);
  };
  row("reads took (first request to last answer)", w.seconds, c.seconds, "s");
  row("line and device alone", w.floor, c.floor, "s");
  row("  ratio", w.Ratio(), c.Ratio(), " ");
  row("emulator late with its answers", w.late, c.late, "s");
  row("host: answers to next requests", w.host, c.host, "s");
  row("  per read, mean", w.HostMeanUs(), c.HostMeanUs(), "us");
  row("  per read, median", w.hostMedianUs, c.hostMedianUs, "us");
  row("ratio without the emulator's lateness", w.RatioOnTime(), c.RatioOnTime(), " ");
  std::printf(
      "  this machine's paced pty round trip, median: %.1f us with one thread, %.1f us with a "
      "reader thread handing over\n",
      machine.oneThreadUs, machine.handOffUs);
  row("host per read beyond the hand-over, median", w.hostMedianUs - machine.handOffUs,
      c.hostMedianUs - machine.handOffUs, "us");
  std::printf("  %-40s %12.3f s  %12.3f s  (window: with the emulator's thread)\n",
              "CPU of the program", window.cpu, cli.cpu);
}

}  // namespace

int main(int argc, char** argv) {
  const bool chartOnly = argc > 1 && std::strcmp(argv[1], "--chart") == 0;
  const uint32_t records =
      argc > 1 && !chartOnly ? static_cast<uint32_t>(std::atoi(argv[1])) : 65279;
  char pattern[] = "/tmp/dravion-history-bench.XXXXXX";
  const std::string folder = ::mkdtemp(pattern);
  ::setenv("DRAVION_PORT_DIR", folder.c_str(), 1);
  ::setenv("DRAVION_SYSTEM_PORTS", "0", 1);
  if (!chartOnly) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // A second argument runs only one of the two (for profiling).
    const std::string only = argc > 2 ? argv[2] : "";
    const ReadFigures window = only == "cli" ? ReadFigures{} : WindowDownload(folder, records);
    const ReadFigures cli = only == "window" ? ReadFigures{} : CliDownload(folder, records);
    PrintSideBySide(window, cli, MeasureMachineRoundTrip());
  } else {
    Manager m(folder, 0, false);
    const long rssBefore = MaxRssKb();
    const double cpuBefore = ThreadCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const bool ok = m.controller.DownloadHistory() && m.controller.Ring.Loaded;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = ThreadCpuSeconds() - cpuBefore;
    std::printf("Full ring download (unpaced pty): %s, %d reads of 32 bytes, %.3f s\n",
                ok ? "complete" : "FAILED", m.controller.Ring.FlashReads, seconds);
    std::printf("  UI thread CPU        %8.3f s (%.1f%% of the time)\n", cpu,
                100.0 * cpu / seconds);
    std::printf(
        "  max RSS              %ld KiB before, %ld KiB after (copy 1024 KiB, CSV %zu KiB)\n",
        rssBefore, MaxRssKb(), m.controller.Csv.CsvText.size() / 1024);
    if (ok) ChartFigures(m);
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return 0;
}
