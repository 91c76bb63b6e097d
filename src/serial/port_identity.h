#pragma once

#include <string>

namespace dravion {

// The USB device behind a serial port, as far as the system tells: vendor and product id (four
// lower-case hexadecimal digits each) and the device's serial number (empty when it has none).
struct PortIdentity {
  std::string vendor;
  std::string product;
  std::string serial;

  bool Known() const { return !vendor.empty() && !product.empty(); }
  bool operator==(const PortIdentity&) const = default;
  // "vvvv:pppp:serial", the form kept in the options; empty when unknown.
  std::string Text() const;
  // The inverse of Text(); unknown for anything else.
  static PortIdentity FromText(const std::string& text);
};

// The USB identity behind port `number` (SetupAPI on Windows, sysfs on Linux); unknown for a port
// that is no USB device (a built-in port, a pseudo-terminal) or that the system does not describe.
PortIdentity UsbIdentityOfPort(int number);

// The identity in a Windows device instance id, "USB\VID_0483&PID_5740\2063365A5231": the vendor
// and product, and the last part when it is the device's serial number (Windows makes up one with
// '&' in it for a device without a serial number, which is then left out).
PortIdentity IdentityFromInstanceId(const std::string& instanceId);

// Whether a Windows device instance id is one interface of a composite USB device
// ("USB\VID_2341&PID_0043&MI_00\6&2B7B5B1A&0&0000"): Windows keeps only vendor and product there,
// and the device's serial number on its parent ("USB\VID_2341&PID_0043\75735353036351E0E1A2").
bool IsUsbInterfaceInstance(const std::string& instanceId);
// The identity of a port's device `instanceId` whose parent device is `parentId` (empty when not
// asked): an interface of a composite device takes the serial number of its parent, when that
// parent is the same USB device.
PortIdentity IdentityFromInstanceIds(const std::string& instanceId, const std::string& parentId);

// The identity of tty `name` (ttyACM0) from a sysfs tree rooted at `sysRoot` (/sys): the USB
// device that the tty's device belongs to, found by walking up from /sys/class/tty/NAME/device.
PortIdentity IdentityFromSysfs(const std::string& sysRoot, const std::string& name);

}  // namespace dravion
