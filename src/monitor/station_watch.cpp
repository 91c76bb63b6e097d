#include "monitor/station_watch.h"

#include <algorithm>
#include <cstdio>

#include "archive/archive_files.h"
#include "services/clock.h"
#include "services/language.h"
#include "services/number_text.h"
#include "services/wording.h"

namespace dravion {
namespace {

constexpr uint32_t kLookEveryMs = 2000;

// UTC seconds as the local time of a clock `offsetMinutes` east of UTC: "2026-12-07 13:28:15".
std::string LocalText(int64_t seconds, int offsetMinutes) {
  const LocalDateTime t = ShiftedBy(LocalDateTime{1970, 1, 1, 0, 0, 0, 0, offsetMinutes},
                                    seconds + static_cast<int64_t>(offsetMinutes) * 60);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

}  // namespace

StationWatch::StationWatch(Clock& clock, const Language& language, StationPanelView& view)
    : clock_(clock), language_(language), view_(view) {}

std::string StationWatch::Text(const char* russian, const char* english) const {
  return language_.Text(russian, english);
}

std::string StationWatch::Decimal(double value, int decimals) const {
  return WithDecimalSeparator(FixedDecimal(value, decimals), language_);
}

bool StationWatch::Refresh() {
  const uint32_t now = clock_.TickMs();
  if (tried_ && now - lookedAt_ < kLookEveryMs) return false;
  lookedAt_ = now;
  tried_ = true;
  // Open only while a station runs: on Windows an open file cannot be renamed, and the history
  // page moves a damaged archive aside. A writer is waited for briefly (this is the window's
  // thread); a look that finds the archive busy finds no station until the next.
  if (!store_.IsOpen() &&
      !store_.OpenToLook(ArchivePath.empty() ? DefaultArchivePath() : ArchivePath, 250)) {
    stations_.clear();
    return true;
  }
  stations_ = store_.LiveStations(UniversalSeconds(clock_.Now()));
  if (stations_.empty()) store_.Close();
  return true;
}

std::string StationWatch::StationLine(const StationStatus& s) const {
  const std::string who = Text("Станция наблюдения (dravion-cli monitor, процесс ",
                               "Monitoring station (dravion-cli monitor, process ") +
                          std::to_string(s.pid) + ")";
  const std::string every =
      Text(" каждые ", " every ") + std::to_string(s.interval) + Text(" с", " s");
  if (s.state == "reading" && s.port > 0) {
    return who + Text(" читает прибор ", " reads device ") + s.serial +
           Text(" на COM ", " on COM ") + std::to_string(s.port) + every;
  }
  if (s.state == "bootloader") {
    return who + Text(": в приборе работает загрузчик", ": the device runs its boot loader");
  }
  if (s.state == "oldprogram") {
    return who + Text(": прошивка прибора слишком стара для показаний",
                      ": the device's firmware is too old for readings");
  }
  return who + Text(" ждёт прибор", " is waiting for its device") +
         (s.serial.empty() ? std::string() : " " + s.serial);
}

std::string StationWatch::OutputLine(const StationStatus& s, const StationOutputState& o) {
  std::string line = o.name + ": ";
  if (o.name == "prometheus") {
    line += Text("метрики для Prometheus", "metrics for Prometheus");
    return line;
  }
  line += std::to_string(o.counts.delivered) + Text(" доставлено", " delivered");
  if (o.counts.failed > 0)
    line += ", " + std::to_string(o.counts.failed) + Text(" неудачных попыток", " failed tries");
  // Its station's queue, as the archive counts it (no counting here: the window's thread).
  if (const uint64_t waiting = store_.QueuedCount(s.station, o.name); waiting > 0)
    line += ", " + std::to_string(waiting) + Text(" ждут отправки", " waiting");
  if (o.counts.lastSuccess > 0)
    line += Text(", последнее в ", ", last at ") +
            LocalText(o.counts.lastSuccess, clock_.Now().utcOffsetMinutes);
  if (!o.note.empty()) line += " (" + o.note + ")";
  return line;
}

StationRowText StationWatch::RowOf(const StationReading& r) {
  StationRowText row;
  row.time = LocalText(r.time, r.utcOffsetMinutes);
  row.serial = r.serial;
  if (r.microSievertPerHour) {
    row.rate = Decimal(*r.microSievertPerHour, 3) + Text(" мкЗв/ч", " µSv/h");
  }
  row.cpm = Decimal(r.cpm, 1);
  if (!r.dose.empty()) row.dose = r.dose + " " + r.doseUnit;
  std::string sent;
  for (const std::string& output : store_.SentTo(r.id))
    sent += (sent.empty() ? "" : ", ") + output;
  row.sentTo = sent.empty() ? "—" : sent;
  return row;
}

void StationWatch::Update(bool now) {
  if (!Refresh() && !now) return;
  if (stations_.empty()) {
    if (!shown_.empty()) view_.HideStations();
    shown_.clear();
    return;
  }
  std::vector<std::string> lines, outputs;
  std::vector<StationReading> newest;
  for (const StationStatus& s : stations_) {
    lines.push_back(StationLine(s));
    for (const StationOutputState& o : s.outputs)
      outputs.push_back(OutputLine(s, o));
    if (s.serial.empty()) continue;
    std::vector<StationReading> own = store_.Latest(s.serial, ReadingsShown);
    newest.insert(newest.end(), own.begin(), own.end());
  }
  std::sort(newest.begin(), newest.end(),
            [](const StationReading& a, const StationReading& b) { return a.id > b.id; });
  newest.erase(
      std::unique(newest.begin(), newest.end(),
                  [](const StationReading& a, const StationReading& b) { return a.id == b.id; }),
      newest.end());
  if (newest.size() > ReadingsShown) newest.resize(ReadingsShown);
  std::vector<StationRowText> rows;
  std::string key;
  for (const std::string& line : lines)
    key += line + '\n';
  for (const std::string& line : outputs)
    key += line + '\n';
  for (const StationReading& r : newest) {
    rows.push_back(RowOf(r));
    key += rows.back().time + rows.back().serial + rows.back().sentTo + '\n';
  }
  if (key == shown_) return;
  shown_ = key;
  view_.ShowStations(lines, rows, outputs);
}

std::string StationWatch::HoldingText(int port) {
  Refresh();
  for (const StationStatus& s : stations_) {
    if (s.port <= 0 || (port > 0 && s.port != port)) continue;
    return Text("Прибор ", "Device ") + s.serial + " (COM " + std::to_string(s.port) +
           Text(") занят станцией наблюдения, процесс ",
                ") is held by the monitoring station, process ") +
           std::to_string(s.pid);
  }
  return {};
}

}  // namespace dravion
