#pragma once

#include "protocol/com_z.h"
#include "protocol/device_link.h"
#include "serial/channels.h"

namespace dravion {

// The communication objects the manager creates once: the serial port, the channel registry,
// the three channels (1 main, 2 external data flash, 3 program flash; each addressed to device 1)
// and the request/answer engine. The reader thread wakes the event pump for every filed frame.
class LinkStack {
 public:
  LinkStack(EventPump& pump, Clock& clock, Dialogs& dialogs);
  ~LinkStack();

  ChannelRegistry registry;
  TComZ port{registry};
  TMessageControl main{registry, 1};
  TMessageControl dataFlash{registry, 2};
  TMessageControl programFlash{registry, 3};
  DeviceLink link;
};

}  // namespace dravion
