// Where the host spends its time between an answer and the next request, during a history
// download against the emulator paced at 230400 baud with realistic device times. Every history
// read is cut into the steps the manager takes, stamped on one steady clock:
//   reader   the emulator wrote the answer's last byte -> the reader thread filed the frame
//   wake     filed -> the user-interface thread's wait in the event pump returned
//   answer   the wait returned -> the flash read returned with the record pair
//   between  the read returned -> the next flash read was asked for (ring copy, CSV, progress)
//   request  the next read was asked for -> the emulator read the request from its port
// and, on the device's side, how late the emulator itself delivered its answers.
//
//   build/bench/exchange_breakdown [thread|cli|qt|window] [records]
// thread: the core's event pump; cli: the terminal tool's pump with its heartbeat every 100 ms;
// qt: the window's pump over the Qt event loop (offscreen); window: the whole window with its
// history page, heartbeat and timers. Default: thread, 16000 records.

#include <stdlib.h>

#include <QApplication>
#include <QPushButton>
#include <QTabWidget>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench_views.h"
#include "bench_window.h"
#include "cli/cli_services.h"
#include "connection/connection_core.h"
#include "connection/connection_view.h"
#include "device/device_context.h"
#include "device/history_controller.h"
#include "device_side.h"
#include "log/session_log.h"
#include "protocol/commands.h"
#include "protocol/identification.h"
#include "protocol/link_stack.h"
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

namespace {

using namespace dravion;
using namespace dravion::bench;

int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Time stamps written by one thread, read after that thread has stopped.
struct Stamps {
  explicit Stamps(size_t capacity) : at(capacity) {}
  void Add() {
    const size_t i = count.fetch_add(1, std::memory_order_relaxed);
    if (i < at.size()) at[i] = NowUs();
  }
  size_t Size() const { return std::min(count.load(), at.size()); }
  std::vector<int64_t> at;
  std::atomic<size_t> count{0};
};

// The pump under test, with the moment each of its waits returns.
class StampedPump : public EventPump {
 public:
  StampedPump(EventPump& inner, Stamps& returns) : inner_(inner), returns_(returns) {}
  void ProcessEvents(uint32_t deadlineTick) override {
    inner_.ProcessEvents(deadlineTick);
    returns_.Add();
  }
  void Wake() override { inner_.Wake(); }

