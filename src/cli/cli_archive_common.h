#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "archive/history_archive.h"

namespace dravion::cli {

class CliSession;

// What the archive commands share.

// Opens the user's archive; a file moved aside is told on stderr.
bool OpenArchive(CliSession& s, HistoryArchive& archive);
// "YYYY-MM-DD" (2000 to 2099) as device seconds at the day's start, or at its end.
bool ParseDay(const std::string& text, bool end, uint32_t& seconds);
// A device time as the device shows it ("09.05.25 14:03:00"), and as ISO 8601 without offset.
std::string DeviceTimeText(uint32_t seconds);
std::string IsoDeviceTime(uint32_t seconds);
// The archive's device named by --device (and --uid when two devices share the serial number),
// or the only one when none is named; nothing, after saying why, when there is none.
std::optional<ArchiveDevice> ChosenDevice(CliSession& s, HistoryArchive& archive);
// The same for a serial number (and identifier) named otherwise.
std::optional<ArchiveDevice> ChosenDevice(CliSession& s, HistoryArchive& archive,
                                          const std::string& serial, const std::string& uid);
// A device whose clock was set back has runs over the same times: one run is named, the newest
// unless --run names another (the CSV export takes that run alone; figures take every run in
// their period unless --run names one); `tellNewest` says on stderr that the newest was taken.
std::optional<ArchiveDevice> ChosenRun(CliSession& s, HistoryArchive& archive,
                                       const ArchiveDevice& device, bool tellNewest = true);
// The archive's damage met by a read: told, and the file moved aside with what still reads
// carried over into a new one (unless another program has it open).
void AfterReadFailure(CliSession& s, HistoryArchive& archive);

}  // namespace dravion::cli
