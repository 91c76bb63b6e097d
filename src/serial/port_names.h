#pragma once

#include <string>

namespace dravion {

// The folder whose entries COM<n> name serial ports: $DRAVION_PORT_DIR, else ~/.dravion/ports.
std::string PortFolder();
// The device behind port number n: the port folder's COM<n> entry when it exists, else the
// conventional mapping COM1-32 = /dev/ttyS0-31, COM33-64 = /dev/ttyUSB0-31,
// COM65-96 = /dev/ttyACM0-31; empty for other numbers.
std::string PortDevicePath(int number);
// The device behind a list value such as "COM12" or "com3".
std::string PortDevicePathForValue(const std::string& value);

}  // namespace dravion
