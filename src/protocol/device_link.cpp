#include "protocol/device_link.h"

#include <algorithm>
#include <vector>

#include "serial/byte_sink.h"
#include "serial/channels.h"
#include "services/clock.h"
#include "services/dialogs.h"
#include "services/event_pump.h"

namespace dravion {

bool AnswerMatches(const uint8_t* frame, int frameLength, const uint8_t* request) {
  if (frame == nullptr || frameLength < 6) return false;
  return (frame[4] & 0x40) != 0 && (frame[4] & 0x3F) == (request[0] & 0x3F) &&
         (frame[5] & 0x3F) == (request[1] & 0x3F);
}

bool AnswerEchoes(const uint8_t* frame, int frameLength, const uint8_t* request, int echo) {
  return echo <= 0 ||
         (frameLength >= 6 + echo && std::equal(request + 2, request + 2 + echo, frame + 6));
}

bool DeviceLink::SendFrame(ReceiveChannel& channel, const uint8_t* request, int length,
                           bool takeLock) {
  if (request == nullptr || length < 2 || length > FrameEncoder::Capacity) return false;
  RegistryLock lock(registry_, takeLock);
  uint8_t payload[FrameEncoder::Capacity + 4];
  payload[0] = channel.Destination[0];
  payload[1] = channel.Destination[1];
  payload[2] = 0;
  payload[3] = static_cast<uint8_t>(channel.Address & 0x1F);
  std::copy(request, request + length, payload + 4);
  const int encoded = encoder_.Encode(payload, static_cast<uint16_t>(length + 4));
  for (int sent = 0; sent < encoded; sent += kWritePiece) {
    port_.WriteBytes(encoder_.Buffer + sent, std::min(kWritePiece, encoded - sent));
  }
  return encoded > 0;
}

bool DeviceLink::Transact(ReceiveChannel* channel, const uint8_t* request, int length, bool resend,
                          const std::string& noAnswerText, int echo) {
  if (channel == nullptr || request == nullptr || length < 2 || !port_.IsOpen()) return false;
  echo = std::clamp(echo, 0, length - 2);
  bool lateAnswer = false;
  if (channel->Busy) return false;
  channel->Busy = true;
  ++waiting_;
  struct BusyReset {
    ReceiveChannel* channel;
    int& waiting;
    ~BusyReset() {
      channel->Busy = false;
      --waiting;
    }
  } busyReset{channel, waiting_};

  channel->Clear(true);
  SendFrame(*channel, request, length, true);
  int attempt = 1;
  uint32_t start = clock_.TickMs();
  const int maxSends = resend ? kMaxSends : 1;
  for (;;) {
    // Read before the queue is looked at: the reader thread files what came before the hang-up
    // first, so an answer that made it is still taken.
    const bool lost = port_.LineLost();
    bool moreWaiting = false;
    {
      RegistryLock lock(registry_, true);
      if (channel->FrameCount > 0 && channel->Current != nullptr) {
        if (AnswerMatches(channel->Current, channel->CurrentLength, request)) {
          if (AnswerEchoes(channel->Current, channel->CurrentLength, request, echo)) return true;
          lateAnswer = true;
        }
        channel->Advance(false);
        moreWaiting = channel->FrameCount > 0;
      }
    }
    // A device that went away answers no resend: fail now instead of after them.
    if (lost && !moreWaiting) break;
    const uint32_t now = clock_.TickMs();
    if (TicksSince(start, now) > kAttemptTimeoutMs) {
      if (attempt >= maxSends) break;
      SendFrame(*channel, request, length, true);
      ++attempt;
      ++channel->RepeatCount;
      start = now;
    }
    // Sleep until the reader thread files a frame or the attempt expires; with frames still
    // waiting, only let pending events run.
    pump_.ProcessEvents(moreWaiting ? now : start + kAttemptTimeoutMs + 1);
  }
  if (lateAnswer) return false;
  const std::string text = noAnswerText == kDefaultNoAnswer ? kNoAnswerFromDevice : noAnswerText;
  if (!text.empty()) dialogs_.ShowMessage(BoxKind::Error, text);
  return false;
}

}  // namespace dravion
