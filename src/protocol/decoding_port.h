#pragma once

#include <functional>

#include "protocol/frame_receiver.h"
#include "serial/serial_port.h"

namespace dravion {

class ChannelRegistry;

// The manager's serial port: received bytes are decoded into frames and filed into channels.
class DecodingPort : public SerialPort {
 public:
  explicit DecodingPort(ChannelRegistry& registry) : receiver_(registry) {}
  ~DecodingPort() override { Close(); }

  // Reads at most 1000 of the queued bytes and feeds them to the frame receiver.
  void OnReceive(int queued) override;
  // Runs on the reader thread after each filed frame; the manager wakes its event pump here.
  void SetFrameFiled(std::function<void()> callback) {
    receiver_.OnFrameFiled = std::move(callback);
  }
  // Runs when the device behind the open port goes away (reader thread or writer); the manager
  // wakes its event pump here, so that a waiting exchange fails at once.
  void SetLineLost(std::function<void()> callback) { lineLost_ = std::move(callback); }
  void OnLineLost() override {
    if (lineLost_) lineLost_();
  }

 private:
  FrameReceiver receiver_;
  std::function<void()> lineLost_;
};

}  // namespace dravion
