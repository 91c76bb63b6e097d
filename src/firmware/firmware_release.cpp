#include "firmware/firmware_release.h"

#include "firmware/firmware_images.h"

namespace dravion {

std::span<const uint8_t> ProgramImage(uint8_t hardwareRevision) {
  switch (hardwareRevision) {
    case 41:
      return {firmware_images::kProgramA, kProgramImageSize};
    case 42:
      return {firmware_images::kProgramB, kProgramImageSize};
    default:
      return {};
  }
}

std::span<const uint8_t, kDataFlashImageSize> DataFlashImage() {
  return std::span<const uint8_t, kDataFlashImageSize>(firmware_images::kDataFlash,
                                                       kDataFlashImageSize);
}

std::string ReleaseNumbersText() {
  return std::to_string(ReleaseMajor) + "." + std::to_string(ReleaseMinor);
}

std::string ReleaseVersionText() {
  return "1.20." + ReleaseNumbersText();
}

}  // namespace dravion
