#include "cli/console_cancel.h"

#include <chrono>

namespace dravion::cli {

namespace {

// How long a stop waits for the reader to enter its read (or leave it) before it tries again.
constexpr std::chrono::milliseconds kRetryPause{10};

}  // namespace

bool ConsoleReadCancel::Begin(void* reader) {
  std::lock_guard lock(mutex_);
  if (stopped_) return false;
  reader_ = reader;
  return true;
}

bool ConsoleReadCancel::Stopped() {
  std::lock_guard lock(mutex_);
  return stopped_;
}

bool ConsoleReadCancel::End() {
  std::lock_guard lock(mutex_);
  reader_ = nullptr;
  ended_.notify_all();
  return stopped_;
}

void ConsoleReadCancel::Cancel() {
  std::unique_lock lock(mutex_);
  stopped_ = true;
  // The reader holds no lock while it reads, so it can end its read and take the lock in End.
  while (reader_ != nullptr) {
    if (cancelIo_(reader_)) return;
    ended_.wait_for(lock, kRetryPause);
  }
}

void ConsoleReadCancel::Reset() {
  std::lock_guard lock(mutex_);
  stopped_ = false;
}

}  // namespace dravion::cli
