#include "services/number_text.h"

#include <charconv>

namespace dravion {

std::string FixedDecimal(double value, int decimals) {
  // Wide enough for any double in fixed notation with the decimals asked for.
  char text[400];
  if (decimals < 0) decimals = 0;
  if (decimals > 17) decimals = 17;
  const std::to_chars_result result =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  if (result.ec != std::errc()) return "0";
  return std::string(text, result.ptr);
}

std::string ShortestDecimal(double value) {
  char text[64];
  const std::to_chars_result result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

}  // namespace dravion
