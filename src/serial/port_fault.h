#pragma once

#include <string>

namespace dravion {

// Why a port could not be opened, as far as the system tells.
enum class PortFault {
  None,     // opened, or nothing known
  Missing,  // no device behind the port's name
  Denied,   // the user may not open the device
  Busy,     // another program holds it
  Other,    // anything else; `error` says what
};

struct PortOpenFailure {
  PortFault fault = PortFault::None;
  std::string device;  // the device that was tried (its path, or the port's folder entry)
  std::string group;   // Denied: the group that owns the device, when known
  int holderPid = 0;   // Busy: the process that holds the device, when known
  std::string holderName;
  std::string error;  // Other: the system's description of the error
};

}  // namespace dravion
