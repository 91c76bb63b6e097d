// Figures of the history page: a full-ring download against the emulator on a line paced at
// 230400 baud with realistic device times, compared with the line's own time for the same
// exchanges; and the chart model's redraw at each zoom level on the downloaded full ring.
//
//   build/bench/history_figures            (paced download, about 2 minutes, then the chart)
//   build/bench/history_figures --chart    (the chart figures only, on a fast line)

#include <stdlib.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "connection/connection_core.h"
#include "connection/connection_view.h"
#include "device/device_context.h"
#include "device/device_time.h"
#include "device/history_chart_model.h"
#include "device/history_controller.h"
#include "protocol/commands.h"
#include "protocol/frame_codec.h"
#include "protocol/identification.h"
#include "protocol/link_stack.h"
#include "services/clock.h"
#include "services/dialogs.h"
#include "services/event_pump.h"
#include "services/language.h"
#include "services/log_sink.h"
#include "sim/device.h"

namespace {

using namespace dravion;

class QuietDialogs : public Dialogs {
 public:
  void ShowMessage(BoxKind, const std::string& text) override {
    std::fprintf(stderr, "box: %s\n", text.c_str());
  }
  bool Ask(QuestionKind, const std::string&) override { return true; }
  bool AskText(const std::string&, const std::string&, std::string&) override { return false; }
};

class NoFrame : public DeviceFrame {
 public:
  void SetPagesEnabled(bool) override {}
  void ShowBusy(int) override {}
  void HideBusy() override {}
};

class NoLog : public LogSink {
 public:
  void LogLine(const std::string&) override {}
};

class NoHistoryView : public HistoryView {
 public:
  void ShowVersionMessage(const std::string&) override {}
  void SetReading(bool) override {}
  void SetDeleteEnabled(bool) override {}
  void SetSaveEnabled(bool) override {}
  void SetNavigationEnabled(bool) override {}
  void SetProgressMaximum(int) override {}
  void SetProgress(int) override {}
  void ShowChart(const HistoryChartData&) override {}
  bool ShowMaximumTicked() const override { return showMaximum; }
  bool AskSaveFileName(const SaveFileRequest&, std::string&) override { return false; }
  bool showMaximum = false;
};

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

size_t Encoded(const std::vector<uint8_t>& payload) {
  TSlipTx encoder;
  return encoder.Encode(payload.data(), static_cast<uint16_t>(payload.size()));
}

void Put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i)
    v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

// The line bytes of the 32,640 pair reads: request and answer frames as they go on the wire.
size_t ReadLineBytes(sim::Device& device) {
  size_t total = 0;
  const std::vector<uint8_t> flash = device.ReadExternalFlash(kHistoryBase, 65280 * 16);
  for (uint32_t p = 0; p < 65280; p += 2) {
    const uint32_t address = kHistoryBase + 16 * p;
    std::vector<uint8_t> request{0x00, 0x02, 0x00, 0x01, 0x02, 0x02};
    Put32(request, address);
    request.push_back(32);
    std::vector<uint8_t> answer{0x00, 0x02, 0x00, 0x01, 0x42, 0x02};
    Put32(answer, address);
    answer.push_back(32);
    answer.insert(answer.end(), flash.begin() + 16 * p, flash.begin() + 16 * p + 32);
    total += Encoded(request) + Encoded(answer);
  }
  return total;
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
  QuietDialogs dialogs;
  NoLog log;
  Language language;
  SilentConnectionView view;
  LinkStack stack{pump, clock, dialogs};
  DeviceCommands commands{stack};
  TV8DeviceInfo record;
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

}  // namespace

int main(int argc, char** argv) {
  const bool chartOnly = argc > 1 && std::strcmp(argv[1], "--chart") == 0;
  char pattern[] = "/tmp/dravion-history-bench.XXXXXX";
  const std::string folder = ::mkdtemp(pattern);
  ::setenv("DRAVION_PORT_DIR", folder.c_str(), 1);
  ::setenv("DRAVION_SYSTEM_PORTS", "0", 1);
  {
    const uint32_t baud = chartOnly ? 0 : 230400;
    Manager m(folder, baud, !chartOnly);
    const long rssBefore = MaxRssKb();
    const double cpuBefore = ThreadCpuSeconds();
    const double processBefore = ProcessCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const bool ok = m.controller.DownloadHistory() && m.controller.Ring.Loaded;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = ThreadCpuSeconds() - cpuBefore;
    const double processCpu = ProcessCpuSeconds() - processBefore;
    const size_t lineBytes = ReadLineBytes(*m.device);
    std::printf("Full ring download (%s): %s, %d reads of 32 bytes\n",
                chartOnly ? "unpaced pty" : "230400 baud, realistic device times",
                ok ? "complete" : "FAILED", m.controller.Ring.FlashReads);
    std::printf("  measured             %8.3f s\n", seconds);
    if (!chartOnly) {
      const double line = lineBytes * 10.0 / baud;
      const double device = 32640 * 150e-6;  // the emulator's realistic time of a flash read
      std::printf("  line bytes           %zu (requests and answers, SLIP-escaped)\n", lineBytes);
      std::printf("  line time            %8.3f s   ratio %.3f\n", line, seconds / line);
      std::printf("  line + device time   %8.3f s   ratio %.3f\n", line + device,
                  seconds / (line + device));
    }
    std::printf("  UI thread CPU        %8.3f s (%.1f%% of the time)\n", cpu,
                100.0 * cpu / seconds);
    std::printf("  process CPU          %8.3f s (manager, its reader thread and the emulator)\n",
                processCpu);
    std::printf(
        "  max RSS              %ld KiB before, %ld KiB after (copy 1024 KiB, CSV %zu KiB)\n",
        rssBefore, MaxRssKb(), m.controller.Csv.CsvText.size() / 1024);
    if (ok) ChartFigures(m);
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return 0;
}
