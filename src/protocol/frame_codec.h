#pragma once

#include <cstddef>
#include <cstdint>

namespace dravion {

inline constexpr uint8_t kSlipEnd = 0xC0;
inline constexpr uint8_t kSlipEsc = 0xDB;
inline constexpr uint8_t kSlipEscEnd = 0xDC;
inline constexpr uint8_t kSlipEscEsc = 0xDD;

// Frame checksum: starts at 0xFFFF and adds (b XOR 0x5A) + 1 for every payload byte.
uint16_t FrameChecksum(const uint8_t* payload, size_t length);
uint16_t ChecksumStep(uint16_t sum, uint8_t b);

// The frame encoder: END, the escaped payload and checksum (low byte first), END.
class FrameEncoder {
 public:
  static constexpr uint16_t Capacity = 550;
  // Encodes the payload into Buffer; returns the encoded length, 0 when there is no payload or
  // the frame would need more than Capacity - 3 bytes (then Length is 0 and nothing is usable).
  uint16_t Encode(const uint8_t* payload, uint16_t length);

  uint8_t Buffer[Capacity] = {};
  uint16_t Length = 0;
};

// The byte-by-byte frame decoder of the reader thread. It keeps its state across calls, so a
// frame may arrive split over any number of reads. It never allocates and never reads or writes
// outside its fixed body.
class FrameDecoder {
 public:
  static constexpr int kBodySize = 255;
  static constexpr int kBodyLimit = 254;

  // Feeds one byte; true when it completed a good frame, whose payload (checksum removed) is then
  // Body()/Count() until the next byte is fed.
  bool DecodeByte(uint8_t byte);
  const uint8_t* Body() const { return body_; }
  int Count() const { return count_; }

 private:
  enum class Phase { Hunting, InFrame, AfterEscape };
  void Restart();
  void Store(uint8_t byte);

  Phase phase_ = Phase::Hunting;
  uint8_t count_ = 0;
  uint8_t body_[kBodySize] = {};
  uint16_t sum_ = 0xFFFF;
  bool ready_ = false;
};

}  // namespace dravion
