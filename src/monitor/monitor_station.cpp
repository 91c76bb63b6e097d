#include "monitor/monitor_station.h"

#include <algorithm>

#include "archive/station_store.h"
#include "connection/connection_manager.h"
#include "device/device_context.h"
#include "device/value_tables.h"
#include "protocol/identification.h"
#include "services/event_pump.h"
#include "services/language.h"

namespace dravion {
namespace {

constexpr uint32_t kSecondMs = 1000;
// How often a station tells the archive it is still there (well inside kStationSilenceSeconds).
constexpr uint32_t kAnnounceEveryMs = 10 * kSecondMs;

}  // namespace

MonitorStation::MonitorStation(DeviceContext& context, StationStore& store, StationView& view,
                               int intervalSeconds)
    : context_(context),
      store_(store),
      view_(view),
      interval_(std::max(1, intervalSeconds)),
      readingContext_{context.commands, context.device,  context.connection,
                      unlogged_,        context.dialogs, context.language,
                      context.clock,    context.pump,    context.frame},
      controller_(readingContext_, silent_) {}

std::string MonitorStation::Text(const char* russian, const char* english) const {
  return context_.language.Text(russian, english);
}

void MonitorStation::SetState(State state, const std::string& detail) {
  if (state == state_) return;
  const State before = state_;
  state_ = state;
  switch (state) {
    case State::Reading:
      if (before == State::Starting) {
        view_.Note(Text("Показания прибора ", "Readings of the device ") + detail +
                   Text(" каждые ", " every ") + std::to_string(interval_) + Text(" с", " s"));
      } else {
        view_.Note(Text("Показания снова идут: ", "Readings go on: ") + detail);
      }
      break;
    case State::Away:
      view_.Note(context_.connection.Connected
                     ? Text("Прибор не отвечает, ожидание его возвращения",
                            "The device does not answer; waiting for it")
                     : Text("Прибор не подключён, ожидание его возвращения",
                            "The device is not connected; waiting for it"));
      break;
    case State::BootLoader:
      view_.Note(Text("В приборе работает загрузчик, ожидание основной программы",
                      "The device runs its boot loader; waiting for its main program"));
      break;
    case State::OldProgram:
      view_.Note(Text("Прошивка прибора слишком стара для показаний, обновите её",
                      "The device's firmware is too old for readings; update it"));
      break;
    case State::Starting:
      break;
  }
}

bool MonitorStation::Sample(bool withDose) {
  silent_.versionMessage.clear();
  bool ok = false;
  double cpm = 0;
  {
    // No link test may come between the reading's requests.
    DeviceOperation operation(context_);
    ok = controller_.ReadMeasurement(withDose) &&
         (last_.last.units == kUnitCounts || controller_.ReadCountRate(cpm));
  }
  if (!ok) {
    // The addresses are read again from whichever device answers next.
    controller_.ForgetMeasurementAddresses();
    const ConnectionManager& connection = context_.connection;
    if (connection.Connected && !connection.IdentificationDone) return false;  // identifying
    if (!silent_.versionMessage.empty()) {
      SetState(context_.device.Soft.MainVersion == 0 ? State::BootLoader : State::OldProgram);
    } else {
      SetState(State::Away);
    }
    return false;
  }
  const MeasurementReading& reading = last_.last;
  if (reading.serial != serial_ || reading.device != uid_) {
    // Another device: what the interval holds of the one before is kept as its own reading.
    if (!serial_.empty()) {
      if (averager_.Samples() > 0) Keep(intervalStart_, context_.clock.TickMs());
      view_.Note(Text("Подключён другой прибор: ", "Another device is connected: ") +
                 reading.serial);
    }
    serial_ = reading.serial;
    uid_ = reading.device;
  }
  SetState(State::Reading, serial_);
  StationSample sample;
  sample.units = reading.units;
  if (reading.units == kUnitCounts) {
    sample.cpm = reading.rate;
  } else {
    sample.rate = reading.rate;
    sample.cpm = cpm;
  }
  averager_.Add(sample);
  if (withDose) {
    dose_ = reading.dose;
    doseUnit_ = reading.doseUnit;
  }
  return true;
}

void MonitorStation::Keep(uint32_t startTick, uint32_t endTick) {
  StationReading reading = averager_.Take();
  const LocalDateTime now = context_.clock.Now();
  reading.time = UniversalSeconds(now);
  reading.utcOffsetMinutes = now.utcOffsetMinutes;
  // The seconds the interval's samples stand for: one each, at most the interval.
  const int32_t elapsed = std::max<int32_t>(0, static_cast<int32_t>(endTick - startTick));
  reading.seconds = std::clamp(static_cast<int>(elapsed / kSecondMs) + 1, 1, interval_);
  reading.dose = dose_;
  reading.doseUnit = doseUnit_;
  reading.serial = serial_;
  reading.uid = uid_;
  dose_.clear();
  doseUnit_.clear();
  // A clock that is not set (behind the newest reading kept) gives readings times that the
  // networks would take for old or wrong ones: they are kept, and sent nowhere.
  const bool behind = reading.time < newestTime_;
  if (behind != clockBehind_) {
    clockBehind_ = behind;
    view_.Note(behind ? Text("Часы компьютера отстают от последнего сохранённого показания "
                             "(не установлены?): показания сохраняются, но никуда не "
                             "отправляются, пока часы не будут установлены",
                             "The computer's clock is behind the newest reading kept (is it not "
                             "set?): readings are kept but sent nowhere until the clock is set")
                      : Text("Часы компьютера установлены: показания снова отправляются",
                             "The computer's clock is set: readings are sent again"));
  }
  if (!behind) newestTime_ = reading.time;
  std::vector<std::string> queueFor;
  for (const StationOutput* output : outputs_) {
    if (output->Replays() && !behind) queueFor.push_back(output->Name());
  }
  // Readings the archive refused before go first, in the order taken.
  bool kept = WriteUnkept() && store_.Add(reading, queueFor);
  if (kept) {
    ++readings_;
    reading.id = store_.LastId();
    for (const auto& [output, count] : store_.Dropped()) {
      if (!queueFullSaid_.insert(output).second) continue;
      view_.Note(output + Text(": очередь полна, самые старые показания удаляются из неё",
                               ": its queue is full; the oldest readings are dropped from it"));
    }
  } else {
    if (!unkeptSaid_) {
      unkeptSaid_ = true;
      view_.Note(Text("Архив не принимает показания (", "The archive does not take readings (") +
                 store_.Error() +
                 Text("); они хранятся в памяти и будут записаны, когда архив их примет",
                      "); they are kept in memory and written when it takes them"));
    }
    if (unkept_.size() >= kUnkeptMax) {
      unkept_.pop_front();
      if (!unkeptDropSaid_) {
        unkeptDropSaid_ = true;
        view_.Note(Text("В памяти уже ", "Memory already holds ") + std::to_string(kUnkeptMax) +
                   Text(" показаний, не принятых архивом: самые старые теряются",
                        " readings the archive did not take: the oldest are lost"));
      }
    }
    unkept_.push_back({reading, queueFor});
  }
  view_.OnReading(reading, kept);
  if (behind) return;
  for (StationOutput* output : outputs_)
    output->Publish(reading);
}

bool MonitorStation::WriteUnkept() {
  while (!unkept_.empty()) {
    if (!store_.Add(unkept_.front().reading, unkept_.front().queueFor)) return false;
    ++readings_;
    unkept_.pop_front();
    if (unkept_.empty()) {
      view_.Note(Text("Архив снова принимает показания; хранившиеся в памяти записаны",
                      "The archive takes readings again; those kept in memory are written"));
      unkeptSaid_ = unkeptDropSaid_ = false;
    }
  }
  return true;
}

void MonitorStation::SetLimits(int keepDays, int64_t queueMax) {
  keepDays_ = std::max(0, keepDays);
  store_.SetQueueMax(queueMax);
}

void MonitorStation::Prune() {
  if (keepDays_ <= 0) return;
  const uint32_t tick = context_.clock.TickMs();
  constexpr uint32_t kPruneEveryMs = 3600 * kSecondMs;
  if (prunedTick_ != 0 && tick - prunedTick_ < kPruneEveryMs) return;
  prunedTick_ = tick == 0 ? 1 : tick;
  const int64_t before =
      UniversalSeconds(context_.clock.Now()) - static_cast<int64_t>(keepDays_) * 86400;
  // A few pieces each time: a long backlog goes over the next hours without holding the
  // readings up.
  constexpr size_t kPiece = 1000;
  uint64_t total = 0;
  for (int piece = 0; piece < 20; ++piece) {
    uint64_t removed = 0;
    if (!store_.Prune(before, kPiece, removed)) break;
    total += removed;
    if (removed < kPiece) break;
  }
  if (total > 0 && !pruneSaid_) {
    pruneSaid_ = true;
    view_.Note(Text("Показания старше ", "Readings older than ") + std::to_string(keepDays_) +
               Text(" дн. удаляются из архива (keep_days)",
                    " days are removed from the archive (keep_days)"));
  }
}

void MonitorStation::PostNote(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(notesMutex_);
    notes_.push_back(text);
  }
  context_.pump.Wake();
}

