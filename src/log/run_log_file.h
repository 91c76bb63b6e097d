#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace dravion {

// A file-system path from a UTF-8 text (the manager's own encoding of paths).
std::filesystem::path PathFromUtf8(const std::string& path);
std::string Utf8FromPath(const std::filesystem::path& path);

// The run log file's content: every line followed by a single line feed, in Windows-1251.
std::string RunLogBytes(const std::vector<std::string>& lines);

// Replaces the file at `path` with the run log, after `earlier` (bytes of earlier runs kept in
// front), built in memory and written with one write. Returns false when the file could not be
// written.
bool WriteRunLogFile(const std::string& path, const std::vector<std::string>& lines,
                     const std::string& earlier = {});

}  // namespace dravion
