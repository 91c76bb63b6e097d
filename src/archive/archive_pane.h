#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "archive/archive_stats.h"
#include "archive/history_archive.h"
#include "device/history_chart_model.h"
#include "protocol/device_records.h"

namespace dravion {

struct DeviceContext;
class HistoryController;
class HistoryView;
struct SaveFileRequest;

// The history page's archive: every complete download merged into it, and the chart with its
// navigation and the CSV save over the archive's records of one device. The page shows either
// the download (the history controller) or this.
class ArchivePane {
 public:
  ArchivePane(DeviceContext& context, HistoryView& view, HistoryController& download);
  ~ArchivePane();

  // The archive file; DefaultArchivePath() unless set before first use.
  std::string Path;
  // The archive, opened on first use. A file moved aside is told in a box; nullptr, after an
  // error box, when it cannot be used.
  HistoryArchive* Archive();

  // Merges the controller's complete download. The line for the page ("1,204 new records,
  // 64,076 already in the archive"); a failure is told in a box that offers to retry (the
  // download stays savable as CSV), and gives an empty line when the user lets it be.
  std::string MergeDownload();
  // How often a merge that found the archive held by another program is tried before the user
  // is asked, and the pause between tries.
  int BusyTries = 4;
  int BusyPauseMs = 1000;

  // Shows the archive of the connected device, else of the device merged last, else of the only
  // (or first) device, at its newest record's minute. False, with a box, when it holds none.
  bool Show();
  bool Shown() const { return device_ != 0; }
  void Hide() { device_ = 0; }
  const std::string& Serial() const { return serial_; }
  int64_t DeviceId() const { return device_; }
  uint32_t Coefficient() const { return coefficient_; }

  // The unit of the chart: its values and the unit in its title.
  FigureUnit Unit = FigureUnit::Roentgen;
  // Whether the chart shows a monitoring station's readings of the device beside its records.
  bool ShowStation = false;
  // Told after each chart drawn.
  std::function<void()> ChartDrawn;
  bool AskSaveFileName(const SaveFileRequest& request, std::string& name);

  void DrawChart();
  void OnBackClicked();
  void OnForwardClicked();
  void OnUpClicked();
  void OnLatestClicked();
  void OnShowMaximumClicked() { DrawChart(); }
  void OnBarDoubleClicked(int bar);
  // Asks whether the shown period or all of the device's records are saved, then as Save CSV.
  void OnSaveCsvClicked();

  TimeRecord ViewTime;
  int Level = 0;
  HistoryChartData LastChart;

 private:
  std::string Text(const char* russian, const char* english) const;
  // One merge on a worker thread while the window's events keep flowing, with its progress.
  MergeResult MergeAway(HistoryArchive& archive, const ArchiveBatch& batch, std::string& notice);
  // A read of the archive failed: the chart is left; a damaged file goes aside.
  void AfterDamage();
  // Adds the station's readings of the bars' periods to LastChart, with a line in its title.
  void AddStationReadings();

  DeviceContext& context_;
  HistoryView& view_;
  HistoryController& download_;
  std::unique_ptr<HistoryArchive> archive_;
  std::string openError_;   // why the archive could not be opened last
  bool quietOpen_ = false;  // the retry's question tells the reason instead of a box
  int64_t device_ = 0;
  int64_t lastMerged_ = 0;
  std::string serial_;
  std::string runNote_;  // ", run 2 of 2" for a device whose clock was set back
  uint32_t coefficient_ = 100;
  uint32_t latest_ = 0;
};

}  // namespace dravion