void MonitorStation::PostOutputNote(const std::string& name, const std::string& text) {
  {
    // Kept without the output's name that begins what is said.
    const std::string prefix = name + ": ";
    std::lock_guard<std::mutex> lock(notesMutex_);
    outputStates_[name].note =
        text.compare(0, prefix.size(), prefix) == 0 ? text.substr(prefix.size()) : text;
    outputsChanged_ = true;
  }
  PostNote(text);
}

void MonitorStation::PostOutputCounts(const std::string& name, const OutputCounts& counts) {
  std::lock_guard<std::mutex> lock(notesMutex_);
  outputStates_[name].counts = counts;
  outputsChanged_ = true;
}

const char* MonitorStation::StateCode() const {
  switch (state_) {
    case State::Reading:
      return "reading";
    case State::Away:
      return "away";
    case State::BootLoader:
      return "bootloader";
    case State::OldProgram:
      return "oldprogram";
    case State::Starting:
      break;
  }
  return "starting";
}

void MonitorStation::Announce(bool force) {
  const ConnectionManager& connection = context_.connection;
  StationStatus now = status_;
  now.port = connection.Connected ? connection.ConnectedPort : 0;
  now.serial = serial_;
  now.state = StateCode();
  bool outputsChanged = false;
  {
    std::lock_guard<std::mutex> lock(notesMutex_);
    std::swap(outputsChanged, outputsChanged_);
    if (outputsChanged) {
      now.outputs.clear();
      for (auto& [name, state] : outputStates_) {
        now.outputs.push_back(state);
        now.outputs.back().name = name;
      }
    }
  }
  const uint32_t tick = context_.clock.TickMs();
  const bool changed = now.port != status_.port || now.serial != status_.serial ||
                       now.state != status_.state || outputsChanged;
  if (!force && !changed && tick - announcedTick_ < kAnnounceEveryMs) return;
  now.heartbeat = UniversalSeconds(context_.clock.Now());
  announcedTick_ = tick;
  status_ = std::move(now);
  // A failure here costs the window its view of the station, never a reading: not said.
  store_.Announce(status_);
}

