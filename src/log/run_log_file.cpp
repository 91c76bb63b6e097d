#include "log/run_log_file.h"

#include <fstream>
#include <system_error>

#include "services/text_encoding.h"

namespace dravion {

std::filesystem::path PathFromUtf8(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

std::string Utf8FromPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string RunLogBytes(const std::vector<std::string>& lines) {
  size_t size = 0;
  for (const auto& line : lines)
    size += line.size() + 1;
  std::string text;
  text.reserve(size);
  for (const auto& line : lines) {
    text += line;
    text += '\n';
  }
  return Utf8ToCp1251(text);
}

bool WriteRunLogFile(const std::string& path, const std::vector<std::string>& lines,
                     const std::string& earlier) {
  if (path.empty()) return false;
  const std::string bytes = earlier + RunLogBytes(lines);
  const auto file = PathFromUtf8(path);
  std::error_code ignored;
  std::filesystem::remove(file, ignored);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

}  // namespace dravion
