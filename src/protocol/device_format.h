#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "protocol/device_records.h"

namespace dravion {

// Offsets within the INF_1 block.
inline constexpr int kFactoryBoardKind = 1;
inline constexpr int kFactoryBoardNumber = 2;
inline constexpr int kFactoryVariantFirst = 3;
inline constexpr int kFactoryVariantSecond = 4;
inline constexpr int kFactorySerial = 9;

// The model number of an INF_1 board kind (1 to 6), 0 for any other kind.
int ModelOfBoardKind(uint8_t kind);
// The 4 serial-number bytes of an INF_1 block.
inline std::span<const uint8_t, 4> SerialBytes(const FactoryBlock& inf1) {
  return std::span<const uint8_t, 4>(inf1.data() + kFactorySerial, 4);
}

// Each byte as two upper-case hex digits, joined by ":" (35 characters for 12 bytes).
std::string FormatUid(const UidBlock& uid);
// Eight hex digits, each byte low nibble first; the separator after the third digit
// (12 34 56 78 gives 214-36587).
std::string FormatSerial(std::span<const uint8_t, 4> serial, std::string_view separator);
// The same digits with the separator after the first and the third (2-14-36587).
std::string FormatSerialForFolder(std::span<const uint8_t, 4> serial, std::string_view separator);
// "ZAV-<model>.<board number>", or "UNKNOWN" for a board kind without a model.
std::string FormatBoardName(const FactoryBlock& inf1);
// "F4:L=104" / "373" / "107_New_ПЭ" / "ERR" for the F4 board, else "(<byte 3>:<byte 4>)".
std::string FormatBoardVariant(const FactoryBlock& inf1);
// Major "." minor, both decimal (0x0C06 gives 12.6).
std::string FormatVersion(uint16_t version);

}  // namespace dravion
