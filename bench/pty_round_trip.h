#pragma once

// One request/answer round trip over a real pty: a minimal responder on the master side, and the
// same exchange by one plain thread on the slave side. The plain thread's figure is what this
// machine's kernel and scheduler cost per exchange before any serial stack adds its own: two pty
// transfers and the wake-ups of the two sides.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "protocol/frame_codec.h"
#include "support/pty.h"

namespace dravion::bench {

// The far end: answers each flash-write request (32 data bytes) with its 5-byte echo, after
// `delayUs` from the request's arrival (0: at once), and notes the time from each answer written
// to the next request read.
class Responder {
 public:
  Responder(int master, int delayUs) : thread_([this, master, delayUs] { Run(master, delayUs); }) {}
  ~Responder() { Stop(); }
  std::vector<double> Stop() {
    answering_ = false;
    if (thread_.joinable()) thread_.join();
    std::sort(turnaround_.begin(), turnaround_.end());
    return turnaround_;
  }

 private:
  using SteadyClock = std::chrono::steady_clock;

  void Run(int master, int delayUs) {
    FrameDecoder decoder;
    FrameEncoder tx;
    SteadyClock::time_point answered{};
    bool haveAnswered = false;
    uint8_t buffer[4096];
    while (answering_) {
      pollfd in{master, POLLIN, 0};
      if (::poll(&in, 1, 50) <= 0) continue;
      const ssize_t n = ::read(master, buffer, sizeof buffer);
      for (ssize_t i = 0; i < n; ++i) {
        if (!decoder.DecodeByte(buffer[i])) continue;
        const SteadyClock::time_point now = SteadyClock::now();
        if (haveAnswered) {
          turnaround_.push_back(std::chrono::duration<double, std::micro>(now - answered).count());
        }
        const uint8_t* request = decoder.Body();
        uint8_t answer[11] = {
            0x00, request[3], 0x00, 0x01, static_cast<uint8_t>(request[4] | 0x40), request[5]};
        std::copy(request + 6, request + 11, answer + 6);
        tx.Encode(answer, sizeof answer);
        if (delayUs > 0) std::this_thread::sleep_until(now + std::chrono::microseconds(delayUs));
        answered = SteadyClock::now();
        haveAnswered = true;
        [[maybe_unused]] const auto written = ::write(master, tx.Buffer, tx.Length);
      }
    }
  }

  std::atomic<bool> answering_{true};
  std::vector<double> turnaround_;
  std::thread thread_;
};

// A 32-byte data-flash write on channel 2, as the responder expects.
inline uint8_t flashWriteRequest[2 + 5 + 32] = {0x02, 0x03, 0x00, 0x00, 0x10, 0x00, 32};

// The platform alone: one thread writes each request to the pty and waits for its answer, with
// no frame queue and no event pump. With `handOff`, a second thread reads and decodes the answer
// and wakes the first through a condition variable, as any design with a reader thread does;
// without it the writing thread reads the answer itself (what no serial stack can go below).
inline std::vector<double> RawTurnaround(int exchanges, int delayUs, bool handOff = false) {
  test::PtyPair pty;
  const int fd = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return {};
  termios tio{};
  ::tcgetattr(fd, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(fd, TCSANOW, &tio);
  std::mutex mutex;
  std::condition_variable filed;
  int answers = 0;
  std::atomic<bool> reading{true};
  FrameDecoder decoder;
  uint8_t buffer[4096];
  // Reads what is there within `ms`; true when an answer was completed.
  const auto readAnswer = [&](int ms) {
    pollfd in{fd, POLLIN, 0};
    if (::poll(&in, 1, ms) <= 0) return false;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    bool answered = false;
    for (ssize_t k = 0; k < n; ++k)
      answered = decoder.DecodeByte(buffer[k]) || answered;
    return answered;
  };
  std::thread reader;
  if (handOff) {
    reader = std::thread([&] {
      while (reading) {
        if (!readAnswer(50)) continue;
        {
          std::lock_guard lock(mutex);
          ++answers;
        }
        filed.notify_one();
      }
    });
  }
  Responder responder(pty.master(), delayUs);
  FrameEncoder tx;
  for (int i = 0; i < exchanges; ++i) {
    flashWriteRequest[2] = static_cast<uint8_t>(i);
    tx.Encode(flashWriteRequest, sizeof flashWriteRequest);
    if (::write(fd, tx.Buffer, tx.Length) != tx.Length) break;
    bool answered = false;
    if (handOff) {
      std::unique_lock lock(mutex);
      answered = filed.wait_for(lock, std::chrono::seconds(1), [&] { return answers > 0; });
      if (answered) --answers;
    } else {
      for (int polls = 0; !answered && polls < 100; ++polls)
        answered = readAnswer(10);
    }
    if (!answered) break;
  }
  reading = false;
  if (reader.joinable()) reader.join();
  ::close(fd);
  return responder.Stop();
}

inline double Quantile(const std::vector<double>& sorted, double q) {
  return sorted.empty() ? 0.0 : sorted[static_cast<size_t>(q * (sorted.size() - 1))];
}

}  // namespace dravion::bench
