#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "firmware/firmware_release.h"

namespace dravion {

struct DeviceContext;

// The images an update writes. Default: the carried release.
struct FirmwareImages {
  // The program image for a hardware revision code; empty when no image fits the revision.
  std::function<std::span<const uint8_t>(uint8_t revision)> programFor = ProgramImage;
  // The data-flash image, written from address 0.
  std::span<const uint8_t> dataFlash = DataFlashImage();
};

// Progress reports of the writers are spaced at least this far apart (plus one at the end).
inline constexpr uint32_t kProgramProgressMs = 200;
inline constexpr uint32_t kDataProgressMs = 500;
// Sectors of the 8 MiB data flash (4 KB each), one flag each in the erase map.
inline constexpr uint32_t kDataFlashSectors = 2048;

// Writes the program image chosen by the device's hardware revision (cached BoardInfo) into the
// processor's flash of a device running its boot loader: each erase page just before the first
// chunk that starts on it, chunks up to the next chunk boundary, from ProgramAddress. Logs a
// banner, the mode check, a progress line overwritten in place and the errors; sets the progress
// bar; never retries a chunk itself. True when every byte was acknowledged. Refuses, before any
// flash command, a device in its main program, a chip without a known erase page size and a
// ProgramAddress off the page boundary (the page holding it would not be erased).
bool UpdateProgramFlash(DeviceContext& context, const FirmwareImages& images = {});

// Writes the data-flash image from address 0 into the external flash of a device running its
// main program, with the device's PC-connection screen showing the progress. Each sector is
// erased once, before its first chunk; the next sector one chunk early when a chunk ends on a
// sector boundary (so the sector just past the image is erased too). Logs a banner, the mode
// check, the progress line in place, the errors and the number of resends on the data-flash
// channel during the run. True when every byte was acknowledged.
bool UpdateDataFlash(DeviceContext& context, std::span<const uint8_t> image = DataFlashImage());

// The progress line of the data-flash write for `done` of `total` bytes:
// "# ЗАПИСЬ: 12% 36Кб [>>>>------...]" (25 bar characters).
std::string DataFlashProgressLine(uint32_t done, uint32_t total);

}  // namespace dravion
