#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace dravion::cli {

class CliSession;
struct CliIo;

// JSON values keep the order they were set in, so the printed objects read like the text output.
using Json = nlohmann::ordered_json;

// One JSON document on one line of standard output. Text that is not valid UTF-8 (it should not
// occur: device texts are converted from Windows-1251) is printed with replacement characters
// instead of failing the command.
void PrintJson(CliIo& io, const Json& value);
std::string JsonText(const Json& value);

// A value text of the device as a JSON number, or null when it shows no number.
Json JsonNumber(const std::string& text);

// The connected device's identity: port, name, serial number, UID, program versions and the
// program that runs ("main" or "boot").
Json IdentityJson(CliSession& session);

}  // namespace dravion::cli
