#pragma once

#include <cstdint>
#include <string>

namespace dravion {

// The archive's file name inside the user's application-data folder.
inline constexpr const char* kArchiveFileName = "history-archive.sqlite3";

// Where the user's archive lives: $DRAVION_ARCHIVE when set (a file path), else the application-
// data folder of the user (Windows: %LOCALAPPDATA%\Dravion Manager\; elsewhere:
// $XDG_DATA_HOME/dravion-manager/, by default ~/.local/share/dravion-manager/). Empty when no such
// folder can be found. Never the working folder, which is emptied at every start.
std::string DefaultArchivePath();
// Creates the folders above `file` that are missing; false with the system's reason in `error`.
bool MakeFolderFor(const std::string& file, std::string& error);
// Renames `from` to `to` (both UTF-8 paths); false when the system refuses.
bool RenameFile(const std::string& from, const std::string& to);
bool FileIsThere(const std::string& path);
// The file's size in bytes, -1 when it cannot be read.
int64_t FileSizeOf(const std::string& path);
// The whole file; false with the system's reason in `error`.
bool ReadWholeFile(const std::string& path, std::string& text, std::string& error);
// The computer's local time as "2026-12-08-0315" for file names, and as "2026-12-08 03:15:07".
std::string LocalStampForFileName();
std::string LocalTimeText();

}  // namespace dravion
