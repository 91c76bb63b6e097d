#pragma once

#include <sys/types.h>

#include <string>

#include "serial/serial_port.h"

namespace dravion {

// The ioctl through which the port sets the exclusive flag and the modem lines. Tests put an
// observer in its place (ptys have no modem lines to read back); it returns the previous one.
using TtyIoctl = int (*)(int fd, unsigned long request, void* argument);
TtyIoctl SetTtyIoctl(TtyIoctl replacement);
int CallTtyIoctl(int fd, unsigned long request, void* argument);

// The failure of opening `device` with the system error `error` (an errno value): the fault, the
// group of a device the user may not open, the process that holds a busy one.
PortOpenFailure DiagnoseOpenFailure(const std::string& device, int error);

// The process (other than this one, when another exists) that has the character device `device`
// open, as far as /proc shows; pid 0 when none is seen.
struct PortHolder {
  int pid = 0;
  std::string name;
};
PortHolder FindDeviceHolder(dev_t device);

}  // namespace dravion
