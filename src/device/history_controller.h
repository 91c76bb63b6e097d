#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "device/history_chart_model.h"
#include "device/history_csv.h"
#include "device/history_ring.h"
#include "protocol/device_records.h"
#include "services/file_replace.h"

namespace dravion {

struct DeviceContext;

// What the save dialog is asked to show.
struct SaveFileRequest {
  std::string Title;
  std::string Filter;  // "description|pattern"
  std::string DefaultSuffix;
};

// The history page as its controller sees it.
class HistoryView {
 public:
  virtual ~HistoryView() = default;
  // The access message beside the buttons (empty: none).
  virtual void ShowVersionMessage(const std::string& text) = 0;
  // While reading, the read button reads Cancel and the page cannot be left.
  virtual void SetReading(bool reading) = 0;
  virtual void SetDeleteEnabled(bool enabled) = 0;
  virtual void SetSaveEnabled(bool enabled) = 0;
  // The navigation row (back, up, forward, last, show maximum).
  virtual void SetNavigationEnabled(bool enabled) = 0;
  virtual void SetProgressMaximum(int maximum) = 0;
  virtual void SetProgress(int position) = 0;
  virtual void ShowChart(const HistoryChartData& chart) = 0;
  virtual bool ShowMaximumTicked() const = 0;
  // The save dialog, pre-filled with `name`; false when cancelled, else the chosen name.
  virtual bool AskSaveFileName(const SaveFileRequest& request, std::string& name) = 0;
};

// The history page's sequences: downloading the device's ring with progress and cancel, deleting
// it, the five-level chart with its navigation, and saving the CSV text. Runs on the thread of
// the event pump; every wait keeps events flowing.
class HistoryController {
 public:
  HistoryController(DeviceContext& context, HistoryView& view);

  // Read (Cancel while reading).
  void OnReadClicked();
  // Reads the whole ring into the copy and builds the CSV text. True after a complete or
  // cancelled download, false after an error (shown in a box).
  bool DownloadHistory();
  void OnDeleteClicked();
  // Connected, identified and running a main program of the carried release; the page's message
  // says why not.
  bool CheckHistoryAccess();

  // Chart navigation; nothing happens before a complete download.
  void OnBackClicked();
  void OnForwardClicked();
  void OnUpClicked();
  void OnLatestClicked();
  void OnShowMaximumClicked();
  void OnBarDoubleClicked(int bar);
  void DrawHistoryChart();

  void OnSaveCsvClicked();
  // Writes the CSV text to `name` with the overwrite question and the file error boxes; the
  // file that was there is replaced only by a complete new one. True when written.
  bool SaveCsv(const std::string& name);
  // The same question and boxes around another writer of the file (given the test seam).
  bool SaveFile(const std::string& name,
                const std::function<FileWriteResult(const FileStepHook&)>& write);

  // Whether leaving the page is allowed now.
  bool PageChangeAllowed() const { return !HistoryReading; }

  HistoryRing Ring;
  HistoryCsv Csv;
  bool HistoryReading = false;
  bool HistoryCancel = false;
  TimeRecord HistoryDeviceTime;
  TimeRecord HistoryViewTime;
  int HistoryLevel = 0;
  uint32_t HistoryCoefficient = 100;
  std::string LastSavedName;
  HistoryChartData LastChart;
  // Test seam for the file steps of the CSV save.
  FileStepHook FileHook;
  // Called when a download has completed, after its chart is drawn (the archive's merge).
  std::function<void()> DownloadCompleted;

 private:
  std::string Text(const char* russian, const char* english) const;
  void ShowWaitingChart();

  DeviceContext& context_;
  HistoryView& view_;
};

}  // namespace dravion
