#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "protocol/frame_codec.h"
#include "serial/byte_sink.h"
#include "services/clock.h"
#include "services/dialogs.h"
#include "services/event_pump.h"
#include "services/log_sink.h"
#include "services/option_store.h"

namespace dravion::test {

// A clock that moves only when told to.
class FakeClock : public Clock {
 public:
  uint32_t TickMs() override { return tick; }
  LocalDateTime Now() override { return now; }
  void Advance(uint32_t ms) { tick += ms; }

  uint32_t tick = 1000;
  LocalDateTime now{2026, 12, 7, 10, 30, 15, 0};
};

// An event pump on fake time: scheduled events run when their time comes; a wait with nothing
// scheduled before its deadline jumps the clock to the deadline. Counts its waits, so tests can
// see that no wait spins.
class FakePump : public EventPump {
 public:
  explicit FakePump(FakeClock& clock) : clock_(clock) {}
  void ProcessEvents(uint32_t deadlineTick) override;
  void Wake() override { woken_ = true; }
  // Runs `event` once the clock reaches `atTick`.
  void At(uint32_t atTick, std::function<void()> event);
  void After(uint32_t ms, std::function<void()> event) { At(clock_.tick + ms, std::move(event)); }

  int calls = 0;

 private:
  FakeClock& clock_;
  std::multimap<uint32_t, std::function<void()>> events_;
  bool woken_ = false;
};

// Records every box and answers questions from a script (default: Yes / OK with the given text).
class ScriptedDialogs : public Dialogs {
 public:
  struct Box {
    BoxKind kind;
    std::string text;
    uint32_t tick;
  };
  explicit ScriptedDialogs(Clock* clock = nullptr) : clock_(clock) {}
  void ShowMessage(BoxKind kind, const std::string& text) override;
  bool Ask(QuestionKind kind, const std::string& text) override;
  bool AskText(const std::string& title, const std::string& prompt, std::string& value) override;

  std::vector<Box> boxes;
  std::vector<std::string> questions;
  std::vector<QuestionKind> questionKinds;  // of each question, in order
  std::deque<bool> answers;                 // for Ask; Yes when empty
  std::deque<std::string> textAnswers;  // for AskText; "\x18" means Cancel; OK unchanged when empty
  std::vector<std::string> prompts;     // title + "|" + prompt + "|" + pre-filled value

 private:
  Clock* clock_;
};

class MemoryOptionStore : public OptionStore {
 public:
  std::optional<int64_t> ReadInt(const std::string& name) override;
  bool WriteInt(const std::string& name, int64_t value) override;
  std::optional<std::string> ReadText(const std::string& name) override;
  bool WriteText(const std::string& name, const std::string& value) override {
    texts[name] = value;
    ++writes;
    return true;
  }

  std::map<std::string, int64_t> ints;
  std::map<std::string, std::string> texts;
  int writes = 0;
};

// A serial port stand-in that decodes every frame written to it, with the tick it was written.
class RecordingSink : public ByteSink {
 public:
  struct Frame {
    std::vector<uint8_t> payload;
    uint32_t tick;
  };
  explicit RecordingSink(Clock* clock = nullptr) : clock_(clock) {}
  bool IsOpen() const override { return open; }
  int WriteBytes(const uint8_t* bytes, int count) override;

  bool open = true;
  std::vector<std::vector<uint8_t>> writes;  // each WriteBytes call
  std::vector<Frame> frames;                 // decoded payloads
  std::function<void(const std::vector<uint8_t>&)> onFrame;

 private:
  Clock* clock_;
  FrameDecoder decoder_;
};

// A log that keeps every line, for checking what was logged.
class RecordingLog : public LogSink {
 public:
  void LogLine(const std::string& text) override {
    lines.push_back(text);
    if (onLine) onLine(text);
  }
  // Overwrites the last line as the run's log does (progress lines).
  void ReplaceLastLine(const std::string& text) override {
    if (lines.empty()) {
      lines.push_back(text);
    } else {
      lines.back() = text;
    }
    replaced.push_back(text);
    if (onReplace) onReplace(text);
  }
  int Count(const std::string& text) const;
  bool Has(const std::string& text) const { return Count(text) > 0; }

  std::vector<std::string> lines;
  std::vector<std::string> replaced;  // every overwrite, in order
  std::function<void(const std::string&)> onLine;
  std::function<void(const std::string&)> onReplace;
};

// Bytes of an encoded frame for a payload.
std::vector<uint8_t> EncodeFrame(const std::vector<uint8_t>& payload);
// An answer payload for a request on a channel: header 00 addr 00 01, group|0x40, code, data.
std::vector<uint8_t> AnswerPayload(int channel, uint8_t group, uint8_t code,
                                   const std::vector<uint8_t>& data = {});

}  // namespace dravion::test
