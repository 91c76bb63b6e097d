#include "serial/port_identity.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace dravion {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool IsHex4(const std::string& text) {
  return text.size() == 4 && std::all_of(text.begin(), text.end(),
                                         [](unsigned char c) { return std::isxdigit(c) != 0; });
}

std::string FirstLine(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
    line.pop_back();
  return line;
}

}  // namespace

std::string PortIdentity::Text() const {
  return Known() ? vendor + ":" + product + ":" + serial : std::string();
}

PortIdentity PortIdentity::FromText(const std::string& text) {
  const size_t first = text.find(':');
  if (first == std::string::npos) return {};
  const size_t second = text.find(':', first + 1);
  if (second == std::string::npos) return {};
  PortIdentity id{Lower(text.substr(0, first)), Lower(text.substr(first + 1, second - first - 1)),
                  text.substr(second + 1)};
  if (!IsHex4(id.vendor) || !IsHex4(id.product)) return {};
  return id;
}

PortIdentity IdentityFromInstanceId(const std::string& instanceId) {
  const std::string upper = [&] {
    std::string u = instanceId;
    std::transform(u.begin(), u.end(), u.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return u;
  }();
  const size_t vid = upper.find("VID_");
  const size_t pid = upper.find("PID_");
  if (vid == std::string::npos || pid == std::string::npos) return {};
  PortIdentity id{Lower(instanceId.substr(vid + 4, 4)), Lower(instanceId.substr(pid + 4, 4)), {}};
  if (!IsHex4(id.vendor) || !IsHex4(id.product)) return {};
  const size_t last = instanceId.find_last_of('\\');
  if (last != std::string::npos && last > pid) {
    const std::string tail = instanceId.substr(last + 1);
    if (!tail.empty() && tail.find('&') == std::string::npos) id.serial = tail;
  }
  return id;
}

bool IsUsbInterfaceInstance(const std::string& instanceId) {
  std::string upper = instanceId;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  const size_t slash = upper.find('\\', 4);
  return upper.rfind("USB\\", 0) == 0 && upper.substr(0, slash).find("&MI_") != std::string::npos;
}

PortIdentity IdentityFromInstanceIds(const std::string& instanceId, const std::string& parentId) {
  PortIdentity own = IdentityFromInstanceId(instanceId);
  if (!own.Known() || !IsUsbInterfaceInstance(instanceId) || parentId.empty()) return own;
  const PortIdentity parent = IdentityFromInstanceId(parentId);
  if (parent.vendor == own.vendor && parent.product == own.product) own.serial = parent.serial;
  return own;
}

PortIdentity IdentityFromSysfs(const std::string& sysRoot, const std::string& name) {
  namespace fs = std::filesystem;
  if (name.empty() || name.find('/') != std::string::npos) return {};
  std::error_code error;
  fs::path device = fs::canonical(fs::path(sysRoot) / "class/tty" / name / "device", error);
  if (error) return {};
  // Up from the tty's interface to the USB device, the first folder that names a vendor.
  const fs::path root = fs::canonical(sysRoot, error);
  for (int depth = 0; depth < 8 && !device.empty() && device != root; ++depth) {
    if (fs::exists(device / "idVendor", error) && fs::exists(device / "idProduct", error)) {
      PortIdentity id{Lower(FirstLine(device / "idVendor")), Lower(FirstLine(device / "idProduct")),
                      FirstLine(device / "serial")};
      if (!IsHex4(id.vendor) || !IsHex4(id.product)) return {};
      return id;
    }
    device = device.parent_path();
  }
  return {};
}

}  // namespace dravion
