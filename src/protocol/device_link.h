#pragma once

#include <cstdint>
#include <string>

#include "protocol/frame_codec.h"

namespace dravion {

class ByteSink;
class ChannelRegistry;
class Clock;
class Dialogs;
class EventPump;
class ReceiveChannel;

inline constexpr uint32_t kAttemptTimeoutMs = 700;
inline constexpr int kMaxSends = 3;
inline constexpr int kWritePiece = 64;
// The no-answer text that selects the default message.
inline constexpr const char* kDefaultNoAnswer = "*";
inline constexpr const char* kNoAnswerFromDevice = "No answer from device";

// Request/answer over the protocol channels: frames a request, writes it, and waits (sleeping in
// the event pump, woken by the reader thread) for the matching answer, resending on time-out.
class DeviceLink {
 public:
  DeviceLink(ByteSink& port, ChannelRegistry& registry, EventPump& pump, Clock& clock,
             Dialogs& dialogs)
      : port_(port), registry_(registry), pump_(pump), clock_(clock), dialogs_(dialogs) {}

  // Puts the 4-byte address header before the request, encodes it, and writes it in pieces of at
  // most 64 bytes. A request shorter than 2 bytes, or one too long to encode, is not sent.
  bool SendFrame(ReceiveChannel& channel, const uint8_t* request, int length, bool takeLock);

  // One exchange. On success the answer is the channel's Current frame. On failure shows the
  // no-answer text ("*" for the default, "" for none). A second exchange on a channel that is
  // already waiting fails at once and silently, leaving the first one intact. When the port's
  // line is lost (the device went away), the exchange fails at once, without its resends. Every
  // resend adds one to the channel's RepeatCount, which callers may clear and read to judge the
  // line.
  // With `echo`, the answer must also repeat that many request bytes after the command (an
  // address): an answer of the same command that repeats others is a late one to an earlier
  // request (its resend was answered too) and is passed over while the wait goes on. An exchange
  // that saw only such answers fails without the no-answer text: the device did answer.
  bool Transact(ReceiveChannel* channel, const uint8_t* request, int length, bool resend,
                const std::string& noAnswerText, int echo = 0);

  ByteSink& Port() { return port_; }
  // Whether an exchange is waiting for its answer now (events run inside that wait).
  bool ExchangeWaiting() const { return waiting_ > 0; }

 private:
  ByteSink& port_;
  ChannelRegistry& registry_;
  EventPump& pump_;
  Clock& clock_;
  Dialogs& dialogs_;
  FrameEncoder encoder_;
  int waiting_ = 0;
};

// Whether a received frame answers a request: answer bit 0x40 in byte 4, and the low 6 bits of
// bytes 4 and 5 equal to those of the request's command group and code.
bool AnswerMatches(const uint8_t* frame, int frameLength, const uint8_t* request);
// Whether a matching answer repeats the `echo` request bytes that follow the command.
bool AnswerEchoes(const uint8_t* frame, int frameLength, const uint8_t* request, int echo);

}  // namespace dravion
