#pragma once

#include "protocol/link_stack.h"
#include "sim/device.h"

namespace dravion::test {

// Whether a request on `stack` waits for an answer that `device` is sending: while it does, a
// sped-up test clock runs at real speed (see ScaledClock).
inline bool AnswerOnItsWay(const LinkStack* stack, const sim::Device* device) {
  return stack != nullptr &&
         (stack->main.Busy || stack->dataFlash.Busy || stack->programFlash.Busy) &&
         device != nullptr && device->AnswerExpected();
}

}  // namespace dravion::test
