#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace dravion {

// What the per-device report folder is built from: whether a device was identified, and its
// serial number (bytes 9 to 12 of its Inf1 block).
struct ReportIdentity {
  bool valid = false;
  std::array<uint8_t, 4> serial{};
};

// The serial number as the folder rules read it: eight upper-case hexadecimal digits, low nibble
// of each byte first, with `separator` after the first and the third digit (12 34 56 78 gives
// 2-14-36587).
std::string SerialFolderText(const std::array<uint8_t, 4>& serial, char separator = '-');

// The remote folder of a device's report under `root`, components joined and ended by "\"
// (log5\1_23\45xxx\6xx\). Devices without a usable serial go to root\__no_number\.
std::string RemoteLogFolder(const std::string& root, const ReportIdentity& identity);
// The same from the serial text in the ten-character form above (compared without regard to
// case for the all-F serial).
std::string RemoteLogFolder(const std::string& root, bool valid, const std::string& serialText);

// The components of a remote path ("a\b\file"): the folders (each followed by "\"; empty ones
// skipped) and the file name (the text after the last "\").
std::vector<std::string> RemoteFolders(const std::string& remotePath);
std::string RemoteFileName(const std::string& remotePath);

}  // namespace dravion
