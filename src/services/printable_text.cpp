#include "services/printable_text.h"

#include <algorithm>
#include <cstdint>

namespace dravion {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// The code point of the UTF-8 sequence at text[i] and its length; 0 for a byte that does not
// begin a well-formed sequence (a stray continuation byte, an overlong form, a surrogate, a
// value above U+10FFFF, a sequence cut short).
size_t DecodeUtf8(std::string_view text, size_t i, uint32_t& code) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  size_t length = 0;
  uint32_t least = 0;
  if (lead < 0x80) {
    code = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1Fu, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0Fu, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07u, least = 0x10000;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3Fu);
  }
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

// Characters that change what a terminal shows or how the text around them reads: controls
// (C0, DEL, C1) and the marks that embed, override or isolate a direction of writing.
bool Unprintable(uint32_t code) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F) || (code >= 0x202A && code <= 0x202E) ||
         (code >= 0x2066 && code <= 0x2069) || code == 0x200E || code == 0x200F || code == 0x061C ||
         code == 0xFEFF;
}

}  // namespace

std::string PrintableText(std::string_view text, size_t maxCharacters) {
  std::string out;
  out.reserve(std::min(text.size(), maxCharacters * 4) + 3);
  size_t shown = 0;
  for (size_t i = 0; i < text.size(); ++shown) {
    if (shown == maxCharacters) {
      out += "...";
      break;
    }
    uint32_t code = 0;
    const size_t length = DecodeUtf8(text, i, code);
    if (length == 0 || code < 0x80) {
      const auto b = static_cast<unsigned char>(text[i]);
      if (length == 0 || Unprintable(code)) {
        out += "\\x";
        out += kHex[b >> 4];
        out += kHex[b & 0x0F];
      } else {
        out += static_cast<char>(b);
      }
      ++i;
      continue;
    }
    if (Unprintable(code)) {
      out += "\\u{";
      for (int shift = 12; shift >= 0; shift -= 4)
        out += kHex[(code >> shift) & 0x0F];
      out += '}';
    } else {
      out.append(text.substr(i, length));
    }
    i += length;
  }
  return out;
}

}  // namespace dravion
