#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "protocol/commands.h"
#include "protocol/device_link.h"
#include "protocol/device_records.h"
#include "protocol/frame_receiver.h"
#include "serial/channels.h"
#include "services/log_sink.h"
#include "support/fakes.h"

namespace dravion::test {

using Bytes = std::vector<uint8_t>;

// A small device model for command tests: program information, board information, a sparse
// memory, and parameters. `Handle` returns the answer data for a request payload, or nothing
// to stay silent. Tests change its fields or override single commands through `override`.
struct ModelDevice {
  uint16_t boot = 0x0410;
  uint16_t main = 0x0C06;
  uint32_t infoAddress = 0x08001000;
  BoardInfo board{740, 41, 3};
  std::map<uint32_t, uint8_t> memory;
  // Per (group << 8 | code): replaces the model's answer; return nullopt for silence.
  std::map<int, std::function<std::optional<Bytes>(const Bytes& params)>> override;

  static constexpr uint32_t kFactoryAddress = 0x08002000;
  static constexpr uint32_t kUidAddress = 0x1FF80050;

  ModelDevice() {
    Bytes info(48, 0);
    info[0] = 9;  // chip code
    StoreU32(&info[10], kFactoryAddress);
    StoreU32(&info[14], 0x08004000);
    Put(infoAddress, info);
    Put(kFactoryAddress, {0, 6, 3, 2, 5, 0, 0, 0, 0, 0x12, 0x34, 0x56, 0x78, 0, 0, 0});
    Put(kUidAddress, {0x30, 0x31, 0x32, 0x33, 0x0A, 0x0B, 0x0C, 0xDB, 0xC0, 0xFF, 0x00, 0x9E});
  }
  void Put(uint32_t address, const Bytes& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i)
      memory[address + static_cast<uint32_t>(i)] = bytes[i];
  }
  std::optional<Bytes> Handle(const Bytes& payload) {
    const int key = (payload[4] << 8) | payload[5];
    const Bytes params(payload.begin() + 6, payload.end());
    if (auto it = override.find(key); it != override.end()) return it->second(params);
    switch (key) {
      case 0x0100:
        return params;
      case 0x0101: {
        Bytes soft(8);
        StoreU16(&soft[0], boot);
        StoreU16(&soft[2], main);
        StoreU32(&soft[4], infoAddress);
        return soft;
      }
      case 0x0102: {
        const uint32_t address = LoadU32(params.data());
        Bytes data(params.begin(), params.begin() + 4);
        data.push_back(0);
        for (int i = 0; i < params[4]; ++i)
          data.push_back(memory[address + i]);
        return data;
      }
      case 0x010A:
        return Bytes{static_cast<uint8_t>(board.ModelCode),
                     static_cast<uint8_t>(board.ModelCode >> 8), board.HardwareRevision,
                     board.SubRevision};
      case 0x010C:
        return Bytes{15, 30, 10, 7, 12, 26, 0};
      case 0x010E:
        return Bytes{params[0], params[1], 0, 0, 0, 0};
      case 0x010F:
        return params;
      default:
        return Bytes{};
    }
  }
};

// The command set on fake time: three channels behind a recording port, answered by a device
// model after 2 ms.
struct CommandHarness {
  CommandHarness() {
    for (ReceiveChannel* c : {&one, &two, &three})
      c->Destination[1] = 1;
    receiver.OnFrameFiled = [this] { pump.Wake(); };
    port.onFrame = [this](const Bytes& request) {
      std::optional<Bytes> data = device.Handle(request);
      if (!data) return;
      const Bytes line = EncodeFrame(AnswerPayload(request[3], request[4], request[5], *data));
      pump.After(2, [this, line] { receiver.Feed(line.data(), static_cast<int>(line.size())); });
    };
  }
  // Request bytes (command group, code, parameters) of every frame sent, in order.
  std::vector<Bytes> Requests() const {
    std::vector<Bytes> out;
    for (const auto& f : port.frames)
      out.emplace_back(f.payload.begin() + 4, f.payload.end());
    return out;
  }
  // Channel addresses of the frames sent.
  std::vector<int> Sources() const {
    std::vector<int> out;
    for (const auto& f : port.frames)
      out.push_back(f.payload[3]);
    return out;
  }
  void Forget() { port.frames.clear(); }

  FakeClock clock;
  FakePump pump{clock};
  ScriptedDialogs dialogs{&clock};
  RecordingSink port{&clock};
  ChannelRegistry registry;
  ReceiveChannel one{registry, 1};
  ReceiveChannel two{registry, 2};
  ReceiveChannel three{registry, 3};
  FrameReceiver receiver{registry};
  DeviceLink link{port, registry, pump, clock, dialogs};
  ModelDevice device;
  DeviceCommands commands{link, &one, &two, &three};
};

}  // namespace dravion::test
