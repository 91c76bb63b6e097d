#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/port_names.h"

namespace dravion::sim {

class DeviceModel;
class PtyPort;

// Memory map of the emulated device (an STM32L1-class processor, chip code 9).
namespace map {
inline constexpr uint32_t kProgramFlashBase = 0x08000000;
inline constexpr uint32_t kProgramFlashSize = 0x10000;  // 64 KB
inline constexpr uint32_t kProgramPage = 128;           // erase page of chip code 9
inline constexpr uint32_t kBootLoaderSize = 0x2000;     // 0x08000000-0x08001FFF
inline constexpr uint32_t kProgramAddress = kProgramFlashBase + kBootLoaderSize;
inline constexpr uint32_t kProgramImageSize = 0xE000;    // ends at the top of the flash
inline constexpr uint32_t kInfoAddress = 0x08001F00;     // DeviceInfoBlock, 48 bytes (boot area)
inline constexpr uint32_t kFactoryAddress = 0x08001F40;  // INF_1, 16 bytes (boot area)
inline constexpr uint32_t kRamBase = 0x20000000;
inline constexpr uint32_t kRamSize = 0x2000;               // 8 KB; the stack starts at 0x20002000
inline constexpr uint32_t kRateAddress = 0x20000400;       // 32-bit dose rate (µR/h)
inline constexpr uint32_t kIndicatorAddress = 0x20000408;  // rate indicator block, level at +2
inline constexpr uint32_t kCountAddress = 0x20000410;      // 32-bit count word (CPM × 2)
inline constexpr uint32_t kDoseValueAddress = 0x20000420;  // 10-byte accumulated-dose text
inline constexpr uint32_t kDoseUnitAddress = 0x20000430;   // 10-byte unit text
inline constexpr uint32_t kUidAddress = 0x1FF80050;        // 12-byte unique identifier
inline constexpr uint32_t kExternalFlashSize = 0x800000;   // 8 MiB data flash
inline constexpr uint32_t kExternalSector = 4096;
inline constexpr uint32_t kExternalPage = 256;  // program page of the data flash
inline constexpr uint32_t kHistoryBase = 0x100000;
inline constexpr uint32_t kHistorySlots = 65280;  // 255 sectors of 256 records
inline constexpr uint32_t kStackPointer = 0x20002000;
inline constexpr uint32_t kResetAddressRev41 = 0x0800B569;
inline constexpr uint32_t kResetAddressRev42 = 0x0800B521;
}  // namespace map

// Parameter numbers the device keeps.
inline constexpr uint16_t kCommandParameter = 0xFF00;
inline constexpr uint32_t kHistoryReadStart = 0xC0BA0010;
inline constexpr uint32_t kHistoryReadEnd = 0xC0BA0011;
inline constexpr uint32_t kHistoryDelete = 0xC0BA0012;
inline constexpr uint32_t kDoseReset = 0xC0BA0020;
inline constexpr uint32_t kPrepareDoseText = 0xC0BA0021;

// Command key: group in the high byte, code in the low byte (0x0101 is ReadProgramInfo).
constexpr uint16_t CommandKey(uint8_t group, uint8_t code) {
  return static_cast<uint16_t>(group << 8 | code);
}

struct DeviceConfig {
  int port = 7;  // registered as COM<port>
  std::string portFolder = dravion::PortFolder();
  uint16_t model = 740;
  uint8_t hardwareRevision = 41;
  uint8_t subRevision = 3;
  uint16_t chipCode = 9;
  uint16_t bootVersion = 0x0410;     // 0x0400 and above serve ReadBoardInformation
  uint16_t mainVersion = 0x0C06;     // reported while the factory program runs
  uint16_t releaseVersion = 0x0C06;  // reported after a complete new image was written
  std::array<uint8_t, 4> serial{0x12, 0x34, 0x56, 0x78};
  std::array<uint8_t, 12> uid{0x30, 0x00, 0x45, 0x00, 0x0E, 0x51,
                              0x33, 0x37, 0x31, 0x38, 0x39, 0x32};
  // INF_1: byte 1 board kind (6 = ZAV-740), 2 board number, 3/4 variant; the serial bytes are
  // copied to 9-12 unless `inf1KeepsSerial`.
  std::array<uint8_t, 16> inf1{0x01, 6, 2, 2, 5, 0x16, 0x08, 0x22,
                               0x00, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF};
  bool inf1KeepsSerial = false;
  bool startInBoot = false;
  bool programValid = true;       // the factory program flash holds a bootable image
  bool dataFlashValid = true;     // the factory data flash holds the carried data-flash image
  int timeAnswerLength = 7;       // 7 or 8
  int parameterAnswerLength = 6;  // 6 or 22
  double background = 0.12;       // µSv/h around which the counter fluctuates
  uint32_t historySize = 1500;    // records, 0 to 65280
  uint32_t historyStart = 0;      // physical index of the oldest record
  bool historyWrap = false;       // a full ring that has wrapped (see docs)
  // Records of 16 bytes, oldest first, laid out from `historyStart` on instead of generated ones.
  std::vector<uint8_t> historyRecords;
  uint32_t historySectorSize = 4096;  // reported in parameter 0xC020
  uint32_t historySectors = 255;      // reported in parameter 0xC021
  int restartMs = 1500;               // absence after ResetCommand
  uint32_t baud = 0;                  // 0 = as fast as the pty allows
  // Device processing time per command key (CommandKey), microseconds.
  std::map<uint16_t, uint32_t> commandTimeUs;
  bool trace = false;
  std::function<void(const std::string&)> traceSink;  // default: standard error
  bool recordTimings = false;                         // keep an ExchangeTiming per answer
  uint32_t seed = 1;                                  // random source of counts and history
};

// Typical processing times of a real device (flash erase and write take longest).
std::map<uint16_t, uint32_t> RealisticCommandTimes();

// Faults to inject; all zero (or -1 for command keys) means none. Settable at any time.
struct Faults {
  int dropEvery = 0;            // every Nth answer is not sent (the command is still carried out)
  int corruptEvery = 0;         // every Nth answer goes out with a wrong checksum
  int delayMs = 0;              // every answer waits this long before it goes out
  int silentAfter = 0;          // after N requests nothing is answered any more
  int interleaveEvery = 0;      // every Nth answer is preceded by unrelated frames and noise
  int unplugAfterMs = 0;        // unplug this long after the faults were set
  int unplugAfterRequests = 0;  // unplug on the Nth request (it is not answered)
  int replugAfterMs = 0;        // after a fault unplug, come back after this long (0 = stay away)
  int refuseCommand = -1;       // CommandKey not carried out and not answered
  int64_t refuseAddress = -1;   // with refuseCommand: only requests for this address (-1: all)
  int wrongLengthCommand = -1;  // CommandKey answered with `wrongLengthDelta` bytes more data
  int wrongLengthDelta = 1;
  // Restarts (ResetCommand or Restart): 0 comes back in the program asked for; 2 always in the
  // main program, 3 always in the boot loader (a device that ignores the mode it was given).
  int restartInto = 0;
  bool restartStaysAway = false;  // a restart drops off the port and never comes back
  // A restart comes back as another device: another unique identifier and serial number.
  bool restartAsAnother = false;
  int loseAnswerTo = -1;  // CommandKey whose next answer is lost (carried out, not answered); once
  // A flash write (either flash) that covers this address stores the byte there with bit 0
  // flipped, and is acknowledged as usual (-1: none).
  int64_t badWriteAddress = -1;
};

struct Counters {
  std::map<uint16_t, int> requests;  // by CommandKey
  int totalRequests = 0;
  int answers = 0;  // answers written to the line
  int dropped = 0;
  int corrupted = 0;
  int delayed = 0;
  int interleaved = 0;
  int silenced = 0;
  int refused = 0;  // refused by the fault option
  int wrongLength = 0;
  int unserved = 0;   // commands the running program does not serve (no answer)
  int badFrames = 0;  // frames not addressed to the device or too short
  int plugs = 0;
  int unplugs = 0;
  int restarts = 0;
  int lost = 0;       // answers lost by `loseAnswerTo`
  int badWrites = 0;  // writes stored wrong by `badWriteAddress`
  int externalErases = 0;
  int externalWrites = 0;
  int externalUnerasedWrites = 0;  // writes that met bytes that were not erased
  int programErases = 0;
  int programWrites = 0;
  int programUnerasedWrites = 0;
  int protectedWrites = 0;  // erases/writes refused outside the program area
};

// A flash request as the device received it (groups 2 and 3), in order.
struct FlashRequest {
  uint16_t key = 0;  // CommandKey
  uint32_t address = 0;
  int count = 0;  // bytes of a write; 0 for an erase
};

// When one answered request met the device, on the steady clock in microseconds: the line and
// the device's own time are `due - arrival` and the answer's bytes; whatever the emulator adds on
// top of those shows as `written` after the ideal end.
struct ExchangeTiming {
  uint16_t key = 0;        // CommandKey
  int64_t arrivalUs = 0;   // the request was read from the port
  int64_t dueUs = 0;       // the request's line time and the device's time after arrival
  size_t answerBytes = 0;  // the answer's bytes on the line
  int64_t idealEndUs = 0;  // when a real line would have delivered the answer's last byte
  int64_t writtenUs = 0;   // when the emulator began writing the answer's last piece
};

struct HistoryDescription {
  uint32_t first = 0;
  uint32_t last = 0;
  uint32_t count = 0;
};

// The Dravion on a pseudo-terminal. Plug registers COM<n> in the port folder and serves requests
// on its own thread; control calls are safe from any other thread meanwhile.
class Device {
 public:
  explicit Device(DeviceConfig config);
  ~Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  bool Plug();
  void Unplug();
  bool Plugged() const;
  // Waits until the port entry is present (or absent); false on time-out.
  bool WaitPlugged(bool plugged, int timeoutMs) const;
  // The COM<n> entry in the port folder.
  std::string PortPath() const;
  int PortNumber() const { return config_.port; }

