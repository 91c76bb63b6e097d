#include "cli/cli_json.h"

#include <ostream>

#include "cli/cli_session.h"
#include "device/measurement.h"
#include "protocol/device_format.h"
#include "protocol/identification.h"

namespace dravion::cli {

std::string JsonText(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void PrintJson(CliIo& io, const Json& value) {
  io.out << JsonText(value) << '\n';
  io.out.flush();
}

Json JsonNumber(const std::string& text) {
  const std::optional<double> number = DeviceNumber(text);
  if (!number) return nullptr;
  // Whole numbers as the device wrote them (150 CPM, not 150.0).
  if (text.find_first_of(",.") == std::string::npos) return static_cast<long long>(*number);
  return *number;
}

Json IdentityJson(CliSession& s) {
  const DeviceInfo& record = s.record;
  Json identity;
  identity["port"] = s.core.manager.ConnectedPort;
  identity["device"] = record.Name;
  identity["serial"] = FormatSerial(SerialBytes(record.Factory), "-");
  identity["uid"] = FormatUid(record.Uid);
  identity["boot"] = FormatVersion(record.Soft.BootVersion);
  identity["main"] = FormatVersion(record.Soft.MainVersion);
  identity["program"] = record.Soft.MainVersion == 0 ? "boot" : "main";
  return identity;
}

}  // namespace dravion::cli
