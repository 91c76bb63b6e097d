#pragma once

#include "connection/command_device.h"
#include "connection/connection_manager.h"
#include "connection/connection_port.h"
#include "serial/port_list.h"

namespace dravion {

class DeviceCommands;
class LinkStack;
class DeviceInfo;

// The connection manager wired to the manager's serial stack, command set and identity record:
// the real port, the port list over its listing (logging "PORT LIST: " lines), and the device.
class ConnectionCore {
 public:
  ConnectionCore(LinkStack& stack, DeviceCommands& commands, DeviceInfo& record,
                 ConnectionView& view, Dialogs& dialogs, Clock& clock, LogSink& log,
                 const Language& language);

  ComPortConnection port;
  PortList ports;
  CommandDevice device;
  ConnectionManager manager;
};

}  // namespace dravion
