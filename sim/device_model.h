#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "device.h"
#include "flash.h"

namespace dravion::sim {

// Seconds since 1 January 2000 00:00:00 and the device's 7-byte time record (second, minute,
// hour, day, month, year - 2000, weekday 1-7 with Monday 1).
uint32_t SecondsFromTime(const uint8_t* record);
std::array<uint8_t, 7> TimeFromSeconds(uint32_t seconds);
bool TimeRecordValid(const uint8_t* record);

// What the device does after an answer went out.
enum class AfterAnswer { None, RestartBoot, RestartMain };

struct Outcome {
  bool answer = false;  // false: the command is not served (no answer)
  std::vector<uint8_t> data;
  AfterAnswer after = AfterAnswer::None;
  std::string screenConnection;  // set for PC_CONNECTION
  std::string screenPrint;       // set for PC_PRINT
  bool hasConnection = false;
  bool hasPrint = false;
};

// The device's state and command set, without any I/O: requests in, answers out.
class DeviceModel {
 public:
  using SteadyClock = std::chrono::steady_clock;

  explicit DeviceModel(const DeviceConfig& config);

  // One request: group, code and parameter bytes. `counters` receives flash statistics.
  Outcome Handle(uint8_t group, uint8_t code, const uint8_t* params, int count, Counters& counters);
  // Whether the running program answers this command at all.
  bool Serves(uint8_t group, uint8_t code) const;

  // Restart: into the boot loader, or into the main program when the flash holds a complete
  // image (otherwise the boot loader keeps running).
  void Restart(bool toMain);
  bool InBoot() const { return inBoot_; }
  void SetHardwareRevision(uint8_t revision) { config_.hardwareRevision = revision; }
  // From now on another device: every byte of the unique identifier and of the serial number
  // changed (the serial number also in INF_1).
  void BecomeAnotherDevice();
  uint16_t MainVersion() const;
  bool ImageComplete() const;
  // What the main program found in its data flash when it last started (see Device).
  bool DataFlashIntact() const { return dataFlashIntact_; }

  uint32_t Parameter(uint16_t number);
  void SetParameter(uint16_t number, uint32_t value) { parameters_[number] = value; }
  HistoryDescription History() const { return history_; }
  // The device goes on recording: `count` records after the newest one (one a minute, a point
  // of no duration now and then, a sector header wherever a sector begins), from `from` on when
  // it is not 0 (a clock set back), else from the newest record's end. A full ring erases its
  // oldest sector when the newest record enters it. The clock then reads a few seconds after the
  // newest record's end.
  void AddHistoryRecords(uint32_t count, uint32_t from);
  // Stores a record's 16 bytes at a physical index, as they are.
  void SetHistoryRecord(uint32_t physical, const std::array<uint8_t, 16>& bytes);
  void SetBackground(double microSievertPerHour) { background_ = microSievertPerHour; }
  uint32_t Seconds() const;
  // Sets the clock (seconds since 1 January 2000), as a device whose clock has drifted.
  void SetSeconds(uint32_t seconds) {
    clockSeconds_ = seconds;
    clockBase_ = SteadyClock::now();
  }
  // The clock reads back these bytes (an impossible date, say) until a valid time is written.
  void SetClockBytes(const std::array<uint8_t, 7>& bytes) { clockBytes_ = bytes; }

  ExternalFlash& External() { return external_; }
  ProgramFlash& Program() { return program_; }
  const ExternalFlash& External() const { return external_; }
  const ProgramFlash& Program() const { return program_; }

 private:
  void ReadMemory(uint32_t address, uint8_t* out, uint32_t count);
  void BuildBootArea();
  void CheckDataFlash();
  void GenerateHistory(uint32_t size, uint32_t start, bool wrap);
  void DeleteHistory();
  void AdvanceCounter();
  void PrepareDoseText();
  void RunCommand(uint32_t value);
  uint32_t KeepParameter(uint16_t number, uint32_t value);
  double CountsPerSecond() const;
  bool SecondProgramCodes() const;
  uint8_t ProgramWriteCode() const;
  uint8_t ProgramEraseCode() const;

  DeviceConfig config_;
  bool inBoot_;
  bool freshImage_ = false;  // the program was rewritten since the factory
  bool dataFlashIntact_ = true;
  std::map<uint16_t, uint32_t> parameters_;
  ExternalFlash external_;
  ProgramFlash program_;
  std::vector<uint8_t> ram_;
  HistoryDescription history_;
  bool historyReading_ = false;

  // Clock: device seconds at `clockBase_`.
  uint32_t clockSeconds_ = 0;
  std::optional<std::array<uint8_t, 7>> clockBytes_;
  SteadyClock::time_point clockBase_;
  uint8_t weekdayByte_ = 0;

  // Counter: counts of the last seconds, and the accumulated dose since the last reset.
  std::mt19937 random_;
  double background_;
  std::vector<uint32_t> window_;  // counts per second, newest last
  SteadyClock::time_point counterTime_;
  double doseMicroRoentgen_ = 0;
  uint64_t doseCounts_ = 0;
};

}  // namespace dravion::sim
