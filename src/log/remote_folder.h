#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace dravion {

// What the per-device report folder is built from: whether a device was identified, and its
// serial number (bytes 9 to 12 of its factory block).
struct ReportIdentity {
  bool valid = false;
  std::array<uint8_t, 4> serial{};
};

class DeviceInfo;

// The identity of the device at exit: its Valid flag and its serial bytes.
ReportIdentity ReportIdentityOf(const DeviceInfo& device);

// The remote folder of a device's report under `root`, components joined and ended by "\"
// (log5\1_23\45xxx\6xx\), from the serial in its folder form (1-23-45678). Devices without a
// usable serial go to root\__no_number\.
std::string RemoteLogFolder(const std::string& root, const ReportIdentity& identity);
// The same from the serial's folder text (compared without regard to case for the all-F serial).
std::string RemoteLogFolder(const std::string& root, bool valid, const std::string& serialText);

// The components of a remote path ("a\b\file"): the folders (each followed by "\"; empty ones
// skipped) and the file name (the text after the last "\").
std::vector<std::string> RemoteFolders(const std::string& remotePath);
std::string RemoteFileName(const std::string& remotePath);

}  // namespace dravion
