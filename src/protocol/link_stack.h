#pragma once

#include "protocol/decoding_port.h"
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
  DecodingPort port{registry};
  ReceiveChannel main{registry, 1};
  ReceiveChannel dataFlash{registry, 2};
  ReceiveChannel programFlash{registry, 3};
  DeviceLink link;
};

}  // namespace dravion
