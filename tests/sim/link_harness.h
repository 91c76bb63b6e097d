#pragma once

#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "protocol/device_records.h"
#include "protocol/link_stack.h"
#include "services/clock.h"
#include "services/event_pump.h"
#include "sim/device.h"
#include "support/fakes.h"
#include "support/pty.h"
#include "support/wait_counters.h"

namespace dravion::test {

// Header-only: the test build compiles only *_test.cpp files from this folder.

// The manager's real serial stack (DecodingPort, channels, DeviceLink) on real time, talking to an
// emulated device plugged into a private port folder.
class SimLink {
 public:
  explicit SimLink(sim::DeviceConfig config = {}, bool open = true);
  ~SimLink();

  // Opens the manager's port on the device's number.
  bool OpenPort();
  // One Transact on a channel (1, 2 or 3); the answer data (after the command bytes) on success.
  bool Request(int channel, const std::vector<uint8_t>& request,
               std::vector<uint8_t>* data = nullptr, const std::string& noAnswer = "");
  ReceiveChannel& Channel(int channel);
  // After a restart: waits for the port to go and come back, then reopens it.
  bool Reconnect(int timeoutMs = 5000);
  bool ReadParameter(uint16_t number, uint32_t& value);
  bool WriteParameter(uint16_t number, uint32_t value, uint32_t* kept = nullptr);
  // One read of up to 241 bytes (group 1 memory, group 2 external flash); the data after the echo.
  bool Read(uint8_t group, uint32_t address, uint8_t count, std::vector<uint8_t>& data);
  // Erase (group 2 sector, group 3 page) and write (at most 128 bytes) with the given codes.
  bool Erase(uint8_t group, uint8_t code, uint32_t address);
  bool Write(uint8_t group, uint8_t code, uint32_t address, const std::vector<uint8_t>& bytes);

  TempPortFolder folder;
  SystemClock clock;
  ThreadEventPump pump{clock};
  ScriptedDialogs dialogs{&clock};
  std::unique_ptr<sim::Device> device;
  std::unique_ptr<LinkStack> stack;
};

inline SimLink::SimLink(sim::DeviceConfig config, bool open) {
  config.portFolder = folder.path();
  device = std::make_unique<sim::Device>(config);
  stack = std::make_unique<LinkStack>(pump, clock, dialogs);
  stack->port.PortNumber = config.port;
  if (open) {
    device->Plug();
    OpenPort();
  }
}

inline SimLink::~SimLink() {
  stack.reset();
  device.reset();
}

inline bool SimLink::OpenPort() {
  return stack->port.Open(230400);
}

inline ReceiveChannel& SimLink::Channel(int channel) {
  if (channel == 2) return stack->dataFlash;
  if (channel == 3) return stack->programFlash;
  return stack->main;
}

inline bool SimLink::Request(int channel, const std::vector<uint8_t>& request,
                             std::vector<uint8_t>* data, const std::string& noAnswer) {
  ReceiveChannel& c = Channel(channel);
  if (!stack->link.Transact(&c, request.data(), static_cast<int>(request.size()), true, noAnswer)) {
    return false;
  }
  if (data != nullptr) {
    data->clear();
    if (c.Current != nullptr && c.CurrentLength > 6)
      data->assign(c.Current + 6, c.Current + c.CurrentLength);
  }
  return true;
}

inline bool SimLink::Reconnect(int timeoutMs) {
  if (!device->WaitPlugged(false, timeoutMs) || !device->WaitPlugged(true, timeoutMs)) return false;
  stack->port.Close();
  return OpenPort();
}

inline bool SimLink::ReadParameter(uint16_t number, uint32_t& value) {
  std::vector<uint8_t> data;
  if (!Request(1, {0x01, 0x0E, static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8)},
               &data) ||
      (data.size() != 6 && data.size() != 22)) {
    return false;
  }
  value = data[2] | data[3] << 8 | data[4] << 16 | uint32_t{data[5]} << 24;
  return true;
}

inline bool SimLink::WriteParameter(uint16_t number, uint32_t value, uint32_t* kept) {
  std::vector<uint8_t> data;
  if (!Request(1,
               {0x01, 0x0F, static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)},
               &data) ||
      (data.size() != 6 && data.size() != 22)) {
    return false;
  }
  if (kept != nullptr) *kept = data[2] | data[3] << 8 | data[4] << 16 | uint32_t{data[5]} << 24;
  return true;
}

inline bool SimLink::Read(uint8_t group, uint32_t address, uint8_t count,
                          std::vector<uint8_t>& data) {
  std::vector<uint8_t> answer;
  std::vector<uint8_t> request{group,
                               0x02,
                               static_cast<uint8_t>(address),
                               static_cast<uint8_t>(address >> 8),
                               static_cast<uint8_t>(address >> 16),
                               static_cast<uint8_t>(address >> 24),
                               count};
  if (!Request(group, request, &answer) || answer.size() < 5) return false;
  const uint32_t echo = answer[0] | answer[1] << 8 | answer[2] << 16 | uint32_t{answer[3]} << 24;
  if (echo != address || answer.size() - 5 > count) return false;
  data.assign(answer.begin() + 5, answer.end());
  return true;
}

inline bool SimLink::Erase(uint8_t group, uint8_t code, uint32_t address) {
  return Request(group,
                 {group, code, static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
                  static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 24)});
}

inline bool SimLink::Write(uint8_t group, uint8_t code, uint32_t address,
                           const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> request{group,
                               code,
                               static_cast<uint8_t>(address),
                               static_cast<uint8_t>(address >> 8),
                               static_cast<uint8_t>(address >> 16),
                               static_cast<uint8_t>(address >> 24),
                               static_cast<uint8_t>(bytes.size())};
  request.insert(request.end(), bytes.begin(), bytes.end());
  std::vector<uint8_t> answer;
  if (!Request(group, request, &answer) || answer.size() != 5) return false;
  const uint32_t echo = answer[0] | answer[1] << 8 | answer[2] << 16 | uint32_t{answer[3]} << 24;
  return echo == address && answer[4] == bytes.size();
}

inline std::vector<uint8_t> Le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

}  // namespace dravion::test
