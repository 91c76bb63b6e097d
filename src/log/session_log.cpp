#include "log/session_log.h"

namespace dravion {

void SessionLog::LogLine(const std::string& text) {
  // The mark is added once: only at exactly the threshold, and it is a line of its own that
  // takes part in neither the repeat check nor LastLogLine.
  if (lines_.size() == kLogFullLines) {
    lines_.emplace_back(kLogFullMark);
    if (observer_) observer_->OnLogLineAdded(lines_.back());
  }
  if (text == lastLogLine_) return;
  lines_.push_back(text);
  lastLogLine_ = text;
  if (observer_) observer_->OnLogLineAdded(lines_.back());
}

void SessionLog::ReplaceLastLine(const std::string& text) {
  if (lines_.empty()) {
    lines_.push_back(text);
    if (observer_) observer_->OnLogLineAdded(lines_.back());
    return;
  }
  lines_.back() = text;
  if (observer_) observer_->OnLogLastLineReplaced(lines_.back());
}

void SessionLog::Clear() {
  lines_.clear();
  if (observer_) observer_->OnLogCleared();
}

}  // namespace dravion
