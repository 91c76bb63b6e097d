#pragma once

#include <cstdint>
#include <string>

#include "monitor/station_reading.h"

namespace dravion {

// Where a monitoring station's readings go besides the archive: a network, a broker, a metrics
// server. Called on the station's thread, after the reading was kept; an output must not hold it
// up for long (network work runs on its own thread).
class StationOutput {
 public:
  virtual ~StationOutput() = default;
  // The configuration section that turns it on ("prometheus").
  virtual std::string Name() const = 0;
  // Whether every reading is queued for it in the archive, with the reading and in the same
  // transaction, and delivered from there in order (a service that takes past readings).
  virtual bool Replays() const { return false; }
  virtual void Publish(const StationReading& reading) = 0;
  // The station is stopping: what the output holds is written, its threads end. At most a few
  // seconds.
  virtual void Stop() {}
};

// How an output has fared, for the metrics.
struct OutputCounts {
  uint64_t delivered = 0;
  uint64_t failed = 0;
  int64_t lastSuccess = 0;  // UTC seconds; 0 before the first
};

}  // namespace dravion