void MonitorStation::SayPostedNotes() {
  std::vector<std::string> notes;
  {
    std::lock_guard<std::mutex> lock(notesMutex_);
    notes.swap(notes_);
  }
  for (const std::string& text : notes)
    view_.Note(text);
}

void MonitorStation::Run() {
  controller_.AddListener(&last_);
  status_ = StationStatus();
  status_.pid = CurrentProcessId();
  status_.started = UniversalSeconds(context_.clock.Now());
  status_.interval = interval_;
  {
    std::lock_guard<std::mutex> lock(notesMutex_);
    for (const StationOutput* output : outputs_)
      outputStates_[output->Name()];
    outputsChanged_ = true;
  }
  Announce(true);
  newestTime_ = store_.NewestTime();
  // A port the system refuses says why, as in the window: no permission (and which group gives
  // it) or another program holding it.
  context_.connection.PortRefused = [this](const PortOpenFailure& failure,
                                           const std::string& text) {
    if (failure.fault == PortFault::Denied || failure.fault == PortFault::Busy) view_.Note(text);
  };
  Prune();
  EventPump& pump = context_.pump;
  Clock& clock = context_.clock;
  const uint32_t intervalMs = static_cast<uint32_t>(interval_) * kSecondMs;
  // Seconds are read on a grid of ticks from the start (never before their tick); an interval's
  // last second is the one after which no further second fits before the interval's end.
  uint32_t next = clock.TickMs();
  intervalStart_ = next;
  uint32_t intervalEnd = next + intervalMs;
  while (!pump.QuitRequested()) {
    const uint32_t now = clock.TickMs();
    const bool closes = static_cast<int32_t>(now + kSecondMs - intervalEnd) >= 0;
    Sample(closes);
    Announce(false);
    Prune();
    if (closes) {
      if (averager_.Samples() > 0) Keep(intervalStart_, now);
      // After a stall longer than an interval, the next one begins now.
      intervalStart_ = static_cast<int32_t>(now - intervalEnd) >= 0 ? now + kSecondMs : intervalEnd;
      intervalEnd = intervalStart_ + intervalMs;
    }
    next += kSecondMs;
    // A second that took longer moves the schedule rather than bunching readings up.
    if (static_cast<int32_t>(next - clock.TickMs()) < 0) next = clock.TickMs();
    while (!pump.QuitRequested() && static_cast<int32_t>(next - clock.TickMs()) > 0) {
      pump.ProcessEvents(next);
      SayPostedNotes();
    }
  }
  // Stopped: the seconds read so far are kept as a shorter reading.
  if (averager_.Samples() > 0) Keep(intervalStart_, clock.TickMs());
  if (!unkept_.empty()) {
    view_.Note(std::to_string(unkept_.size()) +
               Text(" показаний не приняты архивом и потеряны",
                    " readings were not taken by the archive and are lost"));
  }
  context_.connection.PortRefused = nullptr;
  SayPostedNotes();
  store_.Withdraw(status_.pid, status_.started);
  controller_.RemoveListener(&last_);
}

}  // namespace dravion
