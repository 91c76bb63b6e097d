#include "protocol/device_format.h"

namespace dravion {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// The eight serial digits: per byte the low nibble, then the high one.
std::string SerialDigits(std::span<const uint8_t, 4> serial) {
  std::string digits;
  for (uint8_t b : serial) {
    digits += kHex[b & 0x0F];
    digits += kHex[b >> 4];
  }
  return digits;
}

}  // namespace

int ModelOfBoardKind(uint8_t kind) {
  switch (kind) {
    case 1:
      return 615;
    case 2:
      return 660;
    case 3:
      return 648;
    case 4:
      return 644;
    case 5:
      return 658;
    case 6:
      return 740;
    default:
      return 0;
  }
}

std::string FormatUid(const UidBlock& uid) {
  std::string text;
  for (size_t i = 0; i < uid.size(); ++i) {
    if (i > 0) text += ':';
    text += kHex[uid[i] >> 4];
    text += kHex[uid[i] & 0x0F];
  }
  return text;
}

std::string FormatSerial(std::span<const uint8_t, 4> serial, std::string_view separator) {
  std::string digits = SerialDigits(serial);
  digits.insert(3, separator);
  return digits;
}

std::string FormatSerialForFolder(std::span<const uint8_t, 4> serial, std::string_view separator) {
  std::string digits = SerialDigits(serial);
  digits.insert(3, separator);
  digits.insert(1, separator);
  return digits;
}

std::string FormatBoardName(const FactoryBlock& inf1) {
  const int model = ModelOfBoardKind(inf1[kFactoryBoardKind]);
  if (model == 0) return "UNKNOWN";
  return "ZAV-" + std::to_string(model) + "." + std::to_string(inf1[kFactoryBoardNumber]);
}

std::string FormatBoardVariant(const FactoryBlock& inf1) {
  const uint8_t first = inf1[kFactoryVariantFirst];
  const uint8_t second = inf1[kFactoryVariantSecond];
  if (inf1[kFactoryBoardKind] == 1 && first == 1) {
    switch (second) {
      case 1:
        return "F4:L=104";
      case 2:
        return "F4:L=373";
      case 3:
        return "F4:L=107_New_ПЭ";
      default:
        return "F4:L=ERR";
    }
  }
  return "(" + std::to_string(first) + ":" + std::to_string(second) + ")";
}

std::string FormatVersion(uint16_t version) {
  return std::to_string(version >> 8) + "." + std::to_string(version & 0xFF);
}

}  // namespace dravion
