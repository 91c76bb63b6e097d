#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace dravion {

// The firmware release the manager carries: version word, high byte major, low byte minor.
inline constexpr uint16_t ReleaseVersion = 0x0C06;
inline constexpr int ReleaseMajor = ReleaseVersion >> 8;
inline constexpr int ReleaseMinor = ReleaseVersion & 0xFF;

inline constexpr size_t kProgramImageSize = 57344;
inline constexpr size_t kDataFlashImageSize = 311296;
inline constexpr uint32_t kDataFlashImageStart = 0;

// The program image for a hardware revision code: image A for 41, B for 42, empty for any other.
std::span<const uint8_t> ProgramImage(uint8_t hardwareRevision);
// The data-flash image, written from kDataFlashImageStart.
std::span<const uint8_t, kDataFlashImageSize> DataFlashImage();

// "12.6": the release's major and minor in decimal.
std::string ReleaseNumbersText();
// "1.20.12.6": how the release is shown to the user.
std::string ReleaseVersionText();

// A main-program version word of 0 means the boot loader runs.
inline constexpr bool RunsBootLoader(uint16_t mainVersion) {
  return mainVersion == 0;
}
// A main program older than the carried release: the device needs the update.
inline constexpr bool NeedsUpgrade(uint16_t mainVersion) {
  return mainVersion != 0 && mainVersion < ReleaseVersion;
}

}  // namespace dravion
