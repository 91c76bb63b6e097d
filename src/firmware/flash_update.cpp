#include "firmware/flash_update.h"

#include <cstdio>
#include <vector>

#include "connection/connection_manager.h"
#include "connection/device_mode.h"
#include "device/device_context.h"
#include "firmware/screen_markup.h"
#include "protocol/commands.h"
#include "serial/channels.h"
#include "services/clock.h"
#include "services/event_pump.h"
#include "services/log_sink.h"

namespace dravion {
namespace {

const std::string kProgramBanner(39, '#');
const std::string kDataBanner(43, '#');
constexpr int kBarLength = 25;

// Bytes from `address` up to the next multiple of `chunk` (a power of two), at most `remaining`.
uint32_t ChunkAt(uint32_t address, uint32_t chunk, uint32_t remaining) {
  const uint32_t n = chunk - (address & (chunk - 1));
  return remaining < n ? remaining : n;
}

int Percent(uint64_t done, uint64_t total) {
  return total == 0 ? 100 : static_cast<int>(done * 100 / total);
}

std::string Hex6(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%06X", value);
  return text;
}

std::string Hex8(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

// The spinner of the device screen keeps turning from one run to the next.
int spinnerIndex = 0;

}  // namespace

bool UpdateProgramFlash(DeviceContext& context, const FirmwareImages& images) {
  LogSink& log = context.log;
  DeviceCommands& commands = context.commands;
  log.LogLine(kProgramBanner);
  log.LogLine("# Updating TQV8");
  if (CheckDeviceMode(context.Link()) != 0) {
    log.LogLine(kProgramBanner);
    log.LogError("Update TQV8 not avaliable - TQV8 Mode");
    return false;
  }
  const uint8_t revision = commands.CachedBoardInfo().value.HardwareRevision;
  const std::span<const uint8_t> image =
      images.programFor ? images.programFor(revision) : std::span<const uint8_t>();
  if (image.empty()) return false;

  const uint32_t page = commands.ErasePageSize();
  const uint32_t programAddress = commands.ProgramAddress();
  const uint32_t chunk = commands.WritePieceSize();
  // Pages are erased only where a chunk starts them: a page size unknown or not made of whole
  // chunks, or a start inside a page, would leave old bytes under the new ones.
  if (page == 0 || chunk == 0 || (chunk & (chunk - 1)) != 0 || page % chunk != 0) {
    log.LogError("CPU Flash page size unknown for chip code " +
                 std::to_string(commands.CachedDeviceInfo().value.ChipCode));
    log.LogLine(kProgramBanner);
    return false;
  }
  if (programAddress % page != 0) {
    log.LogError("Program address " + Hex8(programAddress) + " not at a CPU Flash page start");
    log.LogLine(kProgramBanner);
    return false;
  }

  const uint32_t total = static_cast<uint32_t>(image.size());
  uint32_t lastReport = context.clock.TickMs();
  log.LogLine("#  Written: 0%");
  uint32_t remaining = total;
  uint32_t address = programAddress;
  const uint8_t* source = image.data();
  bool failed = false;
  while (remaining != 0) {
    const uint32_t n = ChunkAt(address, chunk, remaining);
    if (context.pump.QuitRequested()) {
      log.LogError("Interrupted at 0x" + Hex6(address));
      failed = true;
      break;
    }
    if (address % page == 0 && !commands.EraseCpuFlashSector(address, false)) {
      log.LogError("Erase CPU Sector");
      failed = true;
      break;
    }
    if (!commands.WriteCpuFlash(address, source, static_cast<int>(n), false)) {
      log.LogError("Writa data to CPU Flash");
      failed = true;
      break;
    }
    remaining -= n;
    address += n;
    source += n;
    const uint32_t now = context.clock.TickMs();
    if (TicksSince(lastReport, now) > kProgramProgressMs || remaining == 0) {
      lastReport = now;
      const int percent = Percent(total - remaining, total);
      log.ReplaceLastLine("# Written: " + std::to_string(percent) + "%");
      context.frame.SetProgress(percent);
    }
  }
  context.frame.SetProgress(0);
  log.LogLine(kProgramBanner);
  return !failed;
}

std::string DataFlashProgressLine(uint32_t done, uint32_t total) {
  const int percent = Percent(done, total);
  std::string bar;
  for (int i = 0; i < kBarLength; ++i)
    bar += percent >= 4 * i ? '>' : '-';
  return "# ЗАПИСЬ: " + std::to_string(percent) + "% " + std::to_string(done / 1024) + "Кб [" +
         bar + "]";
}

bool UpdateDataFlash(DeviceContext& context, std::span<const uint8_t> image) {
  LogSink& log = context.log;
  DeviceCommands& commands = context.commands;
  log.LogLine(kDataBanner);
  log.LogLine("# Updating EFL");
  if (CheckDeviceMode(context.Link()) != 1) {
    log.LogError("Update EFL not avaliable in BOOT Mode");
    return false;
  }
  std::vector<uint8_t> erased(kDataFlashSectors, 0);
  const uint32_t total = static_cast<uint32_t>(image.size());
  uint32_t address = kDataFlashImageStart;
  uint32_t offset = 0;
  uint32_t remaining = total;

  const int port = context.connection.CurrentPort;
  if (!commands.ShowConnectionText("COM " + std::to_string(port), false)) {
    log.LogError("CMD PC CONNECT");
    return false;
  }
  uint32_t lastReport = context.clock.TickMs();
  log.LogLine("# WRITING: 0% bytes");
  ReceiveChannel* channel = commands.DataFlashChannel();
  if (channel != nullptr) channel->RepeatCount = 0;
  context.frame.SetProgress(0);
  // A lost screen update never stops the write: PC_PRINT results are not looked at.
  for (const std::string& text : OpeningScreenTexts(port))
    commands.ShowScreenText(text, false);

  const uint32_t chunk = commands.WritePieceSize();
  const auto eraseOnce = [&](uint32_t at) {
    uint8_t& flag = erased[DeviceCommands::SectorIndex(at)];
    if (flag != 0) return true;
    if (!commands.EraseExternalFlashSector(at, false)) {
      log.LogError("erase_func");
      return false;
    }
    flag = 1;
    return true;
  };
  bool failed = false;
  while (remaining != 0) {
    const uint32_t n = ChunkAt(address, chunk, remaining);
    if (context.pump.QuitRequested()) {
      log.LogError("Interrupted");
      failed = true;
      break;
    }
    // The sector after a chunk that ends on its boundary is erased one chunk early, so the
    // sector just past the image is erased as well.
    if (!eraseOnce(address) || !eraseOnce(address + n)) {
      failed = true;
      break;
    }
    if (!commands.WriteExternalFlash(address, image.data() + offset, static_cast<int>(n), false)) {
      log.LogError("write_func");
      failed = true;
      break;
    }
    remaining -= n;
    address += n;
    offset += n;
    const uint32_t now = context.clock.TickMs();
    if (TicksSince(lastReport, now) > kDataProgressMs || remaining == 0) {
      lastReport = now;
      const uint32_t done = total - remaining;
      const int percent = Percent(done, total);
      log.ReplaceLastLine(DataFlashProgressLine(done, total));
      context.frame.SetProgress(percent);
      if (percent != 0) {
        spinnerIndex = (spinnerIndex + 1) & 3;
        for (const std::string& text : ProgressScreenTexts(percent, SpinnerCharacter(spinnerIndex)))
          commands.ShowScreenText(text, false);
      }
    }
  }
  if (!failed) {
    for (const std::string& text : ClosingScreenTexts())
      commands.ShowScreenText(text, false);
  } else {
    log.LogError("WRITE ERR: A=0x" + Hex6(address));
    log.LogError("Update not completed");
  }
  log.LogLine("# REP_CNT:" + std::to_string(channel != nullptr ? channel->RepeatCount : 0));
  log.LogLine(kProgramBanner);
  context.frame.SetProgress(0);
  return !failed;
}

}  // namespace dravion
