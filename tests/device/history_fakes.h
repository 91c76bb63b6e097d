#pragma once

#include <string>
#include <vector>

#include "device/history_controller.h"

namespace dravion::device_test {

// Remembers what the history controller showed on its page.
class RecordingHistoryView : public HistoryView {
 public:
  void ShowVersionMessage(const std::string& text) override { message = text; }
  void SetReading(bool value) override {
    reading = value;
    readingChanges.push_back(value);
    if (onReading) onReading(value);
  }
  void SetDeleteEnabled(bool enabled) override { deleteEnabled = enabled; }
  void SetSaveEnabled(bool enabled) override { saveEnabled = enabled; }
  void SetNavigationEnabled(bool enabled) override { navigationEnabled = enabled; }
  void SetProgressMaximum(int maximum) override { progressMaximum = maximum; }
  void SetProgress(int position) override {
    progress = position;
    progressSteps.push_back(position);
    if (onProgress) onProgress(position);
  }
  void ShowChart(const HistoryChartData& data) override {
    chart = data;
    ++charts;
  }
  bool ShowMaximumTicked() const override { return showMaximum; }
  void ShowSummary(const std::string& text) override {
    summary = text;
    summaries.push_back(text);
  }
  bool AskSaveFileName(const SaveFileRequest& asked, std::string& name) override {
    request = asked;
    offeredName = name;
    if (saveName.empty()) return false;
    name = saveName;
    return true;
  }

  std::string message;
  bool reading = false;
  std::vector<bool> readingChanges;
  bool deleteEnabled = true, saveEnabled = true, navigationEnabled = false;
  int progressMaximum = 0, progress = 0;
  std::vector<int> progressSteps;
  HistoryChartData chart;
  int charts = 0;
  bool showMaximum = false;
  SaveFileRequest request;
  std::string offeredName;
  std::string saveName;  // empty: the dialog is cancelled
  std::string summary;
  std::vector<std::string> summaries;
  std::function<void(bool)> onReading;
  std::function<void(int)> onProgress;
};

}  // namespace dravion::device_test
