#pragma once

#include <string>

namespace dravion {

constexpr const char* kWorkFolderName = "tqv8_dravion_explorer";

// The system's temporary folder (UTF-8). Windows: as the system returns it, empty when it gives
// none or a path of 4096 characters or more. POSIX: $TMPDIR, else /tmp.
std::string SystemTempFolder();

// temp + kWorkFolderName; with an empty temp part, the folder at the root ("\" or "/").
std::string WorkFolderPath(const std::string& tempFolder);

// Makes sure the folder exists (creating one level, no parents) and is fit to hold the run log.
// False when it cannot be made, or (POSIX) when it is not a plain folder of this user.
bool PrepareWorkFolder(const std::string& folder);

// Deletes each file directly inside `folder`. Sub-folders and files that cannot be deleted stay.
void ClearFolder(const std::string& folder);

// Platform check behind PrepareWorkFolder: a real folder (not a link) owned by this user.
bool IsPrivateFolder(const std::string& folder);

}  // namespace dravion
