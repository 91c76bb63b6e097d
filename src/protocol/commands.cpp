#include "protocol/commands.h"

#include <algorithm>
#include <array>

#include "protocol/device_link.h"
#include "protocol/link_stack.h"
#include "serial/byte_sink.h"
#include "serial/channels.h"
#include "services/text_encoding.h"

namespace dravion {
namespace {

constexpr uint8_t kGroupMain = 0x01;
constexpr uint8_t kGroupDataFlash = 0x02;
constexpr uint8_t kGroupProgramFlash = 0x03;
constexpr uint8_t kCodeRead = 0x02;
constexpr uint8_t kCodeWrite = 0x03;
constexpr uint8_t kCodeErase = 0x05;
constexpr uint8_t kCodeWriteFromMain = 0x06;
constexpr uint8_t kCodeEraseFromMain = 0x07;

// Requests of the read, write and erase families carry the address after the command bytes.
constexpr int kAddressedHeader = 6;
// Answers to reads repeat the address; answers to writes, the address and the byte count.
constexpr int kAddressEcho = 4;
// Answers to parameter reads and writes start with the parameter id.
constexpr int kParameterEcho = 2;
// The write family builds its request in an area of this size.
constexpr int kWriteRequestArea = 235;

template <typename T>
void Forget(Cached<T>& cache) {
  cache = Cached<T>{};
}

// The text as device bytes (Windows-1251), cut to `limit` bytes.
std::string DeviceText(const std::string& text, size_t limit) {
  std::string bytes = Utf8ToCp1251(text);
  if (bytes.size() > limit) bytes.resize(limit);
  return bytes;
}

}  // namespace

DeviceCommands::DeviceCommands(DeviceLink& link, ReceiveChannel* main, ReceiveChannel* dataFlash,
                               ReceiveChannel* programFlash)
    : link_(link), main_(main), dataFlash_(dataFlash), programFlash_(programFlash) {}

DeviceCommands::DeviceCommands(LinkStack& stack)
    : DeviceCommands(stack.link, &stack.main, &stack.dataFlash, &stack.programFlash) {}

bool DeviceCommands::Ask(ReceiveChannel* channel, const uint8_t* request, int length, bool show,
                         const std::string& noAnswerText, Answer& answer, int echo, bool resend) {
  answer.length = 0;
  if (channel == nullptr) return false;
  if (!link_.Transact(channel, request, length, resend, show ? noAnswerText : std::string(),
                      echo)) {
    return false;
  }
  // The answer is the channel's current frame; copy its data under the lock that the reader
  // thread takes when it files frames.
  RegistryLock lock(channel->Registry(), true);
  const int dataLength = channel->CurrentLength - 6;
  if (channel->Current == nullptr || dataLength < 0 ||
      dataLength > static_cast<int>(answer.bytes.size())) {
    return false;
  }
  std::copy(channel->Current + 6, channel->Current + 6 + dataLength, answer.bytes.begin());
  answer.length = dataLength;
  return true;
}

bool DeviceCommands::PortOpen() const {
  return link_.Port().IsOpen();
}

bool DeviceCommands::LineLost() const {
  return link_.Port().LineLost();
}

bool DeviceCommands::ExchangeWaiting() const {
  return link_.ExchangeWaiting();
}

int DeviceCommands::ConnectionTest(const uint8_t* bytes, int count, bool show) {
  if (main_ == nullptr || bytes == nullptr || count <= 0) return -1;
  if (!link_.Port().IsOpen()) return -2;
  const int n = std::min(count, kConnectionTestMax);
  std::array<uint8_t, 2 + kConnectionTestMax> request{kGroupMain, 0x00};
  std::copy(bytes, bytes + n, request.begin() + 2);
  Answer answer;
  if (!Ask(main_, request.data(), 2 + n, show, kNoAnswerConnectionTest, answer)) return 0;
  // All n bytes must come back, followed by at most one more; nothing past the answer is read.
  if (answer.length < 2 || answer.length < n || answer.length > n + 1) return 0;
  return std::equal(bytes, bytes + n, answer.data()) ? 1 : 0;
}

bool DeviceCommands::ReadProgramInfo(SoftInfo& out, bool show) {
  Forget(soft_);
  const uint8_t request[] = {kGroupMain, 0x01};
  Answer answer;
  if (!Ask(main_, request, 2, show, kNoAnswerProgramInfo, answer)) return false;
  if (answer.length != SoftInfo::kSize) return false;
  soft_.value = SoftInfo::FromBytes(answer.data());
  soft_.present = true;
  out = soft_.value;
  return true;
}

int DeviceCommands::ReadPiece(ReceiveChannel* channel, uint8_t group, uint32_t address,
                              uint8_t* dest, int count, bool show, const char* noAnswerText) {
  uint8_t request[kAddressedHeader + 1] = {group, kCodeRead};
  StoreU32(request + 2, address);
  request[6] = static_cast<uint8_t>(count);
  Answer answer;
  // The address echo (matched by the exchange), one byte not examined, then at most `count` data
  // bytes.
  if (!Ask(channel, request, sizeof request, show, noAnswerText, answer, kAddressEcho)) return -1;
  if (answer.length < 5) return -1;
  const int received = answer.length - 5;
  if (received > count) return -1;
  std::copy(answer.data() + 5, answer.data() + 5 + received, dest);
  return received;
}

int DeviceCommands::ReadMemory(uint32_t address, uint8_t* dest, int count, bool show) {
  if (main_ == nullptr || dest == nullptr || count < 0) return -1;
  for (int done = 0; done < count;) {
    const int piece = std::min(count - done, kMemoryPiece);
    // A short piece would leave part of the caller's buffer unfilled: it fails the read.
    if (ReadPiece(main_, kGroupMain, address + static_cast<uint32_t>(done), dest + done, piece,
                  show, kNoAnswerReading) != piece) {
      return -1;
    }
    done += piece;
  }
  return count;
}

bool DeviceCommands::ResetCommand(uint16_t mode, bool show) {
  uint8_t request[7] = {kGroupMain, 0x05, 0, 0, 0x00, 0x00, 0x0A};
  StoreU16(request + 2, mode);
  Answer answer;
  return Ask(main_, request, sizeof request, show, kNoAnswerReset, answer, 0, false);
}

bool DeviceCommands::ShowConnectionText(const std::string& text, bool show) {
  if (main_ == nullptr) return false;
  if (!EnsureDeviceInfo(true) || soft_.value.MainVersion == 0) return false;
  const std::string bytes = DeviceText(text, kConnectionTextMax);
  std::array<uint8_t, 16> request{kGroupMain, 0x06};  // text, its zero, zero padding
  std::copy(bytes.begin(), bytes.end(), request.begin() + 2);
  Answer answer;
  return Ask(main_, request.data(), static_cast<int>(request.size()), show,
             "No answer form Device : PC_CONNECTION [" + Cp1251ToUtf8(bytes) + "]", answer);
}

bool DeviceCommands::ShowScreenText(const std::string& text, bool show) {
  if (main_ == nullptr) return false;
  if (!EnsureDeviceInfo(true)) return false;
  if (soft_.value.MainVersion == 0 && soft_.value.BootVersion < 0x0200) return false;
  const std::string bytes = DeviceText(text, kPrintTextMax);
  std::array<uint8_t, 2 + kPrintTextMax + 1> request{kGroupMain, 0x07};
  std::copy(bytes.begin(), bytes.end(), request.begin() + 2);
  Answer answer;
  return Ask(main_, request.data(), static_cast<int>(2 + bytes.size() + 1), show,
             "No answer from Device : PC_PRINT [" + Cp1251ToUtf8(bytes) + "]", answer);
}

bool DeviceCommands::ReadBoardInformation(BoardInfo& out, bool show) {
  out.Clear();
  board_.value.Clear();
  board_.present = false;
  if (main_ == nullptr) return false;
  if (!EnsureDeviceInfo(show) || soft_.value.BootVersion < kBoardInfoBootVersion) return false;
  const uint8_t request[] = {kGroupMain, 0x0A};
  Answer answer;
  if (!Ask(main_, request, 2, show, kNoAnswerBoardInformation, answer)) return false;
  if (answer.length != BoardInfo::kSize) return false;
  board_.value = BoardInfo::FromBytes(answer.data());
  board_.present = true;
  out = board_.value;
  return true;
}

bool DeviceCommands::ClockAvailable() {
  const int model = GetModelCode();
  return model == 740 || model == 644 || model == 648 || model == 658;
}

bool DeviceCommands::WriteTime(const TimeRecord& time) {
  if (main_ == nullptr || !ClockAvailable()) return false;
  uint8_t request[2 + TimeRecord::kSize] = {kGroupMain, 0x0B};
  std::copy(time.Bytes.begin(), time.Bytes.end(), request + 2);
  Answer answer;
  return Ask(main_, request, sizeof request, true, kNoAnswerTimeWrite, answer);
}

bool DeviceCommands::ReadTime(TimeRecord& out, bool show) {
  if (main_ == nullptr || !ClockAvailable()) return false;
  const uint8_t request[] = {kGroupMain, 0x0C};
  Answer answer;
  if (!Ask(main_, request, 2, show, kNoAnswerTimeRead, answer)) return false;
  if (answer.length != TimeRecord::kSize && answer.length != TimeRecord::kSize + 1) return false;
  std::copy(answer.data(), answer.data() + TimeRecord::kSize, out.Bytes.begin());
  return true;
}

bool DeviceCommands::ReadParameter(ParameterRecord& record, bool show) {
  record.Value.fill(0);
  uint8_t request[4] = {kGroupMain, 0x0E};
  StoreU16(request + 2, record.ParameterId);
  Answer answer;
  if (!Ask(main_, request, sizeof request, show, kNoAnswerParameterRead, answer, kParameterEcho)) {
    return false;
  }
  if (answer.length != 6 && answer.length != ParameterRecord::kSize) return false;
  record.ParameterId = LoadU16(answer.data());
  std::copy(answer.data() + 2, answer.data() + answer.length, record.Value.begin());
  return true;
}

bool DeviceCommands::WriteParameter(ParameterRecord& record, bool show) {
  uint8_t request[8] = {kGroupMain, 0x0F};
  StoreU16(request + 2, record.ParameterId);
  std::copy(record.Value.begin(), record.Value.begin() + 4, request + 4);
  Answer answer;
  if (!Ask(main_, request, sizeof request, show, kNoAnswerParameterWrite, answer, kParameterEcho)) {
    return false;
  }
  if (answer.length != 6 && answer.length != ParameterRecord::kSize) return false;
  std::copy(answer.data() + 2, answer.data() + 6, record.Value.begin());
  return true;
}

int DeviceCommands::ReadExternalFlash(uint32_t address, uint8_t* dest, int count, bool show) {
  if (dataFlash_ == nullptr || dest == nullptr || count < 1 || count > 255) return -1;
  return ReadPiece(dataFlash_, kGroupDataFlash, address, dest, count, show, kNoAnswerReadingEflash);
}

bool DeviceCommands::WritePiece(ReceiveChannel* channel, uint8_t group, uint8_t code,
                                uint32_t address, const uint8_t* data, int count, bool show,
                                const char* noAnswerText) {
  if (channel == nullptr || data == nullptr || count < 1 || count > kFlashWriteMax) return false;
  std::array<uint8_t, kWriteRequestArea> request{group, code};
  StoreU32(request.data() + 2, address);
  request[6] = static_cast<uint8_t>(count);
  std::copy(data, data + count, request.begin() + kAddressedHeader + 1);
  Answer answer;
  // The answer is the echo of address and count alone (matched by the exchange).
  return Ask(channel, request.data(), kAddressedHeader + 1 + count, show, noAnswerText, answer,
             kAddressEcho + 1) &&
         answer.length == 5;
}

bool DeviceCommands::Erase(ReceiveChannel* channel, uint8_t group, uint8_t code, uint32_t address,
                           bool show, const char* noAnswerText) {
  uint8_t request[kAddressedHeader] = {group, code};
  StoreU32(request + 2, address);
  Answer answer;
  return Ask(channel, request, sizeof request, show, noAnswerText, answer);
}

bool DeviceCommands::WriteExternalFlash(uint32_t address, const uint8_t* data, int count,
                                        bool show) {
  return WritePiece(dataFlash_, kGroupDataFlash, kCodeWrite, address, data, count, show,
                    kNoAnswerEflashWrite);
}

bool DeviceCommands::EraseExternalFlashSector(uint32_t address, bool show) {
  return Erase(dataFlash_, kGroupDataFlash, kCodeErase, address, show, kNoAnswerEflashErase);
}

bool DeviceCommands::UsesMainProgramFlashCodes() const {
  const SoftInfo& soft = soft_.value;
  return soft_.present && soft.MainVersion != 0 && soft.BootVersion >= 0x0200 &&
         (soft.BootVersion >> 8) != 5;
}

bool DeviceCommands::WriteCpuFlash(uint32_t address, const uint8_t* data, int count, bool show) {
  const uint8_t code = UsesMainProgramFlashCodes() ? kCodeWriteFromMain : kCodeWrite;
  return WritePiece(programFlash_, kGroupProgramFlash, code, address, data, count, show,
                    kNoAnswerCpuWrite);
}

bool DeviceCommands::EraseCpuFlashSector(uint32_t address, bool show) {
  const uint8_t code = UsesMainProgramFlashCodes() ? kCodeEraseFromMain : kCodeErase;
  return Erase(programFlash_, kGroupProgramFlash, code, address, show, kNoAnswerCpuErase);
}

bool DeviceCommands::EnsureSoftInfo(bool show) {
  if (soft_.present) return true;
  SoftInfo soft;
  return ReadProgramInfo(soft, show);
}

bool DeviceCommands::EnsureDeviceInfo(bool show) {
  if (info_.present && soft_.present) return true;
  return GetDeviceInformation(show);
}

bool DeviceCommands::GetDeviceInformation(bool show) {
  Forget(info_);
  if (main_ == nullptr || !EnsureSoftInfo(show) || soft_.value.InfoAddress == 0) return false;
  std::array<uint8_t, DeviceInfoBlock::kSize> bytes{};
  if (ReadMemory(soft_.value.InfoAddress, bytes.data(), DeviceInfoBlock::kSize, show) !=
      DeviceInfoBlock::kSize) {
    return false;
  }
  info_.value = DeviceInfoBlock::FromBytes(bytes.data());
  info_.present = true;
  return true;
}

bool DeviceCommands::ReadUid(UidBlock& out) {
  Forget(uid_);
  out.fill(0);
  if (!EnsureDeviceInfo(true)) return false;
  const uint32_t address = UidAddress();
  if (address == 0) return false;
  UidBlock uid{};
  if (ReadMemory(address, uid.data(), static_cast<int>(uid.size()), true) !=
      static_cast<int>(uid.size())) {
    return false;
  }
  uid_.value = uid;
  uid_.present = true;
  out = uid;
  return true;
}

bool DeviceCommands::ReadFactoryBlock() {
  Forget(inf1_);
  if (!EnsureDeviceInfo(true) || info_.value.FactoryBlockAddress == 0) return false;
  FactoryBlock inf1{};
  if (ReadMemory(info_.value.FactoryBlockAddress, inf1.data(), static_cast<int>(inf1.size()),
                 true) != static_cast<int>(inf1.size())) {
    return false;
  }
  inf1_.value = inf1;
  inf1_.present = true;
  return true;
}

int DeviceCommands::GetModelCode() {
  if (!EnsureSoftInfo(false)) return 0;
  if (soft_.value.BootVersion < kBoardInfoBootVersion) return kOldBootModel;
  if (!board_.present) {
    BoardInfo board;
    if (!ReadBoardInformation(board, false)) return 0;
  }
  return board_.value.ModelCode;
}

void DeviceCommands::ForgetDeviceData() {
  Forget(soft_);
  Forget(info_);
  board_.value.Clear();
  board_.present = false;
  Forget(inf1_);
}

uint32_t DeviceCommands::SectorIndex(uint32_t address) {
  return std::min<uint32_t>(address / 4096, 2047);
}

uint32_t DeviceCommands::WritePieceSize() {
  if (!info_.present && !GetDeviceInformation(true)) return kDefaultWritePiece;
  return ChipTraitsFor(info_.value.ChipCode).WritePiece;
}

uint32_t DeviceCommands::ErasePageSize() {
  if (!info_.present && !GetDeviceInformation(true)) return 0;
  return ChipTraitsFor(info_.value.ChipCode).ErasePage;
}

uint32_t DeviceCommands::UidAddress() {
  if (!info_.present && !GetDeviceInformation(true)) return 0;
  if (soft_.present && soft_.value.BootVersion <= kLegacyUidBootVersion) return kLegacyUidAddress;
  return ChipTraitsFor(info_.value.ChipCode).UidAddress;
}

uint32_t DeviceCommands::ProgramAddress() {
  if (!info_.present && !GetDeviceInformation(true)) return 0;
  return info_.value.ChipCode == 0 ? 0 : info_.value.ProgramAddress;
}

}  // namespace dravion
