#pragma once

#include <cstdint>

#include "stats/counting_statistics.h"

namespace dravion {

class HistoryArchive;
struct ArchiveDevice;

// The counting sums of a period of one device's records: the records the chart uses (usable,
// not in conflict), each with the coefficient it was downloaded with, in [from, to] (device
// seconds, both included). A record that runs across the period's first or last second counts
// with its part inside (its seconds there, its pulses in proportion); a record of no duration
// counts its pulses where it lies and covers no time - as the period's figures take them.
// False when a read failed (the archive's ReadFailed and Error() say why).
bool ReadPeriodCounts(HistoryArchive& archive, const ArchiveDevice& device, uint32_t from,
                      uint32_t to, PeriodCounts& counts);

// The period's mean rate and its interval in uR/h (the counts' rates are K x pulses per
// second, K as K x 100).
double CountsMeanRate(const PeriodCounts& counts);
Interval CountsRateInterval(const PeriodCounts& counts, double confidence = kDefaultConfidence);
// uR/h per K x pulses per second, as the records' rates are converted.
double CountsRateFactor();

}  // namespace dravion
