#include "protocol/commands.h"

#include <gtest/gtest.h>

#include <string>

#include "protocol/scripted_device.h"

namespace dravion {
namespace {

using test::Bytes;
using test::CommandHarness;

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(Commands, RequestBytesAndChannels) {
  CommandHarness h;
  auto& c = h.commands;
  SoftInfo soft;
  ASSERT_TRUE(c.ReadProgramInfo(soft, true));
  EXPECT_EQ(soft, (SoftInfo{0x0410, 0x0C06, 0x08001000}));
  const Bytes test{'Z', 'a', 'v', 'r', 'e', 'l', 'o', 'n'};
  EXPECT_EQ(c.ConnectionTest(test.data(), 8, false), 1);
  EXPECT_TRUE(c.ResetCommand(kResetToBoot, true));
  ParameterRecord parameter;
  parameter.ParameterId = 0xC001;
  EXPECT_TRUE(c.ReadParameter(parameter, true));
  parameter.ParameterId = 0x0009;
  parameter.SetValue32(0x04030201);
  h.device.override[0x010F] = [](const Bytes& p) { return Bytes{p[0], p[1], 7, 0, 0, 0}; };
  EXPECT_TRUE(c.WriteParameter(parameter));
  EXPECT_EQ(parameter.Value32(), 7u);  // the value the device kept
  uint8_t data[3] = {0xC0, 0xDB, 0x55};
  h.device.override[0x0203] = [](const Bytes& p) { return Bytes(p.begin(), p.begin() + 5); };
  EXPECT_TRUE(c.WriteExternalFlash(0x00123456, data, 3, true));
  EXPECT_TRUE(c.EraseExternalFlashSector(0xC000, true));
  h.device.override[0x0306] = h.device.override[0x0203];
  EXPECT_TRUE(c.WriteCpuFlash(0x08004000, data, 2, true));
  EXPECT_TRUE(c.EraseCpuFlashSector(0x08004080, true));
  TimeRecord time;
  time.Bytes = {15, 30, 10, 7, 12, 26, 0};
  EXPECT_TRUE(c.WriteTime(time));

  const std::vector<Bytes> expected{
      {0x01, 0x01},
      Cat({0x01, 0x00}, test),
      {0x01, 0x05, 0x03, 0x00, 0x00, 0x00, 0x0A},
      {0x01, 0x0E, 0x01, 0xC0},
      {0x01, 0x0F, 0x09, 0x00, 0x01, 0x02, 0x03, 0x04},
      {0x02, 0x03, 0x56, 0x34, 0x12, 0x00, 0x03, 0xC0, 0xDB, 0x55},
      {0x02, 0x05, 0x00, 0xC0, 0x00, 0x00},
      {0x03, 0x06, 0x00, 0x40, 0x00, 0x08, 0x02, 0xC0, 0xDB},
      {0x03, 0x07, 0x80, 0x40, 0x00, 0x08},
      // WriteTime asks GetModelCode first: device information (3 reads), board information.
      {0x01, 0x02, 0x00, 0x10, 0x00, 0x08, 0x10},
      {0x01, 0x02, 0x10, 0x10, 0x00, 0x08, 0x10},
      {0x01, 0x02, 0x20, 0x10, 0x00, 0x08, 0x10},
      {0x01, 0x0A},
      {0x01, 0x0B, 15, 30, 10, 7, 12, 26, 0},
  };
  EXPECT_EQ(h.Requests(), expected);
  EXPECT_EQ(h.Sources(), (std::vector<int>{1, 1, 1, 1, 1, 2, 2, 3, 3, 1, 1, 1, 1, 1}));
  EXPECT_TRUE(h.dialogs.boxes.empty());
}

TEST(Commands, ReadMemorySplitsIntoPiecesAndFailsOnShortOrForeignAnswers) {
  CommandHarness h;
  auto& c = h.commands;
  Bytes expected(48);
  for (int i = 0; i < 48; ++i)
    expected[i] = static_cast<uint8_t>(0xA0 + i);
  h.device.Put(0x20000100, expected);
  Bytes got(48, 0);
  EXPECT_EQ(c.ReadMemory(0x20000100, got.data(), 48, true), 48);
  EXPECT_EQ(got, expected);
  EXPECT_EQ(h.Requests(), (std::vector<Bytes>{{0x01, 0x02, 0x00, 0x01, 0x00, 0x20, 16},
                                              {0x01, 0x02, 0x10, 0x01, 0x00, 0x20, 16},
                                              {0x01, 0x02, 0x20, 0x01, 0x00, 0x20, 16}}));
  h.Forget();
  EXPECT_EQ(c.ReadMemory(0x20000100, got.data(), 12, true), 12);
  EXPECT_EQ(h.Requests(), (std::vector<Bytes>{{0x01, 0x02, 0x00, 0x01, 0x00, 0x20, 12}}));

  // The second piece comes back with 10 of its 16 bytes: the read fails, the third is not asked.
  h.Forget();
  int pieces = 0;
  h.device.override[0x0102] = [&](const Bytes& p) {
    Bytes data(p.begin(), p.begin() + 4);
    data.push_back(0);
    data.resize(data.size() + (++pieces == 2 ? 10 : p[4]), 0x11);
    return data;
  };
  EXPECT_EQ(c.ReadMemory(0x20000100, got.data(), 48, true), -1);
  EXPECT_EQ(h.port.frames.size(), 2u);

  struct Case {
    const char* what;
    Bytes answer;
  } cases[] = {
      {"address echo only", {0x00, 0x01, 0x00, 0x20}},
      {"wrong address echo", {0x01, 0x01, 0x00, 0x20, 0x00, 1, 2, 3, 4}},
      {"more data than asked", {0x00, 0x01, 0x00, 0x20, 0x00, 1, 2, 3, 4, 5}},
  };
  for (const Case& k : cases) {
    h.device.override[0x0102] = [&](const Bytes&) { return k.answer; };
    EXPECT_EQ(c.ReadMemory(0x20000100, got.data(), 4, true), -1) << k.what;
  }
  EXPECT_TRUE(h.dialogs.boxes.empty());  // wrong answers fail silently

  // The external-flash read returns what came, even nothing.
  h.device.override[0x0202] = [](const Bytes& p) { return Bytes(p.begin(), p.begin() + 5); };
  EXPECT_EQ(c.ReadExternalFlash(0x100000, got.data(), 32, true), 0);
  h.device.override[0x0202] = [](const Bytes& p) {
    return Cat(Bytes(p.begin(), p.begin() + 5), {9, 8});
  };
  EXPECT_EQ(c.ReadExternalFlash(0x100000, got.data(), 32, true), 2);
  EXPECT_EQ(got[1], 8);
  EXPECT_EQ(h.Requests().back(), (Bytes{0x02, 0x02, 0x00, 0x00, 0x10, 0x00, 32}));
  EXPECT_EQ(h.Sources().back(), 2);

  // Silence: the show flag picks the box.
  h.device.override[0x0102] = [](const Bytes&) { return std::nullopt; };
  EXPECT_EQ(c.ReadMemory(0x20000100, got.data(), 4, false), -1);
  EXPECT_TRUE(h.dialogs.boxes.empty());
  EXPECT_EQ(c.ReadMemory(0x20000100, got.data(), 4, true), -1);
  ASSERT_EQ(h.dialogs.boxes.size(), 1u);
  EXPECT_EQ(h.dialogs.boxes[0].text, "No answer in Reading");
}

TEST(Commands, WritesCheckTheirEchoesAndRefuseOversizedData) {
  CommandHarness h;
  auto& c = h.commands;
  Bytes data(129, 0x5A);
  EXPECT_FALSE(c.WriteExternalFlash(0, data.data(), 129, true));
  EXPECT_FALSE(c.WriteCpuFlash(0, data.data(), 129, true));
  EXPECT_FALSE(c.WriteExternalFlash(0, nullptr, 4, true));
  EXPECT_TRUE(h.port.frames.empty());

  // The longest write: 128 data bytes, 135 request bytes.
  h.device.override[0x0203] = [](const Bytes& p) { return Bytes(p.begin(), p.begin() + 5); };
  EXPECT_TRUE(c.WriteExternalFlash(0x1000, data.data(), 128, true));
  EXPECT_EQ(h.Requests().back().size(), 135u);

  const Bytes wrong[] = {
      {0x00, 0x10, 0x00, 0x00, 0x7F},        // count echo
      {0x00, 0x11, 0x00, 0x00, 0x80},        // address echo
      {0x00, 0x10, 0x00, 0x00, 0x80, 0x00},  // one byte too many
      {0x00, 0x10, 0x00, 0x00},              // too short
  };
  for (const Bytes& answer : wrong) {
    h.device.override[0x0203] = [&](const Bytes&) { return answer; };
    EXPECT_FALSE(c.WriteExternalFlash(0x1000, data.data(), 128, true));
  }
  EXPECT_TRUE(h.dialogs.boxes.empty());
  h.device.override[0x0203] = [](const Bytes&) { return std::nullopt; };
  EXPECT_FALSE(c.WriteExternalFlash(0x1000, data.data(), 8, true));
  ASSERT_EQ(h.dialogs.boxes.size(), 1u);
  EXPECT_EQ(h.dialogs.boxes[0].text, "No answer in EFLASH Write");
}

TEST(Commands, ConnectionTest) {
  CommandHarness h;
  auto& c = h.commands;
  Bytes twenty(20);
  for (int i = 0; i < 20; ++i)
    twenty[i] = static_cast<uint8_t>(i + 1);
  EXPECT_EQ(c.ConnectionTest(twenty.data(), 20, true), 1);
  EXPECT_EQ(h.Requests()[0], Cat({0x01, 0x00}, Bytes(twenty.begin(), twenty.begin() + 16)));

  const Bytes sent{'Z', 'a', 'v', 'r', 'e', 'l', 'o', 'n'};
  struct Case {
    const char* what;
    Bytes answer;
    int result;
  } cases[] = {
      {"the bytes and one more", Cat(sent, {0x00}), 1},
      {"two more", Cat(sent, {0x00, 0x00}), 0},
      {"fewer than sent", {'Z', 'a', 'v'}, 0},
      {"a single byte", {'Z'}, 0},
      {"different bytes", {'Z', 'a', 'v', 'r', 'e', 'l', 'o', 'N'}, 0},
  };
  for (const Case& k : cases) {
    h.device.override[0x0100] = [&](const Bytes&) { return k.answer; };
    EXPECT_EQ(c.ConnectionTest(sent.data(), 8, true), k.result) << k.what;
  }
  EXPECT_TRUE(h.dialogs.boxes.empty());

  EXPECT_EQ(c.ConnectionTest(nullptr, 8, true), -1);
  EXPECT_EQ(c.ConnectionTest(sent.data(), 0, true), -1);
  h.port.open = false;
  EXPECT_EQ(c.ConnectionTest(sent.data(), 8, true), -2);
  h.port.open = true;
  DeviceCommands noChannel{h.link, nullptr, &h.two, &h.three};
  EXPECT_EQ(noChannel.ConnectionTest(sent.data(), 8, true), -1);

  h.device.override[0x0100] = [](const Bytes&) { return std::nullopt; };
  EXPECT_EQ(c.ConnectionTest(sent.data(), 8, false), 0);
  EXPECT_TRUE(h.dialogs.boxes.empty());
  EXPECT_EQ(c.ConnectionTest(sent.data(), 8, true), 0);
  ASSERT_EQ(h.dialogs.boxes.size(), 1u);
  EXPECT_EQ(h.dialogs.boxes[0].text, "No answer in connection test");
}

TEST(Commands, ScreenTextsAreCutInDeviceBytes) {
  CommandHarness h;
  auto& c = h.commands;
  const std::string longText(200, 'x');
  EXPECT_TRUE(c.ShowScreenText(longText, true));
  // First use fetches SoftInfo and the device information (4 requests).
  Bytes print = h.Requests().back();
  ASSERT_EQ(print.size(), 128u);
  EXPECT_EQ(print[0], 0x01);
  EXPECT_EQ(print[1], 0x07);
  EXPECT_EQ(print[126], 'x');
  EXPECT_EQ(print[127], 0x00);

  // Cyrillic letters are one device byte each: 13 of them fill PC_CONNECTION's title.
  h.Forget();
  EXPECT_TRUE(c.ShowConnectionText("Подключение к ПК", true));  // 16 letters
  ASSERT_EQ(h.Requests().size(), 1u);
  const Bytes connection = h.Requests()[0];
  ASSERT_EQ(connection.size(), 16u);
  EXPECT_EQ(connection[2], 0xCF);   // П
  EXPECT_EQ(connection[14], 0xEA);  // к, the 13th letter
  EXPECT_EQ(connection[15], 0x00);
  EXPECT_TRUE(c.ShowConnectionText("COM 7", true));
  EXPECT_EQ(h.Requests()[1],
            (Bytes{0x01, 0x06, 'C', 'O', 'M', ' ', '7', 0, 0, 0, 0, 0, 0, 0, 0, 0}));

  h.device.override[0x0106] = [](const Bytes&) { return std::nullopt; };
  h.device.override[0x0107] = [](const Bytes&) { return std::nullopt; };
  EXPECT_FALSE(c.ShowConnectionText("Подключение к ПК", true));
  EXPECT_FALSE(c.ShowScreenText("<b>Дравион", true));
  ASSERT_EQ(h.dialogs.boxes.size(), 2u);
  EXPECT_EQ(h.dialogs.boxes[0].text, "No answer form Device : PC_CONNECTION [Подключение к]");
  EXPECT_EQ(h.dialogs.boxes[1].text, "No answer from Device : PC_PRINT [<b>Дравион]");
}

TEST(Commands, ScreenTextsNeedARunningProgram) {
  // In the boot loader PC_CONNECTION refuses; PC_PRINT only on boot loaders before 2.0.
  for (uint16_t boot : {0x0150, 0x0200}) {
    CommandHarness h;
    h.device.main = 0;
    h.device.boot = boot;
    EXPECT_FALSE(h.commands.ShowConnectionText("COM 7", true));
    EXPECT_EQ(h.commands.ShowScreenText("x", true), boot >= 0x0200);
    for (const Bytes& r : h.Requests())
      EXPECT_NE(r[1], 0x06);
    EXPECT_TRUE(h.dialogs.boxes.empty());
  }
}

TEST(Commands, ParameterAndTimeAnswers) {
  CommandHarness h;
  auto& c = h.commands;
  ParameterRecord record;
  record.ParameterId = 9;
  record.Value.fill(0xEE);
  h.device.override[0x010E] = [](const Bytes& p) { return Bytes{p[0], p[1], 1, 2, 3, 4}; };
  ASSERT_TRUE(c.ReadParameter(record, true));
  EXPECT_EQ(record.ParameterId, 9);
  EXPECT_EQ(record.Value32(), 0x04030201u);
  for (size_t i = 4; i < record.Value.size(); ++i)
    EXPECT_EQ(record.Value[i], 0) << i;

  h.device.override[0x010E] = [](const Bytes& p) {
    Bytes answer{p[0], p[1]};
    for (int i = 0; i < 20; ++i)
      answer.push_back(static_cast<uint8_t>(100 + i));
    return answer;
  };
  ASSERT_TRUE(c.ReadParameter(record, true));
  EXPECT_EQ(record.Value[19], 119);
  for (size_t size : {5u, 7u, 23u}) {
    h.device.override[0x010E] = [size](const Bytes& p) {
      Bytes answer(size, 1);
      std::copy(p.begin(), p.begin() + 2, answer.begin());
      return answer;
    };
    EXPECT_FALSE(c.ReadParameter(record, true)) << size;
  }
  // An answer about another parameter (a late one to an earlier read) is not this one's.
  h.device.override[0x010E] = [](const Bytes& p) { return Bytes{p[0], 0x01, 1, 2, 3, 4}; };
  EXPECT_FALSE(c.ReadParameter(record, true));
  EXPECT_EQ(record.ParameterId, 9);
  EXPECT_TRUE(h.dialogs.boxes.empty());

  TimeRecord time;
  h.device.override[0x010C] = [](const Bytes&) { return Bytes{9, 7, 14, 5, 3, 22, 1, 0xAA}; };
  ASSERT_TRUE(c.ReadTime(time));
  EXPECT_EQ(time.Bytes, (std::array<uint8_t, 7>{9, 7, 14, 5, 3, 22, 1}));
  h.device.override[0x010C] = [](const Bytes&) { return Bytes(6, 1); };
  EXPECT_FALSE(c.ReadTime(time));
  h.device.override[0x010C] = [](const Bytes&) { return std::nullopt; };
  h.device.override[0x010F] = [](const Bytes&) { return std::nullopt; };
  EXPECT_FALSE(c.ReadTime(time));
  EXPECT_FALSE(c.WriteParameter(record));
  ASSERT_EQ(h.dialogs.boxes.size(), 2u);  // these two always show
  EXPECT_EQ(h.dialogs.boxes[0].text, "No answer - TIME READ");
  EXPECT_EQ(h.dialogs.boxes[1].text, "No answer - Parameter WRITE");
}

TEST(Commands, OldBootLoaderIsModel615AndHasNoClock) {
  CommandHarness h;
  h.device.boot = 0x0310;
  EXPECT_EQ(h.commands.GetModelCode(), 615);
  TimeRecord time;
  EXPECT_FALSE(h.commands.WriteTime(time));
  EXPECT_FALSE(h.commands.ReadTime(time));
  EXPECT_EQ(h.Requests(), (std::vector<Bytes>{{0x01, 0x01}}));  // SoftInfo only, once
  BoardInfo board{740, 41, 3};
  EXPECT_FALSE(h.commands.ReadBoardInformation(board, true));
  EXPECT_EQ(board, (BoardInfo{0, 41, 0}));
  EXPECT_TRUE(h.dialogs.boxes.empty());

  for (int model : {740, 644, 648, 658, 660}) {
    CommandHarness m;
    m.device.board.ModelCode = static_cast<uint16_t>(model);
    EXPECT_EQ(m.commands.ReadTime(time), model != 660) << model;
  }
  CommandHarness silent;
  silent.device.override[0x0101] = [](const Bytes&) { return std::nullopt; };
  EXPECT_EQ(silent.commands.GetModelCode(), 0);
  EXPECT_TRUE(silent.dialogs.boxes.empty());
}

TEST(Commands, CpuFlashCodesFollowTheRunningProgram) {
  struct Case {
    uint16_t boot, main;
    bool cached;
    uint8_t write, erase;
  } cases[] = {
      {0x0410, 0x0000, true, 0x03, 0x05},   // boot loader runs
      {0x0200, 0x0C06, true, 0x06, 0x07},   // main program over 2.0
      {0x0150, 0x0C06, true, 0x03, 0x05},   // boot loader before 2.0
      {0x0502, 0x0C06, true, 0x03, 0x05},   // 5.x boot loader
      {0x0410, 0x0C06, false, 0x03, 0x05},  // nothing known
  };
  for (const Case& k : cases) {
    CommandHarness h;
    h.device.boot = k.boot;
    h.device.main = k.main;
    SoftInfo soft;
    if (k.cached) {
      ASSERT_TRUE(h.commands.ReadProgramInfo(soft, true));
    }
    h.Forget();
    const uint8_t data[4] = {1, 2, 3, 4};
    h.device.override[0x0300 | k.write] = [](const Bytes& p) {
      return Bytes(p.begin(), p.begin() + 5);
    };
    EXPECT_TRUE(h.commands.WriteCpuFlash(0x08004000, data, 4, true));
    EXPECT_TRUE(h.commands.EraseCpuFlashSector(0x08004000, true));
    ASSERT_EQ(h.Requests().size(), 2u);
    EXPECT_EQ(h.Requests()[0][1], k.write) << std::hex << k.boot << " " << k.main;
    EXPECT_EQ(h.Requests()[1][1], k.erase);
  }
}

TEST(Commands, CachesAreReadOnceAndForgotten) {
  CommandHarness h;
  auto& c = h.commands;
  EXPECT_EQ(c.GetModelCode(), 740);
  EXPECT_EQ(c.GetModelCode(), 740);
  EXPECT_TRUE(c.ReadFactoryBlock());
  UidBlock uid;
  EXPECT_TRUE(c.ReadUid(uid));
  // SoftInfo, 3 pieces of device information, board, INF_1, UID: nothing asked twice.
  EXPECT_EQ(h.port.frames.size(), 7u);
  EXPECT_EQ(h.Requests()[5], (Bytes{0x01, 0x02, 0x00, 0x20, 0x00, 0x08, 16}));
  EXPECT_EQ(h.Requests()[6], (Bytes{0x01, 0x02, 0x50, 0x00, 0xF8, 0x1F, 12}));
  EXPECT_EQ(uid[7], 0xDB);
  EXPECT_EQ(c.CachedFactoryBlock().value[1], 6);

  c.ForgetDeviceData();
  EXPECT_FALSE(c.CachedSoftInfo().present);
  EXPECT_FALSE(c.CachedDeviceInfo().present);
  EXPECT_FALSE(c.CachedBoardInfo().present);
  EXPECT_EQ(c.CachedBoardInfo().value.HardwareRevision, 41);
  EXPECT_FALSE(c.CachedFactoryBlock().present);
  EXPECT_TRUE(c.CachedUid().present);

  // ReadProgramInfo forgets first: a failed read leaves nothing cached.
  SoftInfo soft;
  ASSERT_TRUE(c.ReadProgramInfo(soft, false));
  h.device.override[0x0101] = [](const Bytes&) { return Bytes(7, 0); };
  EXPECT_FALSE(c.ReadProgramInfo(soft, false));
  EXPECT_FALSE(c.CachedSoftInfo().present);

  // A failed ReadUid leaves a zeroed identifier and forgets the cached one.
  h.device.override.clear();
  h.device.override[0x0102] = [](const Bytes&) { return std::nullopt; };
  uid.fill(0x77);
  EXPECT_FALSE(c.ReadUid(uid));
  EXPECT_EQ(uid, UidBlock{});
  EXPECT_FALSE(c.CachedUid().present);
}

TEST(Commands, ChipTableAndItsExceptions) {
  EXPECT_EQ(ChipTraitsFor(1).UidAddress, 0x1FFFF7E8u);
  EXPECT_EQ(ChipTraitsFor(3).ErasePage, 2048u);
  EXPECT_EQ(ChipTraitsFor(8).WritePiece, 128u);
  EXPECT_EQ(ChipTraitsFor(9).ErasePage, 128u);
  EXPECT_EQ(ChipTraitsFor(9).WritePiece, 32u);
  EXPECT_EQ(ChipTraitsFor(258).UidAddress, 0x4926u);
  EXPECT_EQ(ChipTraitsFor(10).ErasePage, 0u);
  EXPECT_EQ(ChipTraitsFor(10).WritePiece, 32u);

  CommandHarness h;
  EXPECT_EQ(h.commands.WritePieceSize(), 32u);
  EXPECT_EQ(h.commands.ErasePageSize(), 128u);
  EXPECT_EQ(h.commands.UidAddress(), 0x1FF80050u);
  EXPECT_EQ(h.commands.ProgramAddress(), 0x08004000u);

  // Boot loaders up to 1.6 keep the identifier at the old address; chip 1's INF_1 address is
  // corrected.
  CommandHarness old;
  old.device.boot = 0x0106;
  Bytes info(48, 0);
  info[0] = 1;
  StoreU32(&info[10], 0x08002780);
  old.device.Put(old.device.infoAddress, info);
  EXPECT_EQ(old.commands.UidAddress(), 0x1FFFF7E8u);
  EXPECT_EQ(old.commands.CachedDeviceInfo().value.FactoryBlockAddress, 0x080027F0u);
  EXPECT_EQ(old.commands.ProgramAddress(), 0u);
  old.device.boot = 0x0107;
  ASSERT_TRUE(old.commands.GetDeviceInformation(true));
  EXPECT_EQ(old.commands.UidAddress(), 0x1FFFF7E8u);  // from chip 1 itself

  // Without a block: write piece 128, the rest 0, and the box of the failed read.
  CommandHarness none;
  none.device.infoAddress = 0;
  EXPECT_EQ(none.commands.WritePieceSize(), 128u);
  EXPECT_EQ(none.commands.ErasePageSize(), 0u);
  EXPECT_EQ(none.commands.UidAddress(), 0u);
  UidBlock uid;
  EXPECT_FALSE(none.commands.ReadUid(uid));
  EXPECT_FALSE(none.commands.ReadFactoryBlock());

  EXPECT_EQ(DeviceCommands::SectorIndex(0), 0u);
  EXPECT_EQ(DeviceCommands::SectorIndex(0x7FFFFF), 2047u);
  EXPECT_EQ(DeviceCommands::SectorIndex(0x12345), 0x12u);
  EXPECT_EQ(DeviceCommands::SectorIndex(0xFFFFFFFF), 2047u);
}

}  // namespace
}  // namespace dravion
