#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "services/clock.h"

namespace dravion {

class Language;
struct DeviceContext;

// What a label shows when it has no value.
inline constexpr const char* kMeasureDashes = "--------";
// Automatic readings are this far apart; the dose comes with every tenth, starting with the first.
inline constexpr uint32_t kAutoReadSpacingMs = 1000;
inline constexpr int kDoseReadEvery = 10;
// How long the dose reset waits for the heartbeat to send its command.
inline constexpr uint32_t kDoseResetWaitMs = 3000;
// The device's accumulated-dose texts: 10 bytes each, ending at the first zero byte.
inline constexpr size_t kDoseTextSize = 10;
// The level byte sits this far into the rate-indicator block; the bar runs from 0 to 120.
inline constexpr uint32_t kLevelOffset = 2;
inline constexpr int kLevelMax = 120;

// The value of the rate word as shown for a unit setting: units 0 in hundredths ("0,07",
// "12,34"), units 1 in decimal, units 2 the count word shifted right by one bit, any other
// units nothing.
std::string RateValueText(uint32_t units, uint32_t word);
// The rate unit for a unit setting: micro-Sievert or micro-Roentgen per hour, CPM for any other.
std::string RateUnitTextFor(uint32_t units, const Language& language);
// The number a value text shows ("0,12", "12", "0.0052", " 1.5 "): digits with at most one
// decimal comma or point, an optional sign, blanks around; nothing for anything else ("",
// "--------", "1e3", "1,2,3").
std::optional<double> DeviceNumber(const std::string& text);
// A device text of at most `size` bytes, up to its first zero byte, from Windows-1251 to UTF-8.
std::string DeviceText(const uint8_t* bytes, size_t size);

// One reading as its listeners get it.
struct MeasurementReading {
  LocalDateTime time;    // the computer's local time of the reading
  uint32_t tick = 0;     // the clock's tick of the reading
  uint32_t units = 0;    // 0 Sievert, 1 Roentgen, 2 counts
  double rate = 0;       // in `rateUnit`
  std::string rateUnit;  // "uSv/h", "uR/h" or "CPM", whatever the interface language
  int level = 0;         // 0 to kLevelMax
  // The accumulated dose as the device last gave it, and its unit (empty before the first).
  std::string dose;
  std::string doseUnit;
  std::string device;  // the device's identifier: another device is another series
  std::string serial;  // the device's serial number ("214-36587")
};

// The rate word as a number in the unit of `units` (0 to 2).
double RateValue(uint32_t units, uint32_t word);
// The rate unit of `units` in the interface-independent form ("uSv/h", "uR/h", "CPM").
std::string RateUnitCode(uint32_t units);

// Gets every reading of a measurement controller; a failed reading (the device gone, a lost
// answer) is reported as such.
class ReadingListener {
 public:
  virtual ~ReadingListener() = default;
  virtual void OnReading(const MeasurementReading& reading) = 0;
  virtual void OnReadingFailed() {}
};

// States of the automatic reading.
enum class AutoRead { Blank = 0, Armed = 1, Running = 2 };

// What the measuring page shows and what the controller asks of it, by meaning.
class MeasurementView {
 public:
  virtual ~MeasurementView() = default;
  // The dose-rate label ("0,12 uSv/h") and the accumulated-dose label.
  virtual void ShowRate(const std::string& text) = 0;
  virtual void ShowDose(const std::string& text) = 0;
  // The level bar, 0 to kLevelMax.
  virtual void ShowLevel(int position) = 0;
  // The two indicators: yellow when lit, the button face otherwise.
  virtual void ShowRateIndicator(bool lit) = 0;
  virtual void ShowDoseIndicator(bool lit) = 0;
  // The message under the buttons ("In BOOT ..."); empty clears it.
  virtual void ShowVersionMessage(const std::string& text) = 0;
  // Whether the measuring page is the active page and the auto-read box is ticked.
  virtual bool PageActive() = 0;
  virtual bool AutoReadChecked() = 0;
  // The Read button.
  virtual bool ReadEnabled() = 0;
  virtual void SetReadEnabled(bool enabled) = 0;
};

// The measuring page's sequences: reading the dose rate, its level and the accumulated dose from
// device memory at the addresses the device announces, automatic reading once a second from the
// heartbeat, and the dose reset, whose command the heartbeat sends.
class MeasurementController {
 public:
  MeasurementController(DeviceContext& context, MeasurementView& view);

  // False without a message when the device is not connected or not identified; with the
  // version message when the boot loader or too old a main program runs. Clears the message
  // on success.
  bool CheckMeasurementAccess();
  // The addresses still unknown, then the unit setting (every time). False at the first failure.
  bool LoadMeasurementAddresses();
  // One reading: the rate and its level, and with `withDose` the accumulated dose.
  bool ReadMeasurement(bool withDose);
  // The count rate in CPM from the count word (its addresses loaded by a reading before), whatever
  // the unit setting; false when the device did not answer.
  bool ReadCountRate(double& cpm);
  // The addresses are read again at the next reading; the dose texts are emptied.
  void ForgetMeasurementAddresses();
  // Called by every heartbeat: sends a requested dose reset, then runs the automatic reading.
  void MeasurementTick();

  // Handlers of the page. Read says in a box when no device is connected.
  bool OnReadClicked();
  // One reading with the dose, the Read button disabled meanwhile; a missing device fails it
  // without a word (for readings that repeat on their own).
  bool ReadNow();
  void OnAutoReadClicked();
  // Asks, then has the heartbeat send the reset and waits for it at most kDoseResetWaitMs;
  // reports the outcome in a box. True when the device took the reset.
  bool OnDoseResetClicked();

  // Listeners get every reading from now on, until removed.
  void AddListener(ReadingListener* listener);
  void RemoveListener(ReadingListener* listener);

  // The dose texts as shown (UTF-8), from the last bytes read.
  std::string DoseValueShown() const;
  std::string DoseUnitShown() const;

  uint32_t RateAddress = 0;
  uint32_t CountAddress = 0;
  uint32_t LevelAddress = 0;
  uint32_t DoseValueAddress = 0;
  uint32_t DoseUnitAddress = 0;
  uint32_t Units = 0;
  std::string RateUnitText;
  std::array<uint8_t, kDoseTextSize> DoseValueText{};
  std::array<uint8_t, kDoseTextSize> DoseUnitText{};
  AutoRead AutoReadState = AutoRead::Blank;
  int ReadCount = 0;
  uint32_t LastReadTick = 0;
  int DoseResetRequest = 0;
  bool RateIndicatorLit = false;
  bool DoseIndicatorLit = false;
  int LastLevel = 0;  // the level byte of the last reading

 private:
  bool ReadRate(uint32_t& word);
  bool ReadDose();
  void Blank();
  void Report(bool ok, uint32_t word);

  DeviceContext& context_;
  std::vector<ReadingListener*> listeners_;
  MeasurementView& view_;
};

}  // namespace dravion
