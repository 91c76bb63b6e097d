#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace dravion {

// Text that came from outside (a file, a device, the network) made safe to print on a terminal
// or in a message: valid UTF-8 whose printable characters are kept as they are; control
// characters (escape sequences, bells, line breaks), bytes that are not UTF-8 and the marks that
// reverse the direction of text are shown as \xHH or \u{HHHH}. At most `maxCharacters`
// characters of the text are shown, followed by "..." when it was longer.
std::string PrintableText(std::string_view text, size_t maxCharacters = 200);

}  // namespace dravion
