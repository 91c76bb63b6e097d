#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "serial/serial_port.h"

namespace dravion {

// Lists the system's serial ports into `entries` (capacity `count` on entry; `count` becomes the
// number of list positions used, entries may have gaps with Port 255).
using PortListing = std::function<void(PortEntry* entries, int& count)>;

// The candidate ports of the automatic search: the port that last held the device first, then
// ports that appeared since the manager started. Ports already present at the first refresh are
// left alone until they disappear and come back.
class PortList {
 public:
  static constexpr int kPorts = 1000;

  // Marks of CurrentMark / PreviousMark.
  static constexpr uint8_t kAbsent = 0;
  static constexpr uint8_t kPresent = 1;   // present, and present at the refresh before
  static constexpr uint8_t kAppeared = 2;  // appeared since the refresh before
  static constexpr uint8_t kSelected = 3;  // present and equal to Selected

  // Lists through the port object's ListPorts (without probing).
  explicit PortList(SerialPort& port);
  explicit PortList(PortListing listing);

  void Reset();
  void Refresh();
  // Removes empty (Port 255) and duplicate entries, keeping the first of each port, packed from
  // the front; a non-zero State becomes 1.
  static void Compact(PortEntry* entries, int& count);

  int32_t CandidateCount = 0;
  std::array<PortEntry, kPorts> Entries{};
  std::array<uint8_t, kPorts> PreviousMark{};
  std::array<uint8_t, kPorts> CurrentMark{};
  std::array<int32_t, kPorts> Candidates{};
  std::array<int32_t, kPorts> PresentAtStart{};
  int32_t Selected = -1;
  uint8_t Changed = 0;
  uint8_t FirstRefresh = 1;
  int32_t Reserved = 0;
  LogFunction LogCallback;
  std::string LastText;
  // Whether port p holds the device found on an earlier run. Asked at the first refresh, while
  // no port is selected, for each listed port in order: the first that holds it becomes Selected,
  // so that a device plugged in before the start is tried (other ports present then are not).
  std::function<bool(int p)> HoldsRememberedDevice;

 private:
  PortListing listing_;
};

}  // namespace dravion
