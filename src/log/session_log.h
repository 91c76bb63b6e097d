#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "services/log_sink.h"

namespace dravion {

// Follows the log as it changes, so a view (the log memo) can mirror it one step at a time
// instead of reloading every line.
class LogObserver {
 public:
  virtual ~LogObserver() = default;
  // A line was added at the end (the "!!!! LOG FULL !!!" mark arrives this way too).
  virtual void OnLogLineAdded(const std::string& line) = 0;
  // The last line was replaced in place (progress lines).
  virtual void OnLogLastLineReplaced(const std::string& line) = 0;
  // Every line was removed.
  virtual void OnLogCleared() = 0;
};

// The run's log: every step and error as one text line (UTF-8). Lines only grow at the end; a
// line equal to the previous one logged is dropped; at exactly kLogFullLines lines the one-time
// full mark is added. Belongs to the user-interface thread.
class SessionLog : public LogSink {
 public:
  static constexpr size_t kLogFullLines = 10000;
  static constexpr const char* kLogFullMark = "!!!! LOG FULL !!!";

  void LogLine(const std::string& text) override;
  // Overwrites the last line (progress reports). Does not go through LogLine: no repeat check,
  // no full mark, LastLogLine unchanged. On an empty log the text becomes the only line.
  void ReplaceLastLine(const std::string& text) override;
  // Empties the log; LastLogLine stays, so a repeat of it is still dropped.
  void Clear();

  const std::vector<std::string>& Lines() const { return lines_; }
  size_t LineCount() const { return lines_.size(); }
  const std::string& LastLogLine() const { return lastLogLine_; }

  // One observer (the memo) or none; it must outlive its registration.
  void SetObserver(LogObserver* observer) { observer_ = observer; }

 private:
  std::vector<std::string> lines_;
  std::string lastLogLine_;
  LogObserver* observer_ = nullptr;
};

}  // namespace dravion
