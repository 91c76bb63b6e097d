#include "firmware/flash_verify.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "device/device_context.h"
#include "firmware/firmware_release.h"
#include "protocol/commands.h"
#include "services/clock.h"
#include "services/event_pump.h"
#include "services/log_sink.h"

namespace dravion {
namespace {

constexpr uint32_t kVerifyProgressMs = 500;
constexpr uint32_t kProgramBlock = 256;  // ReadMemory splits it into pieces of 16
constexpr uint32_t kDataBlock = 32;

// Reads [start, start + image size) in blocks through `read` (which fills a whole block or
// fails) and compares each with the image.
FlashCheck ReadBack(DeviceContext& context, const std::string& name, uint32_t start,
                    std::span<const uint8_t> image, uint32_t block, int digits,
                    const std::function<bool(uint32_t, uint8_t*, int)>& read) {
  LogSink& log = context.log;
  const uint32_t total = static_cast<uint32_t>(image.size());
  log.LogLine("# Verifying " + name + ": reading back " + std::to_string(total) + " bytes from " +
              HexText(start, digits));
  log.LogLine("# Verified: 0%");
  uint32_t lastReport = context.clock.TickMs();
  std::vector<uint8_t> bytes(block);
  FlashCheck check;
  for (uint32_t offset = 0; offset < total;) {
    const uint32_t n = std::min(block, total - offset);
    if (context.pump.QuitRequested()) {
      check.result = FlashCheck::Result::Unread;
      check.address = start + offset;
      log.LogError("Verify " + name + ": interrupted at A=" + HexText(check.address, digits));
      break;
    }
    if (!read(start + offset, bytes.data(), static_cast<int>(n))) {
      check.result = FlashCheck::Result::Unread;
      check.address = start + offset;
      log.LogError("Verify " + name +
                   ": no answer when reading A=" + HexText(check.address, digits));
      break;
    }
    for (uint32_t i = 0; i < n; ++i) {
      if (bytes[i] == image[offset + i]) continue;
      check = {FlashCheck::Result::Differs, start + offset + i, image[offset + i], bytes[i]};
      break;
    }
    if (!check.Same()) {
      log.LogError("Verify " + name + ": A=" + HexText(check.address, digits) + " reads " +
                   HexText(check.read, 2) + ", written " + HexText(check.written, 2));
      break;
    }
    offset += n;
    const uint32_t now = context.clock.TickMs();
    if (TicksSince(lastReport, now) > kVerifyProgressMs || offset == total) {
      lastReport = now;
      const int percent = static_cast<int>(uint64_t{offset} * 100 / total);
      log.ReplaceLastLine("# Verified: " + std::to_string(percent) + "%");
      context.frame.SetProgress(percent);
    }
  }
  context.frame.SetProgress(0);
  if (check.Same()) {
    log.LogLine("# Verified: " + name + " equals the image, " + std::to_string(total) +
                " bytes read back");
  }
  return check;
}

}  // namespace

std::string HexText(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

FlashCheck VerifyProgramFlash(DeviceContext& context, uint32_t address,
                              std::span<const uint8_t> image) {
  DeviceCommands& commands = context.commands;
  return ReadBack(context, "CPU Flash", address, image, kProgramBlock, 8,
                  [&](uint32_t at, uint8_t* dest, int count) {
                    return commands.ReadMemory(at, dest, count, false) == count;
                  });
}

FlashCheck VerifyDataFlash(DeviceContext& context, std::span<const uint8_t> image) {
  DeviceCommands& commands = context.commands;
  return ReadBack(context, "EFL", kDataFlashImageStart, image, kDataBlock, 6,
                  [&](uint32_t at, uint8_t* dest, int count) {
                    return commands.ReadExternalFlash(at, dest, count, false) == count;
                  });
}

}  // namespace dravion
