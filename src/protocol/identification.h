#pragma once

#include <cstdint>
#include <string>

#include "protocol/device_records.h"

namespace dravion {

class DeviceCommands;
class LogSink;

// Identity of the connected device, filled by IdentifyDevice.
class DeviceInfo {
 public:
  uint8_t Valid = 0;  // 1 after a complete identification
  FactoryBlock Factory{};
  UidBlock Uid{};
  SoftInfo Soft;
  BoardInfo Board;
  std::string Name;

  // Valid 0, Factory, Uid and Soft zeroed, Board cleared (its hardware revision byte stays), Name
  // empty.
  void Clear();
};

// Supported hardware revisions of model 740, and the only chip accepted.
inline constexpr uint8_t kHardwareRevisionA = 41;
inline constexpr uint8_t kHardwareRevisionB = 42;
inline constexpr uint16_t kSupportedChipCode = 9;

// Reads the model, board, identifier and program information, fills `record` and logs what was
// found. True when the device is a supported one and `record.Valid` is set; otherwise one error
// line is logged and Valid stays 0 (fields filled before the failure keep their values).
bool IdentifyDevice(DeviceInfo& record, DeviceCommands& commands, LogSink& log);

}  // namespace dravion
