#include "device/device_context.h"

#include "connection/connection_manager.h"

namespace dravion {

DeviceOperation::DeviceOperation(DeviceContext& context)
    : context_(context), linkWatch_(context.connection.LinkWatch) {
  context_.frame.SetPagesEnabled(false);
  context_.connection.LinkWatch = false;
}

DeviceOperation::~DeviceOperation() {
  context_.connection.LinkWatch = linkWatch_;
  context_.frame.SetPagesEnabled(true);
}

}  // namespace dravion
