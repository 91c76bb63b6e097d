#include "log/remote_folder.h"

#include <algorithm>

#include "protocol/device_format.h"
#include "protocol/identification.h"

namespace dravion {

namespace {

const char kNoNumber[] = "__no_number";

bool IsAllF(const std::string& text) {
  static const char kAllF[] = "F-FF-FFFFF";
  if (text.size() != sizeof kAllF - 1) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i] == 'f' ? 'F' : text[i];
    if (c != kAllF[i]) return false;
  }
  return true;
}

}  // namespace

ReportIdentity ReportIdentityOf(const DeviceInfo& device) {
  ReportIdentity identity;
  identity.valid = device.Valid != 0;
  const auto serial = SerialBytes(device.Factory);
  std::copy(serial.begin(), serial.end(), identity.serial.begin());
  return identity;
}

std::string RemoteLogFolder(const std::string& root, bool valid, const std::string& serialText) {
  const std::string base = root.empty() ? std::string() : root + "\\";
  // A text shorter than the ten-character form cannot be split into the folder levels.
  if (!valid || IsAllF(serialText) || serialText.size() < 10) return base + kNoNumber + "\\";
  // Characters counted from 1: 1 | 3,4 | 6,7 + "xxx" | 8 + "xx".
  const std::string& s = serialText;
  return base + s.substr(0, 1) + "_" + s.substr(2, 2) + "\\" + s.substr(5, 2) + "xxx\\" +
         s.substr(7, 1) + "xx\\";
}

std::string RemoteLogFolder(const std::string& root, const ReportIdentity& identity) {
  return RemoteLogFolder(root, identity.valid,
                         FormatSerialForFolder(std::span<const uint8_t, 4>(identity.serial), "-"));
}

std::vector<std::string> RemoteFolders(const std::string& remotePath) {
  std::vector<std::string> folders;
  size_t start = 0;
  for (size_t slash = remotePath.find('\\'); slash != std::string::npos;
       slash = remotePath.find('\\', start)) {
    if (slash > start) folders.push_back(remotePath.substr(start, slash - start));
    start = slash + 1;
  }
  return folders;
}

std::string RemoteFileName(const std::string& remotePath) {
  const size_t slash = remotePath.rfind('\\');
  return slash == std::string::npos ? remotePath : remotePath.substr(slash + 1);
}

}  // namespace dravion
