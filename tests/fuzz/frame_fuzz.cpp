// Feeds arbitrary line bytes through the frame decoder and the channel dispatch, interleaved with
// what the waiting side does to the queues (advance, clear, inspect the current frame).
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "protocol/frame_receiver.h"
#include "serial/channels.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace dravion;
  ChannelRegistry registry;
  ReceiveChannel one(registry, 1);
  ReceiveChannel two(registry, 2);
  ReceiveChannel three(registry, 3);
  FrameReceiver receiver(registry);
  volatile uint8_t sink = 0;
  size_t i = 0;
  while (i < size) {
    // The first byte of each chunk picks its length and what the consumer does afterwards.
    const uint8_t control = data[i++];
    const size_t length = std::min<size_t>(size - i, 1u + (control & 0x3F) * 16u);
    receiver.Feed(data + i, static_cast<int>(length));
    i += length;
    ReceiveChannel& channel = control & 0x40 ? one : (control & 0x80 ? two : three);
    {
      RegistryLock lock(registry, true);
      if (channel.Current != nullptr) {
        // Touch every byte the channel claims to hold.
        for (int k = 0; k < channel.CurrentLength; ++k)
          sink ^= channel.Current[k];
        if (channel.PayloadLength() < 0) __builtin_trap();
      }
      if (channel.FrameCount < 0 || channel.FrameCount > ReceiveChannel::kQueueCapacity) {
        __builtin_trap();
      }
    }
    if (control & 0x01) channel.Advance(true);
    if ((control & 0x0E) == 0x0E) channel.Clear(true);
  }
  return 0;
}
