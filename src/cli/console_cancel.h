#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

namespace dravion::cli {

// A stop for a blocking console read on another thread that is never lost. The system cancels
// only a read that has begun (Windows' CancelSynchronousIo finds nothing in the moment between
// the reader's check and its call), so the stop is kept: made before the read begins, the read
// does not begin; made while the reader is entering its read, it is tried again until the read
// has ended. Once made, it holds for every later read (the program is stopping).
class ConsoleReadCancel {
 public:
  // Cancels the blocking I/O of the thread `reader`; true when one was under way and is cancelled.
  explicit ConsoleReadCancel(std::function<bool(void* reader)> cancelIo)
      : cancelIo_(std::move(cancelIo)) {}

  // Before the read, on the reading thread: false when a stop came first (do not read).
  bool Begin(void* reader);
  // Between two reads of one line: whether a stop came.
  bool Stopped();
  // After the read: true when a stop came (the read counts as ended, whatever it returned). The
  // reader's handle may be closed once this returns.
  bool End();
  // The stop, from any thread. Returns once the read under way (if any) was cancelled or ended.
  void Cancel();
  // Forgets a stop (a new watch begins).
  void Reset();

 private:
  std::function<bool(void*)> cancelIo_;
  std::mutex mutex_;
  std::condition_variable ended_;
  void* reader_ = nullptr;
  bool stopped_ = false;
};

}  // namespace dravion::cli
