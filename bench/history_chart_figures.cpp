// The history chart's redraw at each zoom level on a full ring, from the model to pixels: the
// chart model alone, then the model put into the chart widget and the widget painted (offscreen).
//
//   build/bench/history_chart_figures

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "device/device_time.h"
#include "device/history_chart_model.h"
#include "device/history_ring.h"
#include "services/language.h"
#include "sim/device.h"
#include "ui/history_chart.h"
#include "ui/pages/history_page.h"

using namespace dravion;

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  // A full ring that has run round, as the emulator lays it out.
  sim::DeviceConfig config;
  config.historyWrap = true;
  config.historyStart = 0x0500;
  config.historySize = 65279;
  sim::Device device(config);
  const sim::HistoryDescription shape = device.History();
  const std::vector<uint8_t> flash = device.ReadExternalFlash(kHistoryBase, 65280 * 16);
  HistoryRing ring;
  std::copy(flash.begin(), flash.end(), ring.MutableRecordBytes(0));
  ring.Ring.SectorSize = 4096;
  ring.Ring.SectorCount = 255;
  ring.Ring.RecordCount = shape.count;
  ring.Ring.FirstRecord = shape.first;
  ring.Ring.LastRecord = shape.last;
  ring.Loaded = true;
  const TimeRecord now = TimeRecordFromSeconds(device.DeviceSeconds());

  Language language;
  language.Set(Lang::English);
  ui::HistoryPage page(language);
  page.resize(714, 330);
  page.show();
  QImage canvas(page.Chart()->size(), QImage::Format_ARGB32_Premultiplied);

  std::printf("Chart redraw on a full ring (%u records), median of 15 (max):\n", shape.count);
  std::printf("  %-6s %14s %22s\n", "level", "model", "model + chart, painted");
  const char* names[] = {"minute", "hour", "day", "month", "year"};
  for (int level = 0; level <= 4; ++level) {
    std::vector<double> model, full;
    for (int run = 0; run < 15; ++run) {
      TimeRecord view = now;
      QElapsedTimer timer;
      timer.start();
      const HistoryChartData data = DrawHistoryChart(ring, view, level, 127, true, language);
      model.push_back(timer.nsecsElapsed() / 1e6);
      timer.restart();
      view = now;
      const HistoryChartData again = DrawHistoryChart(ring, view, level, 127, true, language);
      page.ShowChart(again);
      QPainter painter(&canvas);
      page.Chart()->render(&painter);
      painter.end();
      full.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(model.begin(), model.end());
    std::sort(full.begin(), full.end());
    std::printf("  %-6s %8.3f ms (%.3f) %10.3f ms (%.3f)\n", names[level], model[model.size() / 2],
                model.back(), full[full.size() / 2], full.back());
  }
  return 0;
}
