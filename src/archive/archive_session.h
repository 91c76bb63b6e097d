#pragma once

#include <cstdint>
#include <string>

#include "archive/history_archive.h"
#include "services/language.h"

namespace dravion {

class DeviceInfo;
class HistoryController;

// The serial number and identifier under which the archive keeps an identified device.
std::string ArchiveSerialOf(const DeviceInfo& device);
std::string ArchiveUidOf(const DeviceInfo& device);

// Merges; when the merge finds the file damaged, the file is moved aside, a new archive started
// with what could be read of it and the merge made there. `notice` then says so (else it is left
// empty). A damaged file that cannot be moved aside (in use) fails the merge with the reason.
MergeResult MergeIntoArchive(HistoryArchive& archive, const ArchiveBatch& batch,
                             const Language& language, std::string& notice);

// A complete download as the archive takes it: the ring's records oldest first, the device's
// time, coefficient and ring description, under the device's serial number and identifier.
ArchiveBatch BatchFromDownload(HistoryController& download, const DeviceInfo& device);

// 1204 as "1,204" (English) or "1 204" (Russian, a no-break space).
std::string GroupedNumber(uint64_t value, const Language& language);
// "1,204 new records, 64,076 already in the archive" (and the conflicts, when any).
std::string MergeMessage(const MergeResult& result, const Language& language);
// The one warning line of a merge that found the device's clock set back (with the records kept
// as a new run); empty when it found none.
std::string ClockSetBackMessage(const MergeResult& result, const Language& language);
// What the user is told when a damaged file was moved aside (with the records carried over);
// empty when none was.
std::string MovedAsideMessage(const HistoryArchive& archive, const Language& language);
// Why the archive cannot be used.
std::string ArchiveErrorMessage(const HistoryArchive& archive, const Language& language);

}  // namespace dravion
