#include "device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <utility>

#include "device_model.h"
#include "protocol/device_records.h"
#include "protocol/frame_codec.h"
#include "pty_port.h"

namespace dravion::sim {
namespace {

int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

const char* CommandName(uint16_t key) {
  switch (key) {
    case 0x0100:
      return "ConnectionTest";
    case 0x0101:
      return "ReadProgramInfo";
    case 0x0102:
      return "ReadMemory";
    case 0x0105:
      return "ResetCommand";
    case 0x0106:
      return "PC_CONNECTION";
    case 0x0107:
      return "PC_PRINT";
    case 0x010A:
      return "ReadBoardInformation";
    case 0x010B:
      return "WriteTime";
    case 0x010C:
      return "ReadTime";
    case 0x010E:
      return "ReadParameter";
    case 0x010F:
      return "WriteParameter";
    case 0x0202:
      return "ReadExternalFlash";
    case 0x0203:
      return "WriteExternalFlash";
    case 0x0205:
      return "EraseExternalFlashSector";
    case 0x0303:
    case 0x0306:
      return "WriteCpuFlash";
    case 0x0305:
    case 0x0307:
      return "EraseCpuFlashSector";
    default:
      return "?";
  }
}

// SLIP encoding with a given checksum (the right one, or a spoiled one for the corruption fault).
std::vector<uint8_t> EncodeLine(const std::vector<uint8_t>& payload, uint16_t sum) {
  std::vector<uint8_t> line{kSlipEnd};
  auto put = [&line](uint8_t b) {
    if (b == kSlipEnd) {
      line.push_back(kSlipEsc);
      line.push_back(kSlipEscEnd);
    } else if (b == kSlipEsc) {
      line.push_back(kSlipEsc);
      line.push_back(kSlipEscEsc);
    } else {
      line.push_back(b);
    }
  };
  for (uint8_t b : payload)
    put(b);
  put(static_cast<uint8_t>(sum));
  put(static_cast<uint8_t>(sum >> 8));
  line.push_back(kSlipEnd);
  return line;
}

std::vector<uint8_t> EncodeLine(const std::vector<uint8_t>& payload) {
  return EncodeLine(payload, FrameChecksum(payload.data(), payload.size()));
}

}  // namespace

std::map<uint16_t, uint32_t> RealisticCommandTimes() {
  return {
      {CommandKey(1, 0x00), 50},    {CommandKey(1, 0x01), 50},   {CommandKey(1, 0x02), 60},
      {CommandKey(1, 0x0E), 80},    {CommandKey(1, 0x0F), 2000}, {CommandKey(1, 0x07), 1500},
      {CommandKey(1, 0x06), 1500},  {CommandKey(2, 0x02), 150},  {CommandKey(2, 0x03), 700},
      {CommandKey(2, 0x05), 45000}, {CommandKey(3, 0x03), 3200}, {CommandKey(3, 0x06), 3200},
      {CommandKey(3, 0x05), 3200},  {CommandKey(3, 0x07), 3200},
  };
}

Device::Device(DeviceConfig config)
    : config_(std::move(config)), model_(std::make_unique<DeviceModel>(config_)) {
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
}

Device::~Device() {
  Unplug();
  for (int& fd : wake_) {
    if (fd >= 0) ::close(std::exchange(fd, -1));
  }
}

std::string Device::PortPath() const {
  return config_.portFolder + "/COM" + std::to_string(config_.port);
}

void Device::Wake() {
  const uint8_t b = 1;
  if (wake_[1] >= 0) [[maybe_unused]]
    auto n = ::write(wake_[1], &b, 1);
}

void Device::DrainWake() {
  uint8_t buffer[64];
  while (wake_[0] >= 0 && ::read(wake_[0], buffer, sizeof buffer) > 0) {
  }
}

bool Device::Plug() {
  std::lock_guard life(lifeMutex_);
  if (thread_.joinable()) {
    if (running_) return true;  // serving, perhaps away for a restart
    thread_.join();             // a serving thread that ended after a fault unplug
  }
  if (wake_[0] < 0) return false;
  pty_ = std::make_unique<PtyPort>();
  stop_ = false;
  DrainWake();
  if (!SetPlugged(true)) {
    pty_.reset();
    return false;
  }
  running_ = true;
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void Device::Unplug() {
  std::lock_guard life(lifeMutex_);
  stop_ = true;
  Wake();
  if (thread_.joinable()) thread_.join();
  SetPlugged(false);
  pty_.reset();
}

bool Device::Plugged() const {
  std::lock_guard lock(mutex_);
  return plugged_;
}

bool Device::WaitPlugged(bool plugged, int timeoutMs) const {
  std::unique_lock lock(mutex_);
  return plugChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [&] { return plugged_ == plugged; });
}

// The port and the plugged state change in one step under the lock, so that whoever saw the port
// come or go (a hang-up, an entry) and then asks finds the state and the counters changed too.
bool Device::SetPlugged(bool plugged, bool restart) {
  bool done;
  {
    std::lock_guard lock(mutex_);
    if (restart) ++counters_.restarts;
    if (plugged) {
      done = pty_->Open(config_.portFolder, config_.port);
    } else {
      if (pty_) pty_->Close();
      done = true;
    }
    if (done) {
      if (plugged_ != plugged) ++(plugged ? counters_.plugs : counters_.unplugs);
      plugged_ = plugged;
    }
  }
  plugChanged_.notify_all();
  return done;
}

void Device::SetFaults(const Faults& faults) {
  {
    std::lock_guard lock(mutex_);
    faults_ = faults;
    unplugDeadlineUs_ = faults.unplugAfterMs > 0 ? NowUs() + faults.unplugAfterMs * 1000LL : 0;
  }
  Wake();
}

Faults Device::GetFaults() const {
  std::lock_guard lock(mutex_);
  return faults_;
}

Counters Device::GetCounters() const {
  std::lock_guard lock(mutex_);
  return counters_;
}

int Device::Requests(uint8_t group, uint8_t code) const {
  std::lock_guard lock(mutex_);
  const auto it = counters_.requests.find(CommandKey(group, code));
  return it == counters_.requests.end() ? 0 : it->second;
}

std::vector<std::string> Device::ConnectionTexts() const {
  std::lock_guard lock(mutex_);
  return connectionTexts_;
}

std::vector<std::string> Device::PrintTexts() const {
  std::lock_guard lock(mutex_);
  return printTexts_;
}

std::vector<FlashRequest> Device::FlashRequests() const {
  std::lock_guard lock(mutex_);
  return flashRequests_;
}

std::vector<ExchangeTiming> Device::Timings() const {
  std::lock_guard lock(mutex_);
  return timings_;
}

void Device::ClearRecords() {
  std::lock_guard lock(mutex_);
  connectionTexts_.clear();
  printTexts_.clear();
  flashRequests_.clear();
  timings_.clear();
}

bool Device::DataFlashIntact() const {
  std::lock_guard lock(mutex_);
  return model_->DataFlashIntact();
}

uint32_t Device::Parameter(uint16_t number) const {
  std::lock_guard lock(mutex_);
  return model_->Parameter(number);
}

void Device::SetParameter(uint16_t number, uint32_t value) {
  std::lock_guard lock(mutex_);
  model_->SetParameter(number, value);
}

HistoryDescription Device::History() const {
  std::lock_guard lock(mutex_);
  return model_->History();
}

void Device::AddHistoryRecords(uint32_t count, uint32_t from) {
  std::lock_guard lock(mutex_);
  model_->AddHistoryRecords(count, from);
}

void Device::SetHistoryRecord(uint32_t physical, const std::array<uint8_t, 16>& bytes) {
  std::lock_guard lock(mutex_);
  model_->SetHistoryRecord(physical, bytes);
}

void Device::SetBackground(double microSievertPerHour) {
  std::lock_guard lock(mutex_);
  model_->SetBackground(microSievertPerHour);
}

std::vector<uint8_t> Device::ReadExternalFlash(uint32_t address, uint32_t count) const {
  std::lock_guard lock(mutex_);
  std::vector<uint8_t> bytes(count);
  model_->External().Read(address, bytes.data(), count);
  return bytes;
}

std::vector<uint8_t> Device::ReadProgramFlash(uint32_t address, uint32_t count) const {
  std::lock_guard lock(mutex_);
  std::vector<uint8_t> bytes(count);
  model_->Program().Read(address, bytes.data(), count);
  return bytes;
}

void Device::LoadProgramFlash(uint32_t address, const std::vector<uint8_t>& bytes) {
  std::lock_guard lock(mutex_);
  model_->Program().Store(address, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

bool Device::ProgramImageComplete() const {
  std::lock_guard lock(mutex_);
  return model_->ImageComplete();
}

void Device::SetHardwareRevision(uint8_t revision) {
  std::lock_guard lock(mutex_);
  config_.hardwareRevision = revision;
  model_->SetHardwareRevision(revision);
}

bool Device::InBootLoader() const {
  std::lock_guard lock(mutex_);
  return model_->InBoot();
}

uint16_t Device::MainVersion() const {
  std::lock_guard lock(mutex_);
  return model_->MainVersion();
}

uint32_t Device::DeviceSeconds() const {
  std::lock_guard lock(mutex_);
  return model_->Seconds();
}

void Device::ShiftClock(int64_t seconds) {
  std::lock_guard lock(mutex_);
  model_->SetSeconds(static_cast<uint32_t>(model_->Seconds() + seconds));
}

void Device::SetClockBytes(const std::array<uint8_t, 7>& bytes) {
  std::lock_guard lock(mutex_);
  model_->SetClockBytes(bytes);
}

void Device::Restart(int mode) {
  pendingRestart_ = mode == 2 ? 2 : 3;
  Wake();
}

void Device::Trace(const char* direction, const std::vector<uint8_t>& line,
                   const std::string& note) {
  if (!config_.trace) return;
  std::lock_guard lock(traceMutex_);
  if (traceStartUs_ == 0) traceStartUs_ = NowUs();
  const int64_t t = NowUs() - traceStartUs_;
  char head[64];
  std::snprintf(head, sizeof head, "%6lld.%06lld COM%d %s", static_cast<long long>(t / 1000000),
                static_cast<long long>(t % 1000000), config_.port, direction);
  std::string text = head;
  char hex[4];
  for (uint8_t b : line) {
    std::snprintf(hex, sizeof hex, " %02X", b);
    text += hex;
  }
  if (!note.empty()) text += "  " + note;
  if (config_.traceSink) {
    config_.traceSink(text);
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
}

bool Device::SleepUntilUs(int64_t deadlineUs) {
  for (;;) {
    if (stop_) return false;
    const int64_t left = deadlineUs - NowUs();
    if (left <= 0) return true;
    timespec wait{static_cast<time_t>(left / 1000000), static_cast<long>(left % 1000000) * 1000};
    pollfd fd{wake_[0], POLLIN, 0};
    if (::ppoll(&fd, 1, &wait, nullptr) > 0) DrainWake();
  }
}

// Writes a frame at the line rate, starting when the line is free but not before `startUs`: each
// piece goes out when its last byte would have left a real line, so the reader sees the bytes no
// earlier than the device could send them. The schedule runs from `startUs`, not from when this
// thread got round to it, so only the wake-up for the last piece can make the frame late.
void Device::WriteLine(const std::vector<uint8_t>& bytes, int64_t startUs) {
  if (!pty_ || !pty_->IsOpen()) return;
  const uint32_t baud = config_.baud;
  constexpr size_t kPiece = 16;
  size_t done = 0;
  if (baud > 0) lineFreeUs_ = std::max(lineFreeUs_, startUs > 0 ? startUs : NowUs());
  while (done < bytes.size()) {
    const size_t piece = baud > 0 ? std::min(kPiece, bytes.size() - done) : bytes.size() - done;
    if (baud > 0) {
      lineFreeUs_ += static_cast<int64_t>(piece) * 10'000'000 / baud;
      if (!SleepUntilUs(lineFreeUs_)) return;
    }
    if (done + piece == bytes.size()) lastPieceUs_ = NowUs();
    size_t written = 0;
    while (written < piece) {
      const ssize_t n = ::write(pty_->Fd(), bytes.data() + done + written, piece - written);
      if (n > 0) {
        written += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) {
        // Nobody drains the terminal side: wait a little, then give the answer up.
        pollfd out{pty_->Fd(), POLLOUT, 0};
        if (::poll(&out, 1, 200) > 0 && (out.revents & POLLOUT)) continue;
      }
      return;
    }
    done += piece;
  }
}

void Device::Serve() {
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);  // precise pacing sleeps
  FrameDecoder decoder;
  bool hangup = false;  // the terminal side was closed: wait until someone opens it again
  uint8_t buffer[4096];
  while (!stop_) {
    if (const int mode = pendingRestart_.exchange(0); mode != 0) {
      if (!Absent(config_.restartMs, mode == 2, true)) break;
      decoder = FrameDecoder();
      hangup = false;
      continue;
    }
    int64_t deadline;
    {
      std::lock_guard lock(mutex_);
      deadline = unplugDeadlineUs_;
    }
    if (deadline != 0 && NowUs() >= deadline) {
      {
        std::lock_guard lock(mutex_);
        unplugDeadlineUs_ = 0;
      }
      if (!FaultUnplug()) break;
      decoder = FrameDecoder();
      hangup = false;
      continue;
    }
    pollfd fds[2] = {{wake_[0], POLLIN, 0}, {-1, POLLIN, 0}};
    const int watch = pty_->OpenWatchFd();
    fds[1].fd = hangup ? watch : pty_->Fd();
    int64_t timeoutUs = deadline != 0 ? std::max<int64_t>(0, deadline - NowUs()) : -1;
    if (hangup && watch < 0)
      timeoutUs = timeoutUs < 0 ? 20000 : std::min<int64_t>(timeoutUs, 20000);
    timespec wait{static_cast<time_t>(timeoutUs / 1000000),
                  static_cast<long>(timeoutUs % 1000000) * 1000};
    const int ready =
        ::ppoll(fds, fds[1].fd >= 0 ? 2 : 1, timeoutUs < 0 ? nullptr : &wait, nullptr);
    if (ready < 0 && errno != EINTR) break;
    if (fds[0].revents != 0) DrainWake();
    if (hangup) {
      if (fds[1].revents != 0 || watch < 0) {
        pty_->ClearOpenWatch();
        hangup = false;
      }
      continue;
    }
    if (fds[1].revents == 0) continue;
    const ssize_t n = ::read(pty_->Fd(), buffer, sizeof buffer);
    if (n <= 0) {
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      hangup = true;  // EIO: no process has the terminal side open
      decoder = FrameDecoder();
      continue;
    }
    const int64_t arrivalUs = NowUs();
    for (ssize_t i = 0; i < n && !stop_; ++i) {
      if (!decoder.DecodeByte(buffer[i])) continue;
      const std::vector<uint8_t> payload(decoder.Body(), decoder.Body() + decoder.Count());
      const Step step = HandleFrame(payload, arrivalUs);
      if (step == Step::Unplugged) {
        if (!FaultUnplug()) {
          stop_ = true;
          break;
        }
        decoder = FrameDecoder();
        hangup = false;
        break;  // the rest of the read belonged to the old connection
      }
      if (step == Step::Restarted) {
        decoder = FrameDecoder();
        hangup = false;
        break;
      }
    }
  }
  running_ = false;
}

// The port disappears for `ms`; with `restart` the program that runs afterwards is chosen as a
// restart chooses it. False when the device was stopped meanwhile.
bool Device::Absent(int ms, bool toMain, bool restart) {
  bool staysAway = false;
  if (restart) {
    std::lock_guard lock(mutex_);
    staysAway = faults_.restartStaysAway;
    if (faults_.restartInto == 2 || faults_.restartInto == 3) toMain = faults_.restartInto == 2;
    if (faults_.restartAsAnother) model_->BecomeAnotherDevice();
  }
  // Counted as the port goes, so that whoever saw it go finds the restart counted.
  SetPlugged(false, restart);
  if (staysAway) return false;  // the serving thread ends; Plug brings it back
  if (!SleepUntilUs(NowUs() + std::max(ms, 0) * 1000LL)) return false;
  if (restart) {
    std::lock_guard lock(mutex_);
    model_->Restart(toMain);
  }
  if (!SetPlugged(true)) return false;
  return true;
}

// A fault unplug: gone, and back after `replugAfterMs` when that is set. False when the device
// stays away (the serving thread then ends; Plug brings it back).
bool Device::FaultUnplug() {
  int replug;
  {
    std::lock_guard lock(mutex_);
    replug = faults_.replugAfterMs;
    faults_.unplugAfterRequests = 0;
  }
  if (replug <= 0) {
    SetPlugged(false);
    return false;
  }
  return Absent(replug, false, false);
}

Device::Step Device::HandleFrame(const std::vector<uint8_t>& payload, int64_t arrivalUs) {
  const int length = static_cast<int>(payload.size());
  // Only requests addressed to the device (address 1) are taken; answers are never requests.
  if (length < 6 || (payload[1] & 0x1F) != 1 || (payload[4] & 0x40) != 0) {
    std::lock_guard lock(mutex_);
    answerExpected_ = false;
    ++counters_.badFrames;
    return Step::None;
  }
  const uint8_t channel = payload[3] & 0x1F;
  const uint8_t group = payload[4];
  const uint8_t code = payload[5];
  const uint16_t key = CommandKey(group, code);
  Trace("<-", EncodeLine(payload), "ch" + std::to_string(channel) + " " + CommandName(key));

  Outcome outcome;
  Faults faults;
  int produced;
  {
    std::lock_guard lock(mutex_);
    faults = faults_;
    // Until a branch below decides not to answer (or to answer late), the answer is on its way.
    answerExpected_ = faults.delayMs == 0;
    ++counters_.requests[key];
    const int total = ++counters_.totalRequests;
    if ((group == 2 || group == 3) && code != 0x02 && length >= 10) {
      const bool write = length >= 11 && (code == 0x03 || code == 0x06);
      flashRequests_.push_back({key, LoadU32(payload.data() + 6), write ? payload[10] : 0});
    }
    if (faults.unplugAfterRequests > 0 && total >= faults.unplugAfterRequests) {
      answerExpected_ = false;
      return Step::Unplugged;
    }
    if (faults.silentAfter > 0 && total > faults.silentAfter) {
      answerExpected_ = false;
      ++counters_.silenced;
      return Step::None;
    }
    const uint32_t address = length >= 10 ? LoadU32(payload.data() + 6) : 0;
    if (faults.refuseCommand == key &&
        (faults.refuseAddress < 0 || (length >= 10 && address == faults.refuseAddress))) {
      answerExpected_ = false;
      ++counters_.refused;
      return Step::None;
    }
    const uint8_t* params = payload.data() + 6;
    std::vector<uint8_t> spoiled;
    const bool write =
        (group == 2 && code == 0x03) || (group == 3 && (code == 0x03 || code == 0x06));
    // The data follows the 4-byte address and the count byte.
    const int64_t written = write && length > 11 ? length - 11 : 0;
    if (written > 0 && faults.badWriteAddress >= address &&
        faults.badWriteAddress < int64_t{address} + written) {
      spoiled.assign(payload.begin() + 6, payload.end());
      spoiled[5 + static_cast<size_t>(faults.badWriteAddress - address)] ^= 0x01;
      params = spoiled.data();
      ++counters_.badWrites;
    }
    outcome = model_->Handle(group, code, params, length - 6, counters_);
    if (!outcome.answer) {
      answerExpected_ = false;
      ++counters_.unserved;
      return Step::None;
    }
    if (outcome.hasConnection) connectionTexts_.push_back(outcome.screenConnection);
    if (outcome.hasPrint) printTexts_.push_back(outcome.screenPrint);
    produced = ++produced_;
  }

  // The request needs its time on a paced line, then the device its processing time.
  int64_t readyUs = arrivalUs;
  if (config_.baud > 0) {
    readyUs += static_cast<int64_t>(EncodeLine(payload).size()) * 10'000'000 / config_.baud;
  }
  if (const auto it = config_.commandTimeUs.find(key); it != config_.commandTimeUs.end()) {
    readyUs += it->second;
  }
  if (faults.delayMs > 0) {
    readyUs += faults.delayMs * 1000LL;
    std::lock_guard lock(mutex_);
    ++counters_.delayed;
  }
  // On a paced line the answer's schedule starts at `readyUs` (WriteLine); unpaced, it waits here.
  if (config_.baud == 0 && readyUs > NowUs() && !SleepUntilUs(readyUs)) return Step::None;

  std::vector<uint8_t> answer{0x00, channel, 0x00, 0x01, static_cast<uint8_t>(group | 0x40), code};
  answer.insert(answer.end(), outcome.data.begin(), outcome.data.end());
  if (faults.wrongLengthCommand == key) {
    if (faults.wrongLengthDelta >= 0) {
      answer.insert(answer.end(), static_cast<size_t>(faults.wrongLengthDelta), 0xEE);
    } else {
      const size_t cut =
          std::min<size_t>(outcome.data.size(), static_cast<size_t>(-faults.wrongLengthDelta));
      answer.resize(answer.size() - cut);
    }
    std::lock_guard lock(mutex_);
    ++counters_.wrongLength;
  }

  bool drop = faults.dropEvery > 0 && produced % faults.dropEvery == 0;
  if (faults.loseAnswerTo == key) {
    std::lock_guard lock(mutex_);
    if (faults_.loseAnswerTo == key) {
      faults_.loseAnswerTo = -1;
      ++counters_.lost;
      drop = true;
    }
  }
  const bool corrupt = faults.corruptEvery > 0 && produced % faults.corruptEvery == 0;
  if (drop || corrupt) answerExpected_ = false;
  const bool interleave = faults.interleaveEvery > 0 && produced % faults.interleaveEvery == 0;
  if (drop) {
    std::lock_guard lock(mutex_);
    ++counters_.dropped;
    Trace("xx", EncodeLine(answer), "dropped");
  } else {
    if (interleave) {
      // A frame for another address, an echo of the request, an answer with another code on the
      // same channel, and line noise outside any frame.
      std::vector<uint8_t> other{0x00, 0x09, 0x00, 0x01, static_cast<uint8_t>(group | 0x40), code};
      std::vector<uint8_t> echo = payload;
      std::vector<uint8_t> wrongCode{0x00,
                                     channel,
                                     0x00,
                                     0x01,
                                     static_cast<uint8_t>(group | 0x40),
                                     static_cast<uint8_t>((code + 0x11) & 0x3F),
                                     0x00};
      std::vector<uint8_t> noise{0x55, 0xAA, 0x13, 0x37};
      {
        std::lock_guard lock(mutex_);
        ++counters_.interleaved;
      }
      for (const auto& frame : {other, echo, wrongCode}) {
        const auto line = EncodeLine(frame);
        Trace("->", line, "interleaved");
        WriteLine(line, readyUs);
      }
      WriteLine(noise);
    }
    // Counted before the bytes leave: whoever has read the answer finds it counted.
    {
      std::lock_guard lock(mutex_);
      ++counters_.answers;
      if (corrupt) ++counters_.corrupted;
    }
    const uint16_t sum = FrameChecksum(answer.data(), answer.size());
    const auto line = EncodeLine(answer, corrupt ? static_cast<uint16_t>(sum ^ 0x5A5A) : sum);
    Trace("->", line, corrupt ? "corrupted" : "");
    WriteLine(line, readyUs);
    if (config_.recordTimings) {
      std::lock_guard lock(mutex_);
      const int64_t lineUs =
          config_.baud > 0 ? static_cast<int64_t>(line.size()) * 10'000'000 / config_.baud : 0;
      timings_.push_back({key, arrivalUs, readyUs, line.size(), readyUs + lineUs, lastPieceUs_});
    }
  }

  if (outcome.after != AfterAnswer::None) {
    // Let the answer reach the reader before the port goes away.
    SleepUntilUs(std::max(NowUs(), lineFreeUs_) + 20000);
    if (!Absent(config_.restartMs, outcome.after == AfterAnswer::RestartMain, true)) {
      stop_ = true;
    }
    return Step::Restarted;
  }
  return Step::None;
}

}  // namespace dravion::sim
