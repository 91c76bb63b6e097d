#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "protocol/device_records.h"
#include "serial/channels.h"

namespace dravion {

class DeviceLink;
class LinkStack;

// No-answer texts of the commands.
inline constexpr const char* kNoAnswerConnectionTest = "No answer in connection test";
inline constexpr const char* kNoAnswerProgramInfo =
    "No answer in reading information about Programm";
inline constexpr const char* kNoAnswerReading = "No answer in Reading";
inline constexpr const char* kNoAnswerReset = "No answer - RESET";
inline constexpr const char* kNoAnswerBoardInformation = "No answer in reading Board Information";
inline constexpr const char* kNoAnswerTimeWrite = "No answer - TIME WRITE";
inline constexpr const char* kNoAnswerTimeRead = "No answer - TIME READ";
inline constexpr const char* kNoAnswerParameterRead = "No answer - Parameter READ";
inline constexpr const char* kNoAnswerParameterWrite = "No answer - Parameter WRITE";
inline constexpr const char* kNoAnswerReadingEflash = "No answer in reading EFLASH";
inline constexpr const char* kNoAnswerEflashWrite = "No answer in EFLASH Write";
inline constexpr const char* kNoAnswerEflashErase = "No Answer in Erasing EFLASH sector 4K";
inline constexpr const char* kNoAnswerCpuWrite = "No answer in Flash of CPU Writing";
inline constexpr const char* kNoAnswerCpuErase = "No answer in Erasing Sector of CPU Flash";

// Limits of the command set.
inline constexpr int kConnectionTestMax = 16;
inline constexpr int kMemoryPiece = 16;
inline constexpr int kFlashWriteMax = 128;
inline constexpr size_t kConnectionTextMax = 13;
inline constexpr size_t kPrintTextMax = 125;
inline constexpr uint16_t kResetToBoot = 3;
inline constexpr uint16_t kResetToMain = 2;
inline constexpr int kModelDosimeter = 740;
// Boot loaders older than this cannot report their board information; such devices are ZAV-615.
inline constexpr uint16_t kBoardInfoBootVersion = 0x0400;
inline constexpr int kOldBootModel = 615;

// A record kept while the device stays connected, with its present/absent state.
template <typename T>
struct Cached {
  T value{};
  bool present = false;
};

// The device's command set over the three protocol channels (1 main, 2 external data flash,
// 3 CPU program flash), with the device records it keeps until the device is lost.
//
// Conventions: every command takes a show flag (except WriteTime, ReadTime and WriteParameter,
// which always show): when set, a missing answer is reported with the command's no-answer box.
// Answers of the wrong length or with wrong echoes fail silently. Preconditions that do not hold
// fail the command without traffic and without its box. All commands run on the thread that owns
// the event pump and must not be nested on one channel.
class DeviceCommands {
 public:
  DeviceCommands(DeviceLink& link, ReceiveChannel* main, ReceiveChannel* dataFlash,
                 ReceiveChannel* programFlash);
  explicit DeviceCommands(LinkStack& stack);

  // Channel 1.

  // Sends up to 16 test bytes (more are cut) and expects them back, followed by at most one more
  // byte. 1 success; 0 no answer or mismatch (a shorter answer is a mismatch); -1 no channel or
  // no bytes; -2 port closed.
  int ConnectionTest(const uint8_t* bytes, int count, bool show);
  // Forgets the cached SoftInfo, then asks for it; on success `out` and the cache hold it.
  bool ReadProgramInfo(SoftInfo& out, bool show);
  // Reads `count` bytes of device memory in pieces of at most 16. Returns `count`, or -1 when
  // any piece failed or came back shorter than asked (then `dest` may be partly written).
  int ReadMemory(uint32_t address, uint8_t* dest, int count, bool show);
  // Restarts the device: kResetToBoot (3) into the boot loader, kResetToMain (2) into the main
  // program. Sent once, never again for a missing answer: a resend could restart the device a
  // second time (a boot loader restarting itself).
  bool ResetCommand(uint16_t mode, bool show);
  // Puts the device into its PC-connection screen with a title of at most 13 device characters.
  bool ShowConnectionText(const std::string& text, bool show);
  // Draws one screen-markup text of at most 125 device characters.
  bool ShowScreenText(const std::string& text, bool show);
  // Needs the device information (fetched when absent, following the show flag, so that the
  // silent GetModelCode stays silent) and boot loader 4.0 or later. Zeroes ModelCode and
  // SubRevision of `out` and of the cache first; on success `out` and the cache hold the answer.
  bool ReadBoardInformation(BoardInfo& out, bool show);
  // Only for models 740, 644, 648 and 658.
  bool WriteTime(const TimeRecord& time);
  // `show` false: no box when the answer is missing (a background read of the clock).
  bool ReadTime(TimeRecord& out, bool show = true);
  // Zeroes the 20 value bytes, then copies the 6- or 22-byte answer over the record.
  bool ReadParameter(ParameterRecord& record, bool show);
  // On success the record's value is the one the device kept. `show` false: no box when the
  // answer is missing (a write that only tidies up after another failure).
  bool WriteParameter(ParameterRecord& record, bool show = true);

