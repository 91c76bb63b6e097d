// CPU of the window while the measuring page is open with its trend shown and every reading
// recorded to a file: the real window, device session and serial stack on real time, the
// emulator in a child process (its CPU is not counted), one automatic reading a second. The
// process's CPU over the run is scaled to an hour.
//
//   xvfb-run -a build/bench/trend_figures [seconds, default 600] [--bare]
//
// --bare runs the same page without the trend (detached from the page) and without recording,
// for the cost of the readings alone.
// Without a display it runs on the offscreen platform (painting into memory).
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench_window.h"
#include "lifecycle/options.h"
#include "log/session_log.h"
#include "services/language.h"
#include "sim/device.h"
#include "ui/device_session.h"
#include "ui/main_window.h"
#include "ui/pages/measurement_page.h"
#include "ui/qt_services.h"

using namespace dravion;

namespace {

class NoOptions : public OptionStore {
 public:
  std::optional<int64_t> ReadInt(const std::string&) override { return std::nullopt; }
  bool WriteInt(const std::string&, int64_t) override { return true; }
  std::optional<std::string> ReadText(const std::string&) override { return std::nullopt; }
};

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool WaitFor(const std::function<bool()>& done, int ms) {
  QElapsedTimer waited;
  waited.start();
  while (!done() && waited.elapsed() < ms)
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 600;
  const bool bare = argc > 2 && std::string(argv[2]) == "--bare";
  char folderTemplate[] = "/tmp/dravion-trend-XXXXXX";
  const char* folder = ::mkdtemp(folderTemplate);
  if (!folder) return 2;
  ::setenv("DRAVION_PORT_DIR", folder, 1);
  ::setenv("DRAVION_SYSTEM_PORTS", "0", 1);

  // The emulator in a child, started before any thread of this process; plugged in on a signal
  // once the manager watches the ports (ports present at the first scan are never candidates).
  int go[2];
  if (::pipe(go) != 0) return 2;
  const pid_t child = ::fork();
  if (child == 0) {
    char byte = 0;
    if (::read(go[0], &byte, 1) != 1) std::_Exit(0);
    sim::DeviceConfig config;
    config.portFolder = folder;
    config.baud = 230400;
    config.commandTimeUs = sim::RealisticCommandTimes();
    sim::Device device(config);
    device.Plug();
    ::pause();
    std::_Exit(0);
  }

  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  NoOptions options;
  bench::BenchWindow window(options);
  Language& language = window.language;
  ui::MainWindow& form = window.form;
  form.ApplyLanguage();
  form.SetActivePage(0);
  form.show();
  ui::QtClock clock;
  ui::QtEventPump pump(clock);
  ui::QtDialogs dialogs(language, &form);
  SessionLog log;
  form.SetLog(&log);
  ui::DeviceSession session(form, pump, clock, dialogs, log, language);
  session.Start();
  WaitFor([&] { return session.connection.ports.FirstRefresh == 0; }, 5000);
  if (::write(go[1], "g", 1) != 1) return 2;
  if (!WaitFor([&] { return session.trend.Readings().size() >= 2; }, 20000)) {
    std::fprintf(stderr, "no readings from the emulated device\n");
    ::kill(child, SIGTERM);
    return 1;
  }
  QTemporaryDir files;
  const std::string file = files.filePath(QStringLiteral("readings.csv")).toStdString();
  if (bare) {
    form.MeasuringPage()->SetTrend(nullptr, nullptr, nullptr);
    session.measurement.RemoveListener(&session.trend);
    session.measurement.RemoveListener(&session.recorder);
  } else {
    session.recorder.Start(file);
  }

  const double cpuStart = CpuSeconds();
  QElapsedTimer wall;
  wall.start();
  QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
  app.exec();
  const double cpu = CpuSeconds() - cpuStart;
  const double elapsed = wall.elapsed() / 1000.0;
  const int lines = session.recorder.Lines();
  session.recorder.Stop();
  ::kill(child, SIGTERM);
  ::waitpid(child, nullptr, 0);

  std::printf(bare ? "Measuring page open, no trend, no recording (%s)\n"
                   : "Measuring page open, trend shown (%s), every reading recorded to a file\n",
              qPrintable(QGuiApplication::platformName()));
  std::printf("  run                  %.0f s, %d readings recorded, %zu in the trend\n", elapsed,
              lines, session.trend.Readings().size());
  std::printf("  manager CPU          %.2f s  = %.2f %% of one core\n", cpu, 100 * cpu / elapsed);
  std::printf("  scaled to an hour    %.1f s CPU per hour\n", cpu * 3600 / elapsed);
  std::error_code ignored;  // the killed emulator leaves its port link behind
  std::filesystem::remove_all(folder, ignored);
  return 0;
}
