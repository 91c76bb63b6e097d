#include "protocol/link_stack.h"

#include "services/event_pump.h"

namespace dravion {

LinkStack::LinkStack(EventPump& pump, Clock& clock, Dialogs& dialogs)
    : link(port, registry, pump, clock, dialogs) {
  port.RegistryOnly = 1;
  for (ReceiveChannel* channel : {&main, &dataFlash, &programFlash}) {
    channel->Destination[0] = 0;
    channel->Destination[1] = 1;
  }
  port.SetFrameFiled([&pump] { pump.Wake(); });
  port.SetLineLost([&pump] { pump.Wake(); });
}

// The port closes (and its reader thread ends) before the channels it files into go away.
LinkStack::~LinkStack() {
  port.Close();
}

}  // namespace dravion
