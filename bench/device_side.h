#pragma once

// The emulator as a real device on the line, and the exchanges as it saw them (`recordTimings`):
// the time they took from the first request's arrival to the last answer written, split into the
// line and the device (the floor), the emulator's own lateness with its answers, and the host's
// time from each answer to the next request.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/device.h"

namespace dravion::bench {

// A history ring of `records` (a full, wrapped ring from 65279 on) on COM11 of `folder`, paced at
// 230400 baud with a real device's processing times, every exchange's timing kept.
inline sim::DeviceConfig PacedHistoryRing(const std::string& folder, uint32_t records) {
  sim::DeviceConfig config;
  config.portFolder = folder;
  config.port = 11;
  config.baud = 230400;
  config.historyWrap = records >= 65279;
  config.historyStart = 0x0500;
  config.historySize = std::min<uint32_t>(records, 65279);
  config.commandTimeUs = sim::RealisticCommandTimes();
  config.recordTimings = true;
  return config;
}

struct DeviceSide {
  size_t exchanges = 0;
  double seconds = 0;  // first request's arrival to the last answer written
  double floor = 0;    // line and device alone
  double late = 0;     // the emulator's lateness with its answers
  double host = 0;     // from each answer to the next request
  double hostMedianUs = 0;

  double Ratio() const { return floor > 0 ? seconds / floor : 0; }
  // The ratio with the emulator's lateness taken out: what a device on time would have seen.
  double RatioOnTime() const { return floor > 0 ? (seconds - late) / floor : 0; }
  double HostMeanUs() const { return exchanges > 0 ? host / exchanges * 1e6 : 0; }
};

// `keep` selects the exchanges to count (all of them by default).
template <typename Keep>
DeviceSide DeviceSideOf(const std::vector<sim::ExchangeTiming>& timings, Keep keep) {
  std::vector<const sim::ExchangeTiming*> kept;
  for (const sim::ExchangeTiming& t : timings) {
    if (keep(t)) kept.push_back(&t);
  }
  DeviceSide f;
  f.exchanges = kept.size();
  if (kept.empty()) return f;
  std::vector<double> gaps;
  for (size_t i = 0; i < kept.size(); ++i) {
    const sim::ExchangeTiming& t = *kept[i];
    f.floor += (t.idealEndUs - t.arrivalUs) / 1e6;
    f.late += std::max<int64_t>(0, t.writtenUs - t.idealEndUs) / 1e6;
    if (i + 1 < kept.size()) {
      gaps.push_back(static_cast<double>(kept[i + 1]->arrivalUs - t.writtenUs));
      f.host += gaps.back() / 1e6;
    }
  }
  f.seconds = (kept.back()->writtenUs - kept.front()->arrivalUs) / 1e6;
  if (!gaps.empty()) {
    std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
    f.hostMedianUs = gaps[gaps.size() / 2];
  }
  return f;
}

inline DeviceSide DeviceSideOf(const std::vector<sim::ExchangeTiming>& timings) {
  return DeviceSideOf(timings, [](const sim::ExchangeTiming&) { return true; });
}

}  // namespace dravion::bench