  // Channel 2: external data flash.

  // One request of 1 to 255 bytes; returns the number of bytes received (at most `count`), or -1.
  int ReadExternalFlash(uint32_t address, uint8_t* dest, int count, bool show);
  bool WriteExternalFlash(uint32_t address, const uint8_t* data, int count, bool show);
  bool EraseExternalFlashSector(uint32_t address, bool show);

  // Channel 3: CPU program flash (codes 03/05 in the boot loader, 06/07 from a main program; see
  // UsesMainProgramFlashCodes).
  bool WriteCpuFlash(uint32_t address, const uint8_t* data, int count, bool show);
  bool EraseCpuFlashSector(uint32_t address, bool show);

  // Derived reads on channel 1.

  // Forgets the cached block; makes sure SoftInfo is cached; reads 48 bytes at InfoAddress.
  bool GetDeviceInformation(bool show);
  // Reads the 12-byte unique identifier into `out` and the cache; `out` is zeroed on failure.
  bool ReadUid(UidBlock& out);
  // Reads the 16-byte INF_1 block into the cache.
  bool ReadFactoryBlock();
  // The model: 615 for boot loaders before 4.0, else the board's ModelCode; 0 when a read failed.
  // Runs silently.
  int GetModelCode();
  // Forgets SoftInfo, DeviceInfoBlock, BoardInfo and INF_1 (not the identifier).
  void ForgetDeviceData();
  // The 4 KB sector of an external-flash address, at most 2047.
  static uint32_t SectorIndex(uint32_t address);

  // Values of the chip, from the cached DeviceInfoBlock (fetched with messages when absent).
  // Without a block: write piece 128, the others 0.
  uint32_t WritePieceSize();
  uint32_t ErasePageSize();
  uint32_t UidAddress();
  uint32_t ProgramAddress();
  // Whether the CPU flash commands use codes 06/07: a main program runs over a boot loader of
  // 2.0 or later other than 5.x (judged from the cached SoftInfo).
  bool UsesMainProgramFlashCodes() const;

  // Whether the port is open, so that a request can be sent at all.
  bool PortOpen() const;
  // Whether the open port's device went away (unplugged) since it was opened.
  bool LineLost() const;
  // Whether a command waits for its answer now.
  bool ExchangeWaiting() const;

  // The data-flash channel (its RepeatCount tells how many requests had to be sent again).
  ReceiveChannel* DataFlashChannel() const { return dataFlash_; }

  const Cached<SoftInfo>& CachedSoftInfo() const { return soft_; }
  const Cached<DeviceInfoBlock>& CachedDeviceInfo() const { return info_; }
  const Cached<BoardInfo>& CachedBoardInfo() const { return board_; }
  const Cached<FactoryBlock>& CachedFactoryBlock() const { return inf1_; }
  const Cached<UidBlock>& CachedUid() const { return uid_; }

 private:
  // Answer data of the last exchange on a channel (after header and command bytes).
  struct Answer {
    std::array<uint8_t, PacketBuffer::kEntrySize> bytes{};
    const uint8_t* data() const { return bytes.data(); }
    int length = 0;
  };
  // `resend` false: the request goes out once (a command that must not be carried out twice).
  bool Ask(ReceiveChannel* channel, const uint8_t* request, int length, bool show,
           const std::string& noAnswerText, Answer& answer, int echo = 0, bool resend = true);
  int ReadPiece(ReceiveChannel* channel, uint8_t group, uint32_t address, uint8_t* dest, int count,
                bool show, const char* noAnswerText);
  bool WritePiece(ReceiveChannel* channel, uint8_t group, uint8_t code, uint32_t address,
                  const uint8_t* data, int count, bool show, const char* noAnswerText);
  bool Erase(ReceiveChannel* channel, uint8_t group, uint8_t code, uint32_t address, bool show,
             const char* noAnswerText);
  bool EnsureSoftInfo(bool show);
  bool EnsureDeviceInfo(bool show);
  bool ClockAvailable();

  DeviceLink& link_;
  ReceiveChannel* main_;
  ReceiveChannel* dataFlash_;
  ReceiveChannel* programFlash_;
  Cached<SoftInfo> soft_;
  Cached<DeviceInfoBlock> info_;
  Cached<BoardInfo> board_;
  Cached<FactoryBlock> inf1_;
  Cached<UidBlock> uid_;
};

}  // namespace dravion