  void SetFaults(const Faults& faults);
  Faults GetFaults() const;
  Counters GetCounters() const;
  int Requests(uint8_t group, uint8_t code) const;

  // Texts received by PC_CONNECTION and PC_PRINT, in order (bytes as sent, without the zero).
  std::vector<std::string> ConnectionTexts() const;
  std::vector<std::string> PrintTexts() const;
  // Every flash write and erase received since the device was made (or the record was cleared).
  std::vector<FlashRequest> FlashRequests() const;
  // Every answered request since the records were cleared, when `recordTimings` is set.
  std::vector<ExchangeTiming> Timings() const;
  void ClearRecords();
  // Whether the last request received gets its answer without delay (also once it was written):
  // false after a request that is not answered, answered late or spoiled on purpose, and while
  // unplugged. A sped-up test clock runs at real speed while an answer is on its way, so that a
  // busy machine does not turn a slow answer into a lost one.
  bool AnswerExpected() const { return answerExpected_ && Plugged(); }

  uint32_t Parameter(uint16_t number) const;
  void SetParameter(uint16_t number, uint32_t value);
  HistoryDescription History() const;
  // The device recorded `count` more records (see DeviceModel::AddHistoryRecords), from `from` on
  // when it is not 0.
  void AddHistoryRecords(uint32_t count, uint32_t from = 0);
  // A record changed in place: 16 bytes stored at a physical index as they are.
  void SetHistoryRecord(uint32_t physical, const std::array<uint8_t, 16>& bytes);
  void SetBackground(double microSievertPerHour);

