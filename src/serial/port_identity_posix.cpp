#include <filesystem>
#include <system_error>

#include "serial/port_identity.h"
#include "serial/port_names.h"

namespace dravion {

PortIdentity UsbIdentityOfPort(int number) {
  const std::string path = PortDevicePath(number);
  if (path.empty()) return {};
  // A port-folder entry is a link to the tty; the tty's name leads into sysfs.
  std::error_code error;
  const std::filesystem::path device = std::filesystem::canonical(path, error);
  if (error || device.parent_path() != "/dev") return {};
  return IdentityFromSysfs("/sys", device.filename().string());
}

}  // namespace dravion
