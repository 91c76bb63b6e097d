#include "firmware/firmware_release.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace dravion {
namespace {

uint32_t Word32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t Word16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint16_t Word16Be(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

TEST(FirmwareRelease, ProgramImageByHardwareRevision) {
  EXPECT_TRUE(ProgramImage(40).empty());
  EXPECT_TRUE(ProgramImage(43).empty());
  EXPECT_TRUE(ProgramImage(0).empty());
  EXPECT_TRUE(ProgramImage(255).empty());

  const auto a = ProgramImage(41);
  const auto b = ProgramImage(42);
  ASSERT_EQ(a.size(), 57344u);
  ASSERT_EQ(b.size(), 57344u);
  EXPECT_EQ(Word32(a.data()), 0x20002000u);
  EXPECT_EQ(Word32(a.data() + 4), 0x0800B569u);
  EXPECT_EQ(Word32(b.data()), 0x20002000u);
  EXPECT_EQ(Word32(b.data() + 4), 0x0800B521u);
  // Read in place: the same bytes every time, and the two images differ.
  EXPECT_EQ(ProgramImage(41).data(), a.data());
  EXPECT_NE(std::memcmp(a.data(), b.data(), a.size()), 0);
}

TEST(FirmwareRelease, VersionAndUpgradeBound) {
  EXPECT_EQ(ReleaseVersion, 0x0C06);
  EXPECT_EQ(ReleaseNumbersText(), "12.6");
  EXPECT_EQ(ReleaseVersionText(), "1.20.12.6");

  EXPECT_TRUE(NeedsUpgrade(0x0C05));
  EXPECT_TRUE(NeedsUpgrade(0x0001));
  EXPECT_TRUE(NeedsUpgrade(0x0BFF));
  EXPECT_FALSE(NeedsUpgrade(0x0C06));
  EXPECT_FALSE(NeedsUpgrade(0x0C07));
  EXPECT_FALSE(NeedsUpgrade(0xFFFF));  // unsigned comparison of the whole word
  EXPECT_FALSE(NeedsUpgrade(0));       // the boot loader is no version at all
  EXPECT_TRUE(RunsBootLoader(0));
  EXPECT_FALSE(RunsBootLoader(0x0C05));
}

TEST(FirmwareRelease, DataFlashGeometryAndErasedAreas) {
  const auto image = DataFlashImage();
  ASSERT_EQ(image.size(), 311296u);
  EXPECT_EQ(kDataFlashImageStart, 0u);
  const uint8_t* p = image.data();
  EXPECT_EQ(Word32(p + 0), 4096u);
  EXPECT_EQ(Word32(p + 4), 4096u);
  EXPECT_EQ(Word32(p + 8), 2048u);
  EXPECT_EQ(Word32(p + 12), 1u);
  EXPECT_EQ(Word32(p + 16), 9u);
  EXPECT_EQ(Word32(p + 20) * 4096u, image.size());
  for (size_t i = 0x18; i < 0x100; ++i)
    ASSERT_EQ(p[i], 0) << i;
  for (size_t i = 0x100; i < 0x1000; ++i)
    ASSERT_EQ(p[i], 0xFF) << i;
  for (size_t i = 0x2000; i < 0x9000; ++i)
    ASSERT_EQ(p[i], 0xFF) << i;
  EXPECT_EQ(Word32(p + 0x1000), 0xABCDEF12u);
  EXPECT_EQ(Word32(p + 0x1004), 0x007E8112u);
}

TEST(FirmwareRelease, DirectoryTilesTheFileArea) {
  struct Expected {
    int slot, number;
    const char* name;
    int sector, sectors;
    uint32_t length;
  };
  const Expected files[] = {
      {10, 10, "K740_UPRN.bin", 9, 4, 12490},    {21, 21, "==font_01.MFL", 13, 6, 24365},
      {22, 22, "==font_02.MFL", 19, 8, 29690},   {23, 23, "==font_03.MFL", 27, 10, 39906},
      {24, 24, "==font_04.MFL", 37, 3, 9312},    {25, 25, "==font_05.MFL", 40, 8, 30736},
      {50, 50, "MF_Menu_0.MFL", 48, 17, 68348},  {51, 51, "MF_Menu_Settings.MFL", 65, 9, 35056},
      {52, 52, "MF_Radiation.MFL", 74, 1, 3320}, {150, 1, "menu_list", 75, 1, 4},
  };
  const uint8_t* p = DataFlashImage().data();
  const uint8_t* directory = p + 0x1000;
  int used = 0;
  int nextSector = 9;
  for (const auto& f : files) {
    SCOPED_TRACE(f.name);
    const uint8_t* entry = directory + 16 * f.slot;
    EXPECT_EQ(Word16(entry), f.number);
    EXPECT_EQ(Word16(entry + 2), f.sector);
    EXPECT_EQ(Word16(entry + 4), f.sectors);
    EXPECT_EQ(Word32(entry + 6), f.length);
    EXPECT_EQ(Word16(entry + 4), (64 + Word32(entry + 6) + 4095) / 4096);
    EXPECT_EQ(Word16(entry + 2), nextSector);  // no gap, no overlap
    nextSector = Word16(entry + 2) + Word16(entry + 4);

    const uint8_t* file = p + 4096 * f.sector;
    EXPECT_EQ(Word16(file), 0);
    EXPECT_EQ(Word16(file + 2), f.slot);
    const uint8_t date[6] = {0x02, 0x2C, 0x16, 0x04, 0x08, 0xE6};
    EXPECT_EQ(std::memcmp(file + 26, date, 6), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file + 32)), f.name);
    for (size_t i = 64 + f.length; i < 4096u * f.sectors; ++i)
      ASSERT_EQ(file[i], 0xFF) << "tail byte " << i;
    ++used;
  }
  EXPECT_EQ(nextSector, 76);
  int occupied = 0;
  for (int slot = 1; slot < 256; ++slot) {
    const uint8_t* entry = directory + 16 * slot;
    bool free = true;
    for (int i = 0; i < 16; ++i)
      free = free && entry[i] == 0xFF;
    occupied += free ? 0 : 1;
  }
  EXPECT_EQ(occupied, used);
  const uint8_t menuList[4] = {0x00, 0x01, 0x00, 0x00};
  EXPECT_EQ(std::memcmp(p + 75 * 4096 + 64, menuList, 4), 0);
}

TEST(FirmwareRelease, TextTableHoldsTheDeviceTexts) {
  const uint8_t* table = DataFlashImage().data() + 9 * 4096 + 64;
  EXPECT_EQ(table[0], 0x1A);
  EXPECT_EQ(table[1], 0x38);
  ASSERT_EQ(Word16Be(table + 2), 427);
  const auto text = [&](int n) {
    const uint8_t* entry = table + 16 + 4 * n;
    return std::string(reinterpret_cast<const char*>(table + Word16Be(entry)),
                       Word16Be(entry + 2) - 1u);
  };
  EXPECT_EQ(Word16Be(table + 16), 1724);
  // Russian in Windows-1251, then English, German and Polish with their accent marks.
  EXPECT_EQ(text(10), "\xC2\xFB\xF5\xEE\xE4");
  EXPECT_EQ(text(11), "Exit");
  EXPECT_EQ(text(12), "Zuru^:k");
  EXPECT_EQ(text(13), "Wyjs^'cie");
  const uint8_t* last = table + 16 + 4 * 426;
  EXPECT_EQ(Word16Be(last) + Word16Be(last + 2), 12490);
  EXPECT_EQ(table[12490 - 1], 0);
}

}  // namespace
}  // namespace dravion