  std::vector<uint8_t> ReadExternalFlash(uint32_t address, uint32_t count) const;
  std::vector<uint8_t> ReadProgramFlash(uint32_t address, uint32_t count) const;
  // Stores bytes as they are (no flash semantics), for preparing a test.
  void LoadProgramFlash(uint32_t address, const std::vector<uint8_t>& bytes);
  // Whether the program flash holds a complete bootable image for this revision.
  bool ProgramImageComplete() const;
  // Whether the main program found its data flash laid out as a data-flash image must be when it
  // last started (geometry, directory, files, text table). When not, the main program still runs
  // and serves every command, so the data flash can be written again, but its screen shows an
  // error instead of its menus.
  bool DataFlashIntact() const;

  bool InBootLoader() const;
  // The board from now on reports this hardware revision (a board the manager has no image for).
  void SetHardwareRevision(uint8_t revision);
  uint16_t MainVersion() const;  // as ReadProgramInfo reports it now
  uint32_t DeviceSeconds() const;
  // Moves the device clock by `seconds` (negative: back), as a clock that has drifted.
  void ShiftClock(int64_t seconds);
  // The clock reads back these bytes until a valid time is written (a clock holding garbage).
  void SetClockBytes(const std::array<uint8_t, 7>& bytes);
  // Restarts as ResetCommand would (2 main program, 3 boot loader), including the absence.
  void Restart(int mode);

 private:
  enum class Step { None, Restarted, Unplugged };
  void Serve();
  Step HandleFrame(const std::vector<uint8_t>& payload, int64_t arrivalUs);
  void WriteLine(const std::vector<uint8_t>& bytes, int64_t startUs = 0);
  bool SleepUntilUs(int64_t deadlineUs);  // interruptible; false when stopping
  void Trace(const char* direction, const std::vector<uint8_t>& line, const std::string& note);
  bool Absent(int ms, bool toMain, bool restart);
  bool FaultUnplug();
  // Opens or closes the port (counting a restart with it); false when it did not open.
  bool SetPlugged(bool plugged, bool restart = false);
  void Wake();
  void DrainWake();

  DeviceConfig config_;
  mutable std::mutex mutex_;  // guards the model, faults, counters and texts
  mutable std::condition_variable plugChanged_;
  std::unique_ptr<DeviceModel> model_;
  Faults faults_;
  int64_t unplugDeadlineUs_ = 0;  // steady time; 0 = none
  Counters counters_;
  std::vector<std::string> connectionTexts_;
  std::vector<std::string> printTexts_;
  std::vector<FlashRequest> flashRequests_;
  std::vector<ExchangeTiming> timings_;
  bool plugged_ = false;
  std::atomic<bool> answerExpected_{true};

  std::mutex lifeMutex_;  // Plug/Unplug against each other
  std::thread thread_;
  std::unique_ptr<PtyPort> pty_;  // used by the serving thread while it runs
  int wake_[2] = {-1, -1};
  std::atomic<bool> stop_{false};
  std::atomic<bool> running_{false};
  std::atomic<int> pendingRestart_{0};
  int produced_ = 0;         // answers the device produced (before drop/corrupt faults)
  int64_t lineFreeUs_ = 0;   // when the paced line has sent everything written so far
  int64_t lastPieceUs_ = 0;  // when WriteLine began writing the last piece of its frame
  std::mutex traceMutex_;
  int64_t traceStartUs_ = 0;
};

}  // namespace dravion::sim
