#include "protocol/identification.h"

#include "protocol/commands.h"
#include "protocol/device_format.h"
#include "services/log_sink.h"

namespace dravion {

void DeviceInfo::Clear() {
  Valid = 0;
  Factory.fill(0);
  Uid.fill(0);
  Soft = SoftInfo{};
  Board.Clear();
  Name.clear();
}

bool IdentifyDevice(DeviceInfo& record, DeviceCommands& commands, LogSink& log) {
  record.Clear();

  const int model = commands.GetModelCode();
  const Cached<BoardInfo>& board = commands.CachedBoardInfo();
  const uint8_t revision = board.present ? board.value.HardwareRevision : 0;
  if (model == 0) {
    log.LogError("Read BoardCode");
    return false;
  }

  record.Name = model == kModelDosimeter ? "Dravion " : "";
  record.Name += "ZAV-" + std::to_string(model);
  if (board.present) {
    record.Name += "." + std::to_string(board.value.HardwareRevision) + "." +
                   std::to_string(board.value.SubRevision);
  }
  log.LogLine("# Device: " + record.Name);

  if (model != kModelDosimeter ||
      (revision != kHardwareRevisionA && revision != kHardwareRevisionB)) {
    log.LogError("Wrong Device Type");
    return false;
  }

  const Cached<DeviceInfoBlock>& info = commands.CachedDeviceInfo();
  const uint16_t chip = info.present ? info.value.ChipCode : 0;
  if (chip != kSupportedChipCode) {
    log.LogError("CPU MODEL:" + std::to_string(chip));
    return false;
  }

  if (!commands.ReadFactoryBlock()) {
    log.LogError("Reading INF_1");
    return false;
  }
  if (!commands.ReadUid(record.Uid)) {
    log.LogError("Reading UID");
    return false;
  }

  record.Factory = commands.CachedFactoryBlock().value;
  record.Soft = commands.CachedSoftInfo().value;
  record.Board = commands.CachedBoardInfo().value;

  log.LogLine("# UID   : " + FormatUid(record.Uid));
  log.LogLine("# S/N   : " + FormatSerial(SerialBytes(record.Factory), "-"));
  log.LogLine("# (INF1) Board : " + FormatBoardName(record.Factory));
  log.LogLine("# (INF1) BoardY: " + FormatBoardVariant(record.Factory));

  if (!commands.ReadProgramInfo(record.Soft, true)) {
    log.LogError("Read SoftInfo");
    return false;
  }
  log.LogLine("# BOOT  : " + FormatVersion(record.Soft.BootVersion));
  if (record.Soft.MainVersion == 0) {
    log.LogLine("# TQV8  : Device in BOOT mode");
  } else {
    log.LogLine("# TQV8  : " + FormatVersion(record.Soft.MainVersion));
  }

  record.Valid = 1;
  return true;
}

}  // namespace dravion