 private:
  EventPump& inner_;
  Stamps& returns_;
};

// The first stamp at or after `t` from position `from` on (moves `from` along), or -1.
int64_t NextAtOrAfter(const Stamps& s, size_t& from, int64_t t) {
  while (from < s.Size() && s.at[from] < t)
    ++from;
  return from < s.Size() ? s.at[from] : -1;
}

struct Mean {
  void Add(double v) {
    sum += v;
    values.push_back(v);
  }
  double Average() const { return values.empty() ? 0 : sum / values.size(); }
  double Median() {
    if (values.empty()) return 0;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
  }
  double sum = 0;
  std::vector<double> values;
};

// Cuts each history read into its steps and prints the means and medians.
void Report(const std::string& mode, uint32_t records, const sim::Device& device, bool ok,
            double seconds, const Stamps& filed, const Stamps& returns, const Stamps& asked,
            const Stamps& answered) {
  // The history reads as the device saw them, with the host's stamps in between.
  std::vector<sim::ExchangeTiming> reads;
  for (const sim::ExchangeTiming& t : device.Timings()) {
    if (t.key == sim::CommandKey(2, 0x02)) reads.push_back(t);
  }
  Mean reader, wake, answer, between, request, gap, late, exchange, floor;
  size_t f = 0, r = 0, a = 0, q = 0;
  for (size_t i = 0; i + 1 < reads.size(); ++i) {
    const sim::ExchangeTiming& t = reads[i];
    const int64_t filedAt = NextAtOrAfter(filed, f, t.writtenUs);
    const int64_t returnedAt = NextAtOrAfter(returns, r, filedAt);
    const int64_t answeredAt = NextAtOrAfter(answered, a, returnedAt);
    const int64_t askedAt = NextAtOrAfter(asked, q, answeredAt);
    const int64_t next = reads[i + 1].arrivalUs;
    if (filedAt < 0 || returnedAt < 0 || answeredAt < 0 || askedAt < 0 || askedAt > next) continue;
    reader.Add(filedAt - t.writtenUs);
    wake.Add(returnedAt - filedAt);
    answer.Add(answeredAt - returnedAt);
    between.Add(askedAt - answeredAt);
    request.Add(next - askedAt);
    gap.Add(next - t.writtenUs);
    late.Add(t.writtenUs - t.idealEndUs);
    exchange.Add(next - t.arrivalUs);
    floor.Add(t.idealEndUs - t.arrivalUs);
  }
  std::printf("pump %s: %u records, %zu reads %s in %.2f s; %zu exchanges cut into steps\n",
              mode.c_str(), records, reads.size(), ok ? "complete" : "FAILED", seconds,
              gap.values.size());
  std::printf("  %-34s %9s %9s\n", "per exchange, microseconds", "mean", "median");
  const auto row = [](const char* name, Mean& m) {
    std::printf("  %-34s %9.1f %9.1f\n", name, m.Average(), m.Median());
  };
  row("line and device (floor)", floor);
  row("emulator late with its answer", late);
  row("host: answer -> next request", gap);
  row("  reader thread files the frame", reader);
  row("  event pump wakes the waiter", wake);
  row("  exchange returns the pair", answer);
  row("  ring copy, CSV, progress", between);
  row("  request written and read", request);
  row("whole exchange", exchange);
  std::printf("  host share of the floor: %.2f%% (mean)\n",
              100.0 * gap.Average() / std::max(1.0, floor.Average()));
}

// The whole window: main window, device session and history page, the Read button clicked.
void WindowRun(const std::string& folder, uint32_t records, Stamps& filed, Stamps& returns,
               Stamps& asked, Stamps& answered) {
  test::MemoryOptionStore options;
  BenchWindow window(options);
  Language& language = window.language;
  ui::MainWindow& form = window.form;
  ui::QtClock clock;
  ui::QtEventPump qtPump(clock);
  StampedPump pump(qtPump, returns);
  QuietDialogs dialogs{true, true};
  SessionLog log;
  ui::DeviceSession session(form, pump, clock, dialogs, log, language);
  session.stack.port.SetFrameFiled([&] {
    filed.Add();
    pump.Wake();
  });
  form.ApplyLanguage();
  form.SetLog(&log);
  session.Start();
  form.show();
  auto waitFor = [&](const std::function<bool()>& done) {
    const uint32_t start = clock.TickMs();
    while (!done() && clock.TickMs() - start < 10000)
      qtPump.ProcessEvents(clock.TickMs() + 20);
    return done();
  };
  if (!waitFor([&] { return session.connection.ports.FirstRefresh == 0; })) return;
  sim::Device device(PacedHistoryRing(folder, records));
  device.Plug();
  if (!waitFor([&] { return session.Manager().Connected && session.Manager().Identified; })) {
    std::fprintf(stderr, "window: the device was not found\n");
    return;
  }
  form.findChild<QTabWidget*>(QStringLiteral("PageControl1"))->setCurrentIndex(1);
  HistoryController& controller = *form.History()->Controller();
  auto read = controller.Ring.ReadFlash;
  controller.Ring.ReadFlash = [&](uint32_t address, uint8_t* dest, int count) {
    asked.Add();
    const int got = read(address, dest, count);
    answered.Add();
    return got;
  };
  device.ClearRecords();
  const auto start = std::chrono::steady_clock::now();
  form.findChild<QPushButton*>(QStringLiteral("BitBtn_HIS_Read"))->click();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  session.stack.port.Close();  // the reader thread has stopped: its stamps may be read
  Report("window", records, device, controller.Ring.Loaded, seconds, filed, returns, asked,
         answered);
  device.Unplug();
}
}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "thread";
  const uint32_t records = argc > 2 ? static_cast<uint32_t>(std::atoi(argv[2])) : 16000;
  if (mode != "thread" && mode != "cli" && mode != "qt" && mode != "window") {
    std::fprintf(stderr, "usage: exchange_breakdown [thread|cli|qt|window] [records]\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  char pattern[] = "/tmp/dravion-breakdown.XXXXXX";
  const std::string folder = ::mkdtemp(pattern);
  ::setenv("DRAVION_PORT_DIR", folder.c_str(), 1);
  ::setenv("DRAVION_SYSTEM_PORTS", "0", 1);

  const size_t capacity = records + 4096;
  Stamps filed(capacity), returns(capacity * 4), asked(capacity), answered(capacity);
  if (mode != "window") {
    SystemClock clock;
    ThreadEventPump threadPump(clock);
    cli::HeartbeatPump heartbeatPump(clock, threadPump);
    ui::QtEventPump qtPump(clock);
    EventPump& inner = mode == "qt"    ? static_cast<EventPump&>(qtPump)
                       : mode == "cli" ? static_cast<EventPump&>(heartbeatPump)
                                       : static_cast<EventPump&>(threadPump);
    StampedPump pump(inner, returns);

    const sim::DeviceConfig config = PacedHistoryRing(folder, records);
    sim::Device device(config);
    device.Plug();

    QuietDialogs dialogs{true, true};
    NoLog log;
    Language language;
    SilentConnectionView view;
    LinkStack stack(pump, clock, dialogs);
    stack.port.SetFrameFiled([&] {
      filed.Add();
      pump.Wake();
    });
    DeviceCommands commands(stack);
    DeviceInfo record;
    ConnectionCore core(stack, commands, record, view, dialogs, clock, log, language);
    NoFrame frame;
    DeviceContext context{commands, record, core.manager, log,  dialogs,
                          language, clock,  pump,         frame};
    NoHistoryView historyView;
    HistoryController controller(context, historyView);
    auto read = controller.Ring.ReadFlash;
    controller.Ring.ReadFlash = [&](uint32_t address, uint8_t* dest, int count) {
      asked.Add();
      const int got = read(address, dest, count);
      answered.Add();
      return got;
    };
    heartbeatPump.heartbeat = [&] { core.manager.OnHeartbeatTimer(); };
    stack.port.PortNumber = config.port;
    stack.port.Open(230400);
    core.manager.Connected = core.manager.Identified = true;
    core.manager.ConnectionMode = kAutoWatch;
    record.Valid = 1;
    record.Soft.MainVersion = 0x0C06;

    const auto start = std::chrono::steady_clock::now();
    const bool ok = controller.DownloadHistory() && controller.Ring.Loaded;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    heartbeatPump.heartbeat = nullptr;
    stack.port.Close();  // the reader thread has stopped: its stamps may be read

    Report(mode, records, device, ok, seconds, filed, returns, asked, answered);
    device.Unplug();
  }
  if (mode == "window") WindowRun(folder, records, filed, returns, asked, answered);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return 0;
}
