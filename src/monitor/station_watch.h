#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/station_store.h"

namespace dravion {

class Clock;
class Language;

// One reading of a station as the window's table shows it.
struct StationRowText {
  std::string time;  // local time of the interval's end
  std::string serial;
  std::string rate;  // "0,12 мкЗв/ч" / "0.12 µSv/h"
  std::string cpm;
  std::string dose;    // with its unit; empty when the device gave none
  std::string sentTo;  // the outputs it went to, "radmon, safecast"; "—" for none yet
};

// What the window shows of the monitoring stations running on this computer.
class StationPanelView {
 public:
  virtual ~StationPanelView() = default;
  // A line per station (what it reads, where, how often, its state), its newest readings and a
  // line per output (how it fares).
  virtual void ShowStations(const std::vector<std::string>& stations,
                            const std::vector<StationRowText>& readings,
                            const std::vector<std::string>& outputs) = 0;
  // No station runs.
  virtual void HideStations() = 0;
};

// Watches the archive for monitoring stations (dravion-cli monitor) running on this computer:
// which port each holds, so that the window leaves it alone and says why, and what each reads
// and where its readings went, for the measuring page. Looks at the archive at most every two
// seconds, however often it is asked.
class StationWatch {
 public:
  StationWatch(Clock& clock, const Language& language, StationPanelView& view);

  // The archive the stations write to (the default archive unless set before first use).
  std::string ArchivePath;
  // How many of the newest readings the view gets.
  size_t ReadingsShown = 10;

  // Called from the window's heartbeat: refreshes what it knows and, when it looked again (or
  // `now`, after a change of language), the view.
  void Update(bool now = false);
  // The line for the status bar when a running station holds port `port` (any port when `port`
  // is 0 or less), else empty.
  std::string HoldingText(int port);
  // The stations as last looked at.
  const std::vector<StationStatus>& Stations() const { return stations_; }

 private:
  // Looks at the archive again unless it did so lately; true when it did.
  bool Refresh();
  std::string Text(const char* russian, const char* english) const;
  std::string StationLine(const StationStatus& station) const;
  std::string OutputLine(const StationStatus& station, const StationOutputState& output);
  StationRowText RowOf(const StationReading& reading);
  std::string Decimal(double value, int decimals) const;

  Clock& clock_;
  const Language& language_;
  StationPanelView& view_;
  StationStore store_;
  bool tried_ = false;
  uint32_t lookedAt_ = 0;
  std::vector<StationStatus> stations_;
  std::string shown_;  // what the view shows, to redraw only on a change
};

}  // namespace dravion
