#pragma once

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
int DoseReset(CliSession& session);
int HistoryDownload(CliSession& session);
int HistoryDelete(CliSession& session);
int FirmwareUpdate(CliSession& session);

// Whether a device command ended well: no error or warning box, no question refused for want of
// a terminal.
int Outcome(CliSession& session);

}  // namespace dravion::cli
