#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device/history_chart_model.h"
#include "device/history_continuation.h"
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
  // The file name to offer when there is no earlier one (no folder: the dialog picks it).
  std::string SuggestedName;
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
  // One line beside the chart: how far the download under way is, what the last one brought,
  // or that the history was deleted; empty clears it.
  virtual void ShowSummary(const std::string& /*text*/) {}
};

// The history page's sequences: downloading the device's ring with progress and cancel, deleting
// it, the five-level chart with its navigation, and saving the CSV text. Runs on the thread of
// the event pump; every wait keeps events flowing.
class HistoryController {
 public:
  HistoryController(DeviceContext& context, HistoryView& view);

  // Read (Cancel while reading).
  void OnReadClicked();
  // Read new (Cancel while reading): the records that follow what the archive holds of the
  // device (ArchivedEndOfDevice tells it), with Read's progress, cancel and page guard.
  void OnReadNewClicked();
  // Reads the whole ring into the copy and builds the CSV text. True after a complete or
  // cancelled download, false after an error (shown in a box).
  bool DownloadHistory();
  // Reads only the records that follow `archived` in the ring (the whole ring when the ring does
  // not continue it, with the reason in LastContinuation and the log), in the same session of
  // the device as the whole ring's download and with its checks, progress and cancel. The CSV
  // text holds the records read. True after a complete or cancelled read, false after an error.
  bool DownloadNewHistory(const std::optional<ArchivedEnd>& archived);
  // The records of the last complete read, oldest first (the whole ring after a download, the
  // new ones after a read of new records).
  std::vector<HistoryRecord> ReadRecords() const;
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
  // The view moves to the newest record, at the same level (offered when a view is empty).
  void OnNewestClicked();
  void DrawHistoryChart();
  // Shows again what the page shows now, in the current language: the waiting chart, the chart
  // of the view, or the note that the history was deleted.
  void RefreshChart();
  // The start of the newest record with status 0 of the downloaded copy; nothing without one.
  std::optional<uint32_t> NewestRecordStart();
  // The name a save dialog offers for `what` ("history", "chart") of the downloaded copy.
  std::string SuggestedName(const std::string& what, const std::string& suffix) const;
  // "N records read, newest at <date> <time>" (or that there are none) for the downloaded copy.
  std::string SummaryText();
  // The download's progress after `sectorsDone` of `sectors`: records read, the percentage and,
  // from the first sector on, the time left at the pace so far.
  std::string ProgressText(uint32_t sectorsDone, uint32_t sectors, uint32_t elapsedMs) const;

  void OnSaveCsvClicked();
  // Writes the CSV text to `name` with the overwrite question and the file error boxes; the
  // file that was there is replaced only by a complete new one. True when written.
  bool SaveCsv(const std::string& name);
  // The same question and boxes around another writer of the file (given the test seam).
  bool SaveFile(const std::string& name,
                const std::function<FileWriteResult(const FileStepHook&)>& write);

  // What the archive holds of the connected device (nothing: the whole ring is read); asked by
  // Read new.
  std::function<std::optional<ArchivedEnd>()> ArchivedEndOfDevice;

  // Whether leaving the page is allowed now.
  bool PageChangeAllowed() const { return !HistoryReading; }
  // Whether the chart of the downloaded copy is shown (not after a delete in the device).
  bool ChartShown() const { return Ring.Loaded && !HistoryDeleted; }

  HistoryRing Ring;
  HistoryCsv Csv;
  bool HistoryReading = false;
  bool HistoryCancel = false;
  // The history was deleted in the device after the last download: its chart is no longer
  // shown, while its CSV text can still be saved.
  bool HistoryDeleted = false;
  TimeRecord HistoryDeviceTime;
  TimeRecord HistoryViewTime;
  int HistoryLevel = 0;
  uint32_t HistoryCoefficient = 100;
  std::string LastSavedName;
  // The serial number of the device the downloaded copy came from (empty when unknown).
  std::string HistorySerial;
  HistoryChartData LastChart;
  // Test seam for the file steps of the CSV save.
  FileStepHook FileHook;
  // Called when a download has completed, after its chart is drawn (the archive's merge); also
  // when Read new has completed (ReadFrom then says which records it read).
  std::function<void()> DownloadCompleted;
  // A read in the background: its cancel, failure or unplug goes to the log instead of a box.
  bool Quiet = false;
  // The last read: complete, the first logical index it read (0: the whole ring), and where the
  // ring continued the archive (a read of new records only).
  bool ReadComplete = false;
  uint32_t ReadFrom = 0;
  Continuation LastContinuation;

 private:
  std::string Text(const char* russian, const char* english) const;
  void ShowWaitingChart();
  // Read and Read new: the page's state around the download.
  void Read(bool newOnly);
  // The whole ring, or (with `newOnly`) what follows the archive's end.
  bool Download(const std::optional<ArchivedEnd>* newOnly);
  void ShowDeletedChart();
  // Whether the device went away (its line was lost) during the last exchanges.
  bool DeviceGone() const;

  DeviceContext& context_;
  HistoryView& view_;
  uint32_t readTotal_ = 0;  // records the read under way covers
};

}  // namespace dravion
