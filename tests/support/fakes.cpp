#include "support/fakes.h"

#include <algorithm>

namespace dravion::test {

void FakePump::ProcessEvents(uint32_t deadlineTick) {
  ++calls;
  // Fake time never wraps in tests, so plain comparisons do.
  for (;;) {
    if (woken_) {
      woken_ = false;
      return;
    }
    const uint32_t now = clock_.tick;
    const uint32_t until = deadlineTick > now ? deadlineTick : now;
    auto next = events_.begin();
    if (next != events_.end() && next->first <= until) {
      if (next->first > now) clock_.tick = next->first;
      auto event = std::move(next->second);
      events_.erase(next);
      event();
      continue;
    }
    clock_.tick = until;
    return;
  }
}

void FakePump::At(uint32_t atTick, std::function<void()> event) {
  events_.emplace(atTick, std::move(event));
}

void ScriptedDialogs::ShowMessage(BoxKind kind, const std::string& text) {
  boxes.push_back({kind, text, clock_ ? clock_->TickMs() : 0});
}

bool ScriptedDialogs::Ask(QuestionKind kind, const std::string& text) {
  questions.push_back(text);
  questionKinds.push_back(kind);
  if (answers.empty()) return true;
  const bool answer = answers.front();
  answers.pop_front();
  return answer;
}

bool ScriptedDialogs::AskText(const std::string& title, const std::string& prompt,
                              std::string& value) {
  prompts.push_back(title + "|" + prompt + "|" + value);
  if (textAnswers.empty()) return true;
  const std::string answer = textAnswers.front();
  textAnswers.pop_front();
  if (answer == "\x18") return false;
  value = answer;
  return true;
}

std::optional<int64_t> MemoryOptionStore::ReadInt(const std::string& name) {
  auto it = ints.find(name);
  if (it == ints.end()) return std::nullopt;
  return it->second;
}

bool MemoryOptionStore::WriteInt(const std::string& name, int64_t value) {
  ++writes;
  ints[name] = value;
  return true;
}

std::optional<std::string> MemoryOptionStore::ReadText(const std::string& name) {
  auto it = texts.find(name);
  if (it == texts.end()) return std::nullopt;
  return it->second;
}

int RecordingSink::WriteBytes(const uint8_t* bytes, int count) {
  if (!open) return 0;
  writes.emplace_back(bytes, bytes + count);
  for (int i = 0; i < count; ++i) {
    if (decoder_.DecodeByte(bytes[i])) {
      std::vector<uint8_t> payload(decoder_.Body(), decoder_.Body() + decoder_.Count());
      frames.push_back({payload, clock_ ? clock_->TickMs() : 0});
      if (onFrame) onFrame(payload);
    }
  }
  return count;
}

int RecordingLog::Count(const std::string& text) const {
  return static_cast<int>(std::count(lines.begin(), lines.end(), text));
}

std::vector<uint8_t> EncodeFrame(const std::vector<uint8_t>& payload) {
  FrameEncoder tx;
  tx.Encode(payload.data(), static_cast<uint16_t>(payload.size()));
  return std::vector<uint8_t>(tx.Buffer, tx.Buffer + tx.Length);
}

std::vector<uint8_t> AnswerPayload(int channel, uint8_t group, uint8_t code,
                                   const std::vector<uint8_t>& data) {
  std::vector<uint8_t> payload{0x00, static_cast<uint8_t>(channel),      0x00,
                               0x01, static_cast<uint8_t>(group | 0x40), code};
  payload.insert(payload.end(), data.begin(), data.end());
  return payload;
}

}  // namespace dravion::test
