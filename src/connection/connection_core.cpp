#include "connection/connection_core.h"

#include "protocol/link_stack.h"
#include "services/log_sink.h"

namespace dravion {

ConnectionCore::ConnectionCore(LinkStack& stack, DeviceCommands& commands, DeviceInfo& record,
                               ConnectionView& view, Dialogs& dialogs, Clock& clock, LogSink& log,
                               const Language& language)
    : port(stack.port),
      ports(stack.port),
      device(commands, record, log),
      manager(port, ports, device, view, dialogs, clock, log, language) {
  ports.LogCallback = [&log](const std::string& line) { log.LogLine(line); };
  // The port's open and close lines belong to the same log, unless its owner routed them already.
  if (!stack.port.LogCallback) {
    stack.port.LogCallback = [&log](const std::string& line) { log.LogLine(line); };
  }
}

}  // namespace dravion
