#pragma once

#include <cstddef>
#include <string>

namespace dravion {

// The manager keeps its texts in UTF-8. Files and device traffic that are single-byte Windows-1251
// text (the run log, texts sent to the device's screen) are converted here, at that boundary.
// Characters the code page lacks become '?'.
std::string Utf8ToCp1251(const std::string& text);
std::string Cp1251ToUtf8(const std::string& bytes);
// Appends a code point (below 0x110000) as UTF-8.
void AppendUtf8(std::string& out, char32_t cp);
// Number of characters (code points) of a UTF-8 text.
size_t Utf8Length(const std::string& text);

}  // namespace dravion
