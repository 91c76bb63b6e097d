#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "serial/byte_sink.h"
#include "serial/port_fault.h"

namespace dravion {

// One entry of the system's serial-port list: the COM number (255 for an empty slot) and a state
// (-1 not probed, 0 present, 1 absent).
struct PortEntry {
  int32_t Port = 255;
  int32_t State = 0;
};

using LogFunction = std::function<void(const std::string&)>;

// The COM port: exclusive open at the given rate, 8N1, raw, no flow control, and a reader thread
// that sleeps until input arrives and hands the queued byte count to OnReceive. Reads and writes
// are serialised, so the user-interface thread may write while the reader thread reads.
class SerialPort : public ByteSink {
 public:
  SerialPort();
  // A derived class must call Close() in its own destructor: the reader thread calls OnReceive.
  ~SerialPort() override;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  bool Open(uint32_t baud);
  // Wakes the reader thread, waits for it to finish, closes the port; false when it was closed.
  bool Close();
  bool IsOpen() const override;
  int WriteBytes(const uint8_t* bytes, int count) override;
  int ReadBytes(uint8_t* buffer, int count);
  bool LineLost() const override { return lineLost_.load(); }

  // Why the last Open failed (fault None after a successful one, and where the system does not
  // tell).
  const PortOpenFailure& LastOpenFailure() const { return lastFailure_; }

  // Whether port `number` (or a listed name) can be opened right now.
  bool Probe(int number);
  bool ProbeName(const std::string& name);
  // Fills up to `count` entries from the system's serial-port list; `count` becomes the number of
  // list values considered. Entries are indexed by list position and may have gaps.
  void ListPorts(PortEntry* entries, int& count, bool probe = false);

  // Called on the reader thread with the number of bytes waiting.
  virtual void OnReceive(int queued) = 0;
  // Called once per opening, on the reader thread or the writing one, when the line is lost.
  virtual void OnLineLost() {}

  uint8_t RegistryOnly = 0;
  int32_t PortNumber = 0;
  LogFunction LogCallback;

 private:
  void Log(const std::string& line) const;
  // Records that the device went away; the first time per opening, OnLineLost follows.
  void MarkLineLost();
  PortOpenFailure lastFailure_;
  std::atomic<bool> lineLost_{false};
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Why port `number` cannot be opened right now: fault None when it can (it is closed again at once)
// and for number 0, which names no port.
PortOpenFailure CheckPort(int number);

// The "COMn" values of the system's serial-port list, or false when the list cannot be read.
bool ReadPortValues(std::vector<std::string>& values);
// The port number a list value names: -1 unless it starts with "COM" in any case; otherwise the
// last run of decimal digits (COM12 gives 12), 0 when there is none.
int ParsePortValue(const std::string& value);
// Fills entries from list values as the serial-port list does (see SerialPort::ListPorts).
void FillPortEntries(const std::vector<std::string>& values, PortEntry* entries, int& count,
                     const std::function<bool(const std::string&)>& probe);

}  // namespace dravion
