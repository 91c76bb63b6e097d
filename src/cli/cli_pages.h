#pragma once

#include <cstdint>
#include <optional>

namespace dravion {
class HistoryController;
struct ArchivedEnd;
}  // namespace dravion

namespace dravion::cli {

class CliSession;

// The device pages' commands, each over its page's controller and a text view of the page.
// Exit statuses as in cli_options.h.
int SettingsGet(CliSession& session);
int SettingsSet(CliSession& session);
int SettingsDefault(CliSession& session);
int TimeSync(CliSession& session);
int TimeShow(CliSession& session);
int CalibrationSet(CliSession& session);
int Measure(CliSession& session);
// monitor: the device as a station until stopped (see MonitorStation).
int Monitor(CliSession& session);
// monitor --install-task / --remove-task: the monitor at this user's logon (Windows' Task
// Scheduler). Elsewhere MonitorTaskRefused says where to look instead and is true.
bool MonitorTaskRefused(CliSession& session);
int InstallMonitorTask(CliSession& session);
int RemoveMonitorTask(CliSession& session);
int DoseReset(CliSession& session);
int HistoryDownload(CliSession& session);
int HistoryDelete(CliSession& session);
int FirmwareUpdate(CliSession& session);
// The history archive: no device needed.
int ArchiveList(CliSession& session);
int ArchiveExport(CliSession& session);
int ArchiveImport(CliSession& session);
int ArchiveStats(CliSession& session);
int ArchiveCompare(CliSession& session);
// Keeps the device's unit and background alarm threshold, as a settings read found them, in the
// archive: the defaults of archive stats.
void RememberAlarmSettings(CliSession& session, uint32_t units, uint32_t backgroundLevel);
// Merges a complete download into the archive and prints what was new (and, for a read of new
// records, how much of the ring it read).
int MergeDownloadIntoArchive(CliSession& session, HistoryController& download);
// What the archive holds of the connected device, for history download --new. False, with the
// reason on stderr, when the archive cannot be used.
bool ArchivedEndOfDevice(CliSession& session, std::optional<ArchivedEnd>& end);

// Whether a device command ended well: no error or warning box, no question refused for want of
// a terminal.
int Outcome(CliSession& session);

}  // namespace dravion::cli
