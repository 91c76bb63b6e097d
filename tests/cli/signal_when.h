#pragma once

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace dravion::cli_test {

// Header-only: the test build compiles only *_test.cpp files from this folder.

// Sends `signal` to this process as soon as `ready` holds (a user pressing Ctrl+C, or a kill).
class SignalWhen {
 public:
  SignalWhen(std::function<bool()> ready, int signal)
      : thread_([this, ready = std::move(ready), signal] {
          const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
          while (!stop_ && !ready()) {
            if (std::chrono::steady_clock::now() > deadline) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
          }
          if (!stop_) {
            ::kill(::getpid(), signal);
            sent_ = true;
          }
        }) {}
  ~SignalWhen() {
    stop_ = true;
    thread_.join();
  }
  bool Sent() const { return sent_; }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<bool> sent_{false};
  std::thread thread_;
};

}  // namespace dravion::cli_test
