#include "protocol/frame_receiver.h"

#include "serial/channels.h"

namespace dravion {

bool DispatchFrame(ChannelRegistry& registry, const uint8_t* frame, int length) {
  if (frame == nullptr || length < 6) return false;
  RegistryLock lock(registry, true);
  ReceiveChannel* channel = registry.FindChannel(frame[1] & 0x1F, false);
  if (channel == nullptr) channel = registry.FindChannel(0, false);
  return channel != nullptr && channel->Push(frame, length, false);
}

void FrameReceiver::Feed(const uint8_t* bytes, int count) {
  for (int i = 0; i < count; ++i) {
    if (decoder_.DecodeByte(bytes[i]) &&
        DispatchFrame(registry_, decoder_.Body(), decoder_.Count()) && OnFrameFiled) {
      OnFrameFiled();
    }
  }
}

}  // namespace dravion
