#include "protocol/frame_codec.h"

namespace dravion {

uint16_t ChecksumStep(uint16_t sum, uint8_t b) {
  return static_cast<uint16_t>(sum + (b ^ 0x5A) + 1);
}

uint16_t FrameChecksum(const uint8_t* payload, size_t length) {
  uint16_t sum = 0xFFFF;
  for (size_t i = 0; i < length; ++i)
    sum = ChecksumStep(sum, payload[i]);
  return sum;
}

uint16_t FrameEncoder::Encode(const uint8_t* payload, uint16_t length) {
  Length = 0;
  if (payload == nullptr || length == 0) return 0;
  constexpr int kLast = Capacity - 3;
  int pos = 0;
  Buffer[pos] = kSlipEnd;
  uint16_t sum = 0xFFFF;
  auto put = [&](uint8_t b) {
    if (b == kSlipEnd || b == kSlipEsc) {
      if (pos + 2 > kLast) return false;
      Buffer[++pos] = kSlipEsc;
      Buffer[++pos] = b == kSlipEnd ? kSlipEscEnd : kSlipEscEsc;
    } else {
      if (pos + 1 > kLast) return false;
      Buffer[++pos] = b;
    }
    return true;
  };
  for (uint16_t i = 0; i < length; ++i) {
    if (!put(payload[i])) return 0;
    sum = ChecksumStep(sum, payload[i]);
  }
  if (!put(static_cast<uint8_t>(sum & 0xFF)) || !put(static_cast<uint8_t>(sum >> 8))) return 0;
  Buffer[++pos] = kSlipEnd;
  Length = static_cast<uint16_t>(pos + 1);
  return Length;
}

void FrameDecoder::Restart() {
  count_ = 0;
  sum_ = 0xFFFF;
  phase_ = Phase::InFrame;
}

void FrameDecoder::Store(uint8_t byte) {
  body_[count_] = byte;
  ++count_;
  // The sum runs two bytes behind, so that at the closing END it covers exactly the payload.
  if (count_ >= 3) sum_ = ChecksumStep(sum_, body_[count_ - 3]);
}

bool FrameDecoder::DecodeByte(uint8_t byte) {
  if (ready_) {
    ready_ = false;
    phase_ = Phase::Hunting;
  }
  switch (phase_) {
    case Phase::Hunting:
      if (byte == kSlipEnd) Restart();
      break;
    case Phase::InFrame:
      if (byte == kSlipEnd) {
        if (count_ >= 3 && (sum_ & 0xFF) == body_[count_ - 2] && (sum_ >> 8) == body_[count_ - 1]) {
          count_ -= 2;
          ready_ = true;
          phase_ = Phase::Hunting;
        } else {
          Restart();
        }
      } else if (count_ >= kBodyLimit) {
        phase_ = Phase::Hunting;
      } else if (byte == kSlipEsc) {
        phase_ = Phase::AfterEscape;
      } else {
        Store(byte);
      }
      break;
    case Phase::AfterEscape:
      phase_ = Phase::InFrame;
      if (byte == kSlipEscEnd) {
        Store(kSlipEnd);
      } else if (byte == kSlipEscEsc) {
        Store(kSlipEsc);
      } else if (byte == kSlipEnd) {
        Restart();
      } else {
        phase_ = Phase::Hunting;
      }
      break;
  }
  return ready_;
}

}  // namespace dravion
