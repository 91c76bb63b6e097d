#include "serial/port_identity.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/scratch_folder.h"

namespace dravion {
namespace {

namespace fs = std::filesystem;

TEST(PortIdentity, WindowsInstanceIdsGiveVendorProductAndARealSerialNumberOnly) {
  EXPECT_EQ(IdentityFromInstanceId("USB\\VID_0483&PID_5740\\2063365A5231"),
            (PortIdentity{"0483", "5740", "2063365A5231"}));
  // Windows makes up an id with '&' for a device without a serial number (or an interface of a
  // composite device): vendor and product only.
  EXPECT_EQ(IdentityFromInstanceId("USB\\VID_1A86&PID_7523\\5&1B2C3D4E&0&2"),
            (PortIdentity{"1a86", "7523", ""}));
  EXPECT_EQ(IdentityFromInstanceId("USB\\VID_2341&PID_0043&MI_00\\6&2B7B5B1A&0&0000"),
            (PortIdentity{"2341", "0043", ""}));
  // An interface of a composite device takes the serial number from its parent, the USB device.
  const std::string port = "USB\\VID_2341&PID_0043&MI_00\\6&2B7B5B1A&0&0000";
  EXPECT_TRUE(IsUsbInterfaceInstance(port));
  EXPECT_FALSE(IsUsbInterfaceInstance("USB\\VID_0483&PID_5740\\2063365A5231"));
  EXPECT_FALSE(IsUsbInterfaceInstance("USB\\VID_0483&PID_5740\\MI_&X"));
  EXPECT_EQ(IdentityFromInstanceIds(port, "USB\\VID_2341&PID_0043\\75735353036351E0E1A2"),
            (PortIdentity{"2341", "0043", "75735353036351E0E1A2"}));
  // A parent that is another device (a hub) or has no serial number of its own adds nothing.
  EXPECT_EQ(IdentityFromInstanceIds(port, "USB\\VID_05E3&PID_0610\\5&1&0&1"),
            (PortIdentity{"2341", "0043", ""}));
  EXPECT_EQ(IdentityFromInstanceIds(port, "USB\\VID_2341&PID_0043\\5&1B2C3D4E&0&2"),
            (PortIdentity{"2341", "0043", ""}));
  EXPECT_EQ(IdentityFromInstanceIds(port, ""), (PortIdentity{"2341", "0043", ""}));
  // A device of its own keeps its serial number whatever its parent is.
  EXPECT_EQ(IdentityFromInstanceIds("USB\\VID_0483&PID_5740\\2063365A5231", "USB\\ROOT_HUB30\\4&1"),
            (PortIdentity{"0483", "5740", "2063365A5231"}));
  // Not USB, or malformed: unknown.
  EXPECT_FALSE(IdentityFromInstanceId("ACPI\\PNP0501\\1").Known());
  EXPECT_FALSE(IdentityFromInstanceId("USB\\VID_04G3&PID_5740\\X").Known());
  EXPECT_FALSE(IdentityFromInstanceId("USB\\VID_04").Known());

  // The options' form round-trips; anything else reads as unknown.
  const PortIdentity id{"0483", "5740", "A:B"};
  EXPECT_EQ(id.Text(), "0483:5740:A:B");
  EXPECT_EQ(PortIdentity::FromText(id.Text()), id);
  EXPECT_EQ(PortIdentity::FromText("0483:5740:"), (PortIdentity{"0483", "5740", ""}));
  EXPECT_FALSE(PortIdentity::FromText("").Known());
  EXPECT_FALSE(PortIdentity::FromText("483:5740:x").Known());
  EXPECT_EQ(PortIdentity{}.Text(), "");
}

#ifndef _WIN32
void Write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

// A sysfs tree as Linux lays it out for a USB CDC device and a built-in port.
TEST(PortIdentity, SysfsLeadsFromTheTtyUpToItsUsbDevice) {
  test::ScratchFolder folder{"dravion-sysfs"};
  const fs::path sys = folder.path();
  const fs::path usb = sys / "devices/pci0000:00/0000:00:14.0/usb1/1-2";
  Write(usb / "idVendor", "0483\n");
  Write(usb / "idProduct", "5740\n");
  Write(usb / "serial", "2063365A5231\n");
  const fs::path iface = usb / "1-2:1.0";
  fs::create_directories(iface / "tty/ttyACM0");
  fs::create_directories(sys / "class/tty");
  fs::create_directory_symlink(iface / "tty/ttyACM0", sys / "class/tty/ttyACM0");
  fs::create_directory_symlink(iface, iface / "tty/ttyACM0/device");
  EXPECT_EQ(IdentityFromSysfs(sys.string(), "ttyACM0"),
            (PortIdentity{"0483", "5740", "2063365A5231"}));

  // A built-in UART: a platform device without a USB parent.
  const fs::path uart = sys / "devices/platform/serial8250/tty/ttyS0";
  fs::create_directories(uart);
  fs::create_directory_symlink(uart, sys / "class/tty/ttyS0");
  fs::create_directory_symlink(sys / "devices/platform/serial8250", uart / "device");
  EXPECT_FALSE(IdentityFromSysfs(sys.string(), "ttyS0").Known());
  // A pseudo-terminal has no device at all; a name that leaves the tree is refused.
  EXPECT_FALSE(IdentityFromSysfs(sys.string(), "pts3").Known());
  EXPECT_FALSE(IdentityFromSysfs(sys.string(), "../ttyACM0").Known());
}
#endif

}  // namespace
}  // namespace dravion
