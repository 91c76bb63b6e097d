// A stop for a console read that waits on another thread: never lost, whenever it comes.
#include "cli/console_cancel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

namespace dravion::cli {
namespace {

// A blocking read as the system has it: a cancel finds it only once it has begun.
struct BlockingRead {
  std::mutex mutex;
  std::condition_variable changed;
  bool reading = false;
  bool aborted = false;
  int cancelCalls = 0;

  bool CancelIo() {
    std::lock_guard lock(mutex);
    ++cancelCalls;
    changed.notify_all();
    if (!reading) return false;
    aborted = true;
    changed.notify_all();
    return true;
  }
  void WaitForCancelCalls(int count) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return cancelCalls >= count; });
  }
  void Read() {
    std::unique_lock lock(mutex);
    reading = true;
    changed.wait(lock, [&] { return aborted; });
    reading = false;
  }
};

TEST(ConsoleReadCancel, AStopWhileTheReaderEntersItsReadEndsTheRead) {
  BlockingRead read;
  ConsoleReadCancel cancel([&](void*) { return read.CancelIo(); });
  int self = 0;
  // The reader has registered but not yet begun its read when the stop comes: the system finds
  // nothing to cancel the first time.
  std::promise<void> begun;
  std::future<bool> reader = std::async(std::launch::async, [&] {
    if (!cancel.Begin(&self)) return false;
    begun.set_value();
    read.WaitForCancelCalls(1);
    read.Read();
    return cancel.End();
  });
  begun.get_future().wait();
  std::thread stopper([&] { cancel.Cancel(); });
  // A reader that the stop misses would wait for ever: give up well before the suite's limit,
  // and let it go so that the test ends.
  const bool ended = reader.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  if (!ended) {
    std::lock_guard lock(read.mutex);
    read.aborted = true;
    read.changed.notify_all();
  }
  stopper.join();
  ASSERT_TRUE(ended) << "the stop was lost: the read went on";
  EXPECT_TRUE(reader.get());
  EXPECT_GE(read.cancelCalls, 2);
}

TEST(ConsoleReadCancel, AStopBeforeTheReadKeepsItFromStartingUntilReset) {
  BlockingRead read;
  ConsoleReadCancel cancel([&](void*) { return read.CancelIo(); });
  int self = 0;
  cancel.Cancel();  // nobody reads: returns at once
  EXPECT_EQ(read.cancelCalls, 0);
  EXPECT_FALSE(cancel.Begin(&self));
  EXPECT_FALSE(cancel.Begin(&self));
  cancel.Reset();
  ASSERT_TRUE(cancel.Begin(&self));
  EXPECT_FALSE(cancel.Stopped());
  EXPECT_FALSE(cancel.End());
}

}  // namespace
}  // namespace dravion::cli
