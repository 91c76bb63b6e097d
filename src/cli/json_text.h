#pragma once

#include <string>

namespace dravion::cli {

// A JSON string literal (quotes included) of a UTF-8 text.
std::string JsonString(const std::string& text);

}  // namespace dravion::cli
