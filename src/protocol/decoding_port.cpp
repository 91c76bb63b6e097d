#include "protocol/decoding_port.h"

#include <algorithm>

namespace dravion {

void DecodingPort::OnReceive(int queued) {
  uint8_t buffer[1000];
  const int n = ReadBytes(buffer, std::min(queued, static_cast<int>(sizeof buffer)));
  receiver_.Feed(buffer, n);
}

}  // namespace dravion
