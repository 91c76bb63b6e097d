#pragma once

// How the Windows file services name their temporary files and which refusals they wait out, as
// functions of their inputs alone (the unit tests check them).
#include <windows.h>

#include <string>

namespace dravion {

// A program that opens a file for a moment without delete sharing (a virus scanner looking at
// the new file, OneDrive or the search indexer reading the old one) makes MoveFileExW fail with
// one of these; the replacement is tried again for about a second.
bool ReplaceRefusalPasses(DWORD error);
inline constexpr DWORD kReplaceRetryMs = 1000;
inline constexpr DWORD kReplaceRetryPauseMs = 50;

// The temporary file written beside `target` before it replaces it: "~" and `seed` in base 36
// (".tmp" added where it fits), in the target's folder, its name no longer than the target's own
// (3 characters at least), so that a path the system takes for the target it takes for the
// temporary file too. Different seeds give different names while they fit.
std::string TemporaryPathBeside(const std::string& target, unsigned seed);

}  // namespace dravion
