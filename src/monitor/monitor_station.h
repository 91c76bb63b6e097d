#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "archive/station_store.h"
#include "device/device_context.h"
#include "device/measurement.h"
#include "monitor/station_output.h"
#include "monitor/station_reading.h"
#include "services/log_sink.h"

namespace dravion {

// This process's identifier, as the system's process list shows it.
int64_t CurrentProcessId();

// What a monitoring station tells whoever runs it.
class StationView {
 public:
  virtual ~StationView() = default;
  // A reading was taken and kept in the archive (`kept` false: the archive refused it; it waits
  // in memory to be written when the archive takes it).
  virtual void OnReading(const StationReading& reading, bool kept) = 0;
  // A change of the device's state, said once each: gone, back, in its boot loader, another
  // device.
  virtual void Note(const std::string& text) = 0;
};

// A device left plugged in as a monitoring station: its dose rate and count rate read once a
// second, as the measuring page does, and every interval their means, with the accumulated dose
// at the interval's end, kept as one reading. The connection manager, run by the pump's
// heartbeat, finds the device again after an unplug or a restart; readings go on when it is back.
class MonitorStation {
 public:
  MonitorStation(DeviceContext& context, StationStore& store, StationView& view,
                 int intervalSeconds);

  // Every reading goes to `output` too, after the archive (the output is the caller's).
  void AddOutput(StationOutput* output) { outputs_.push_back(output); }
  // Readings older than `keepDays` days are removed from the archive (0: none), and each
  // output's queue holds at most `queueMax` (the oldest go).
  void SetLimits(int keepDays, int64_t queueMax);

  // A note from another thread (an output's): said through the view on the station's thread.
  void PostNote(const std::string& text);
  // From an output's thread: a note of output `name` (said as PostNote does, and kept, without
  // a leading "name: ", as its state for the window), and its counts after a try.
  void PostOutputNote(const std::string& name, const std::string& text);
  void PostOutputCounts(const std::string& name, const OutputCounts& counts);

  // Runs until the pump is asked to quit, then keeps the seconds of the interval under way as a
  // shorter reading.
  void Run();
  int Readings() const { return readings_; }
  // Readings the archive has not taken (after Run: they are lost).
  size_t Unkept() const { return unkept_.size(); }

  // The most readings kept in memory while the archive refuses them; beyond, the oldest go.
  static constexpr size_t kUnkeptMax = 10000;

 private:
  class SilentView : public MeasurementView {
   public:
    void ShowRate(const std::string&) override {}
    void ShowDose(const std::string&) override {}
    void ShowLevel(int) override {}
    void ShowRateIndicator(bool) override {}
    void ShowDoseIndicator(bool) override {}
    void ShowVersionMessage(const std::string& text) override { versionMessage = text; }
    bool PageActive() override { return false; }
    bool AutoReadChecked() override { return false; }
    bool ReadEnabled() override { return true; }
    void SetReadEnabled(bool) override {}
    std::string versionMessage;
  };
  class LastReading : public ReadingListener {
   public:
    void OnReading(const MeasurementReading& reading) override { last = reading; }
    MeasurementReading last;
  };
  // The seconds' requests go unlogged: a station reads every second for months, and its log
  // keeps what it says (the notes) and the connection's events, not two lines a second.
  class UnloggedLines : public LogSink {
   public:
    void LogLine(const std::string&) override {}
  };
  enum class State { Starting, Reading, Away, BootLoader, OldProgram };

  // One second's reading, with the dose at the interval's end; false when it failed.
  bool Sample(bool withDose);
  // Keeps the interval's reading, begun at `startTick`, its last second read at `endTick`.
  void Keep(uint32_t startTick, uint32_t endTick);
  // Writes the readings that wait in memory, oldest first, while the archive takes them; false
  // when one is still refused.
  bool WriteUnkept();
  // Removes the readings older than the configured days, a bounded piece at a time.
  void Prune();
  void SetState(State state, const std::string& detail = {});
  void SayPostedNotes();
  // Tells the archive how the station is: when something changed, else every few seconds.
  void Announce(bool force);
  const char* StateCode() const;
  std::string Text(const char* russian, const char* english) const;

  DeviceContext& context_;
  StationStore& store_;
  StationView& view_;
  const int interval_;
  SilentView silent_;
  LastReading last_;
  UnloggedLines unlogged_;
  DeviceContext readingContext_;  // the device's context, but for the log
  MeasurementController controller_;
  ReadingAverager averager_;
  State state_ = State::Starting;
  std::string serial_, uid_;  // of the device the interval's seconds came from
  std::string dose_, doseUnit_;
  uint32_t intervalStart_ = 0;  // tick of the interval's first second
  int readings_ = 0;
  std::vector<StationOutput*> outputs_;
  // Readings the archive refused, with the outputs they are queued for, oldest first.
  struct UnkeptReading {
    StationReading reading;
    std::vector<std::string> queueFor;
  };
  std::deque<UnkeptReading> unkept_;
  bool unkeptSaid_ = false, unkeptDropSaid_ = false;
  int keepDays_ = 0;
  uint32_t prunedTick_ = 0;
  bool pruneSaid_ = false;
  std::set<std::string> queueFullSaid_;
  // The end of the newest reading with a clock that was right (UTC seconds): a reading that
  // ends before it was taken with a clock that is not set.
  int64_t newestTime_ = 0;
  bool clockBehind_ = false;
  std::mutex notesMutex_;
  std::vector<std::string> notes_;                          // posted by other threads, not yet said
  std::map<std::string, StationOutputState> outputStates_;  // under notesMutex_
  StationStatus status_;                                    // as last announced
  uint32_t announcedTick_ = 0;
  bool outputsChanged_ = false;  // under notesMutex_
};

}  // namespace dravion
