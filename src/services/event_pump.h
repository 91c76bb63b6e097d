#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace dravion {

class Clock;

// The user-interface thread's event loop as the core sees it. Device exchanges wait through it:
// it processes pending events and then sleeps until an event arrives, until Wake is called, or
// until the clock's tick reaches the deadline. It never spins.
class EventPump {
 public:
  virtual ~EventPump() = default;
  // Processes pending events, then waits at most until `deadlineTick` (a Clock tick). Returns at
  // once, after processing, when Wake was called since the previous return.
  virtual void ProcessEvents(uint32_t deadlineTick) = 0;
  // Safe from any thread: ends the current or the next wait early.
  virtual void Wake() = 0;
  // Whether the program was asked to end (an interrupt or termination signal): long operations
  // stop at their next safe point, between exchanges, and leave the device in a known state.
  virtual bool QuitRequested() const { return false; }
  // While held (holds nest), waits leave the user's input (clicks, keys) queued; it is handled
  // normally once the outermost hold has ended. Timers, wake-ups and everything else go on. A pump
  // without user input has nothing to hold.
  virtual void HoldUserInput(bool /*hold*/) {}
};

// Holds the user's input for a scope. The heartbeat runs under one, so that a click arriving
// while one of its exchanges waits runs after that exchange instead of nested inside it, where
// it would find the channel busy. A device operation's own waits hold nothing: its Cancel works.
class UserInputHold {
 public:
  explicit UserInputHold(EventPump& pump) : pump_(pump) { pump_.HoldUserInput(true); }
  ~UserInputHold() { pump_.HoldUserInput(false); }
  UserInputHold(const UserInputHold&) = delete;
  UserInputHold& operator=(const UserInputHold&) = delete;

 private:
  EventPump& pump_;
};

// Waits `ms` milliseconds while events keep flowing. Returns at once for ms <= 0.
void Delay(EventPump& pump, Clock& clock, int ms);

// A pump for programs and tests without a window: posted tasks are its events.
class ThreadEventPump : public EventPump {
 public:
  explicit ThreadEventPump(Clock& clock) : clock_(clock) {}
  void ProcessEvents(uint32_t deadlineTick) override;
  void Wake() override;
  // Runs `task` on the thread that processes events; safe from any thread.
  void Post(std::function<void()> task);

 private:
  Clock& clock_;
  std::mutex mutex_;
  std::condition_variable wakeup_;
  std::deque<std::function<void()>> tasks_;
  bool woken_ = false;
};

}  // namespace dravion
