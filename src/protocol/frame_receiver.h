#pragma once

#include <cstdint>
#include <functional>

#include "protocol/frame_codec.h"

namespace dravion {

class ChannelRegistry;

// Files one decoded frame into the channel whose address is the low 5 bits of byte 1, or into the
// address-0 channel when none holds it. Frames shorter than 6 bytes and frames for unknown
// addresses are dropped. Returns true when the frame was filed.
bool DispatchFrame(ChannelRegistry& registry, const uint8_t* frame, int length);

// Bytes from the line to filed frames: the decoder plus dispatch. Used by the reader thread and
// by anything that needs to feed raw line bytes (fuzzing, tests).
class FrameReceiver {
 public:
  explicit FrameReceiver(ChannelRegistry& registry) : registry_(registry) {}
  // Decodes the bytes in order, dispatching each completed frame before the next byte.
  void Feed(const uint8_t* bytes, int count);
  // Called after each frame that was filed (the reader thread wakes the waiting exchange).
  std::function<void()> OnFrameFiled;

 private:
  ChannelRegistry& registry_;
  FrameDecoder decoder_;
};

}  // namespace dravion
