#pragma once

// Views and services of the benchmarks that show nothing: the programs measure the exchanges, not
// the pages.

#include <cstdio>
#include <string>

#include "device/device_context.h"
#include "device/history_controller.h"
#include "services/dialogs.h"
#include "services/log_sink.h"

namespace dravion::bench {

// Boxes go to stderr when `print` is set; every question gets `answer`.
class QuietDialogs : public Dialogs {
 public:
  explicit QuietDialogs(bool answer = false, bool print = false) : answer_(answer), print_(print) {}
  void ShowMessage(BoxKind, const std::string& text) override {
    if (print_) std::fprintf(stderr, "box: %s\n", text.c_str());
  }
  bool Ask(QuestionKind, const std::string&) override { return answer_; }
  bool AskText(const std::string&, const std::string&, std::string&) override { return false; }

 private:
  bool answer_;
  bool print_;
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

}  // namespace dravion::bench
