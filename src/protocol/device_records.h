#pragma once

#include <array>
#include <cstdint>

namespace dravion {

// Little-endian field access on device bytes.
inline uint16_t LoadU16(const uint8_t* b) {
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}
inline uint32_t LoadU32(const uint8_t* b) {
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
         (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}
inline void StoreU16(uint8_t* b, uint16_t v) {
  b[0] = static_cast<uint8_t>(v);
  b[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreU32(uint8_t* b, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The program information the device reports (8 bytes on the line). Versions are high byte
// major, low byte minor; MainVersion 0 means that the boot loader runs.
struct SoftInfo {
  static constexpr int kSize = 8;
  uint16_t BootVersion = 0;
  uint16_t MainVersion = 0;
  uint32_t InfoAddress = 0;  // where the DeviceInfoBlock lies; 0 when there is none

  static SoftInfo FromBytes(const uint8_t* b) {
    return {LoadU16(b), LoadU16(b + 2), LoadU32(b + 4)};
  }
  bool operator==(const SoftInfo&) const = default;
};

// The 48-byte device information block. All bytes are kept; three fields are decoded.
struct DeviceInfoBlock {
  static constexpr int kSize = 48;
  std::array<uint8_t, kSize> Bytes{};
  uint16_t ChipCode = 0;
  uint32_t FactoryBlockAddress = 0;
  uint32_t ProgramAddress = 0;

  // Decodes the block. Chip 1 devices report their INF_1 block at 0x08002780 while it lies at
  // 0x080027F0; the decoded FactoryBlockAddress is the corrected one.
  static DeviceInfoBlock FromBytes(const uint8_t* b);
};

// The board information (4 bytes on the line).
struct BoardInfo {
  static constexpr int kSize = 4;
  uint16_t ModelCode = 0;
  uint8_t HardwareRevision = 0;
  uint8_t SubRevision = 0;

  static BoardInfo FromBytes(const uint8_t* b) { return {LoadU16(b), b[2], b[3]}; }
  // Clearing keeps the hardware revision byte.
  void Clear() {
    ModelCode = 0;
    SubRevision = 0;
  }
  bool operator==(const BoardInfo&) const = default;
};

// The board information block INF_1 and the CPU's unique identifier, kept as raw bytes.
using FactoryBlock = std::array<uint8_t, 16>;
using UidBlock = std::array<uint8_t, 12>;

// A device parameter exchange: the 16-bit id, then 20 value bytes (4-byte parameters use the
// first four, little-endian).
struct ParameterRecord {
  static constexpr int kSize = 22;
  uint16_t ParameterId = 0;
  std::array<uint8_t, 20> Value{};

  uint32_t Value32() const { return LoadU32(Value.data()); }
  void SetValue32(uint32_t v) { StoreU32(Value.data(), v); }
};

// The device clock as carried on the line: second, minute, hour, day, month, year - 2000, and a
// seventh byte the caller sets.
struct TimeRecord {
  static constexpr int kSize = 7;
  std::array<uint8_t, kSize> Bytes{};

  uint8_t& Second() { return Bytes[0]; }
  uint8_t& Minute() { return Bytes[1]; }
  uint8_t& Hour() { return Bytes[2]; }
  uint8_t& Day() { return Bytes[3]; }
  uint8_t& Month() { return Bytes[4]; }
  uint8_t& Year() { return Bytes[5]; }
  uint8_t& Seventh() { return Bytes[6]; }
  bool operator==(const TimeRecord&) const = default;
};

// What a chip code tells about the CPU: its program-flash erase page, the address of its unique
// identifier and the size of the pieces both flash writers send.
struct ChipTraits {
  uint32_t ErasePage = 0;
  uint32_t UidAddress = 0;
  uint32_t WritePiece = 32;
};
ChipTraits ChipTraitsFor(uint16_t chipCode);

// Write piece used when no device information block can be had.
inline constexpr uint32_t kDefaultWritePiece = 128;
// Boot loaders up to this version keep the identifier at kLegacyUidAddress whatever the chip.
inline constexpr uint16_t kLegacyUidBootVersion = 0x0106;
inline constexpr uint32_t kLegacyUidAddress = 0x1FFFF7E8;

}  // namespace dravion
