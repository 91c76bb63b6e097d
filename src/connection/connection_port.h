#pragma once

#include <cstdint>

#include "serial/port_fault.h"
#include "serial/port_identity.h"

namespace dravion {

class SerialPort;

// The serial port as the connection manager drives it.
class ConnectionPort {
 public:
  virtual ~ConnectionPort() = default;
  // Only while the port is closed.
  virtual void SetPortNumber(int number) = 0;
  virtual int PortNumber() const = 0;
  virtual bool Open(uint32_t baud) = 0;
  virtual bool Close() = 0;
  virtual bool IsOpen() const = 0;
  // Why the last Open failed, as far as the system tells.
  virtual PortOpenFailure LastOpenFailure() const { return {}; }
  // Why port `number` cannot be opened right now (fault None when it can).
  virtual PortOpenFailure Check(int /*number*/) { return {}; }
  // The USB device behind port `number`, where the system tells (unknown otherwise).
  virtual PortIdentity Identity(int /*number*/) { return {}; }
};

// The manager's one real serial port.
class ComPortConnection : public ConnectionPort {
 public:
  explicit ComPortConnection(SerialPort& port) : port_(port) {}
  void SetPortNumber(int number) override;
  int PortNumber() const override;
  bool Open(uint32_t baud) override;
  bool Close() override;
  bool IsOpen() const override;
  PortOpenFailure LastOpenFailure() const override;
  PortOpenFailure Check(int number) override;
  PortIdentity Identity(int number) override;

 private:
  SerialPort& port_;
};

}  // namespace dravion
