#include "protocol/device_records.h"

#include <algorithm>

namespace dravion {

DeviceInfoBlock DeviceInfoBlock::FromBytes(const uint8_t* b) {
  DeviceInfoBlock block;
  std::copy(b, b + kSize, block.Bytes.begin());
  block.ChipCode = LoadU16(b);
  block.FactoryBlockAddress = LoadU32(b + 10);
  block.ProgramAddress = LoadU32(b + 14);
  if (block.ChipCode == 1 && block.FactoryBlockAddress == 0x08002780)
    block.FactoryBlockAddress = 0x080027F0;
  return block;
}

ChipTraits ChipTraitsFor(uint16_t chipCode) {
  switch (chipCode) {
    case 1:
      return {1024, 0x1FFFF7E8, 128};
    case 2:
    case 3:
      return {2048, 0x1FFF7590, 128};
    case 4:
    case 5:
    case 6:
    case 7:
    case 8:
      return {256, 0x1FF80050, 128};
    case 9:
      return {128, 0x1FF80050, 32};
    case 257:
    case 258:
      return {128, 0x4926, 32};
    default:
      return {0, 0, 32};
  }
}

}  // namespace dravion
