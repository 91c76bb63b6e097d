#pragma once

#include <cstdint>

namespace dravion {

// Where request frames are written: the serial port, or a recording fake in tests.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual bool IsOpen() const = 0;
  // Writes up to `count` bytes; returns how many were written (0 when closed).
  virtual int WriteBytes(const uint8_t* bytes, int count) = 0;
  // Whether the device behind the open port has gone (the line hung up or failed): nothing
  // written now will be answered. Cleared by the next open.
  virtual bool LineLost() const { return false; }
};

}  // namespace dravion
