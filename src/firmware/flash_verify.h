#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace dravion {

struct DeviceContext;

// What reading a flash back against the image written there found.
struct FlashCheck {
  enum class Result { Same, Differs, Unread };
  Result result = Result::Same;
  // The first differing byte, or where reading failed or stopped (the program asked to end).
  uint32_t address = 0;
  uint8_t written = 0;  // with Differs: the image's byte and the byte read there
  uint8_t read = 0;
  bool Same() const { return result == Result::Same; }
};

// "0x" and `digits` upper-case hexadecimal digits (at least).
std::string HexText(uint32_t value, int digits);

// Reads the program flash back from `address` (ReadMemory, 16 bytes a request; the boot loader
// serves it) and compares it with `image`. Logs what was read and the outcome, the progress line
// in place; sets the progress bar.
FlashCheck VerifyProgramFlash(DeviceContext& context, uint32_t address,
                              std::span<const uint8_t> image);

// Reads the data flash back from the image's start (ReadExternalFlash, 32 bytes a request, the
// size the history download uses; the main program serves it) and compares it with `image`.
// Logs and reports progress like VerifyProgramFlash.
FlashCheck VerifyDataFlash(DeviceContext& context, std::span<const uint8_t> image);

}  // namespace dravion
