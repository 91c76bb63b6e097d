#include <gtest/gtest.h>

#include <algorithm>

#include "sim/link_harness.h"

namespace dravion {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kProgramAddress = 0x08002000;
constexpr uint32_t kImageSize = 0xE000;

uint16_t MainVersion(test::SimLink& link) {
  Bytes soft;
  if (!link.Request(1, {0x01, 0x01}, &soft) || soft.size() != 8) return 0xFFFF;
  return LoadU16(&soft[2]);
}

// A program image as the update carries it: the vector table for the revision, then code.
Bytes Image(uint32_t resetAddress) {
  Bytes image(kImageSize, 0xFF);
  const Bytes sp = test::Le32(0x20002000), reset = test::Le32(resetAddress);
  std::copy(sp.begin(), sp.end(), image.begin());
  std::copy(reset.begin(), reset.end(), image.begin() + 4);
  for (uint32_t i = 8; i < 0xA000; ++i)
    image[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  return image;
}

// The program-flash update of a boot-loader device: each page erased right before its first
// 32-byte chunk. Writes `limit` bytes of the image.
bool WriteImage(test::SimLink& link, const Bytes& image, uint32_t limit = kImageSize) {
  for (uint32_t offset = 0; offset < limit; offset += 32) {
    const uint32_t address = kProgramAddress + offset;
    if (address % 128 == 0 && !link.Erase(3, 0x05, address)) return false;
    if (!link.Write(3, 0x03, address, Bytes(image.begin() + offset, image.begin() + offset + 32))) {
      return false;
    }
  }
  return true;
}

TEST(FlashLink, ExternalFlashEraseAndWriteBehaveLikeNorFlash) {
  sim::DeviceConfig blank;
  blank.dataFlashValid = false;  // no data-flash image in the sectors used here
  test::SimLink link(blank);
  const uint32_t sector = 0x00C000;  // its address escapes to DB DC on the line
  ASSERT_TRUE(link.Erase(2, 0x05, sector));
  Bytes data;
  ASSERT_TRUE(link.Read(2, sector, 32, data));
  EXPECT_EQ(data, Bytes(32, 0xFF));

  const Bytes pattern{0xC0, 0xDB, 0x0F, 0xF0, 0x00, 0x55};
  ASSERT_TRUE(link.Write(2, 0x03, sector + 10, pattern));
  ASSERT_TRUE(link.Read(2, sector + 10, 6, data));
  EXPECT_EQ(data, pattern);
  EXPECT_EQ(link.device->GetCounters().externalUnerasedWrites, 0);

  // A second write over the same bytes can only clear bits, and is counted.
  ASSERT_TRUE(link.Write(2, 0x03, sector + 10, Bytes(6, 0x3C)));
  ASSERT_TRUE(link.Read(2, sector + 10, 6, data));
  EXPECT_EQ(data, (Bytes{0x00, 0x18, 0x0C, 0x30, 0x00, 0x14}));
  EXPECT_EQ(link.device->GetCounters().externalUnerasedWrites, 1);

  // A write that runs past its 256-byte page wraps to the page start, as the chip does.
  ASSERT_TRUE(link.Write(2, 0x03, sector + 0xFE, Bytes{1, 2, 3, 4}));
  EXPECT_EQ(link.device->ReadExternalFlash(sector + 0xFE, 2), (Bytes{1, 2}));
  EXPECT_EQ(link.device->ReadExternalFlash(sector, 2), (Bytes{3, 4}));
  EXPECT_EQ(link.device->ReadExternalFlash(sector + 0x100, 1), Bytes{0xFF});

  // Erasing brings the whole 4 KB sector back to 0xFF and leaves its neighbours alone.
  ASSERT_TRUE(link.Write(2, 0x03, sector + 0x1000, Bytes{0x42}));
  ASSERT_TRUE(link.Erase(2, 0x05, sector + 0x800));
  EXPECT_EQ(link.device->ReadExternalFlash(sector, 4096), Bytes(4096, 0xFF));
  EXPECT_EQ(link.device->ReadExternalFlash(sector + 0x1000, 1), Bytes{0x42});

  // A count that does not match the data is refused: the count echo is 0.
  Bytes answer;
  ASSERT_TRUE(link.Request(2, {0x02, 0x03, 0x00, 0x00, 0x01, 0x00, 4, 1, 2}, &answer));
  EXPECT_EQ(answer, (Bytes{0x00, 0x00, 0x01, 0x00, 0x00}));
  // Reads at the end of the 8 MiB chip return what lies inside it.
  ASSERT_TRUE(link.Read(2, 0x7FFFF0, 32, data));
  EXPECT_EQ(data.size(), 16u);
}

TEST(FlashLink, ProgramFlashCodesFollowTheRunningProgramAndTheBootAreaIsProtected) {
  sim::DeviceConfig config;
  config.restartMs = 100;
  test::SimLink link(config);
  // The main program (boot loader 4.16) takes 06/07 and ignores 03/05.
  EXPECT_TRUE(link.Erase(3, 0x07, 0x0800F000));
  EXPECT_FALSE(link.Erase(3, 0x05, 0x0800F000));
  EXPECT_EQ(link.device->ReadProgramFlash(0x0800F000, 128), Bytes(128, 0xFF));

  ASSERT_TRUE(link.Request(1, {0x01, 0x05, 0x03, 0x00, 0x00, 0x00, 0x0A}));
  ASSERT_TRUE(link.Reconnect());
  EXPECT_EQ(MainVersion(link), 0);
  EXPECT_TRUE(link.Erase(3, 0x05, 0x0800F080));
  EXPECT_FALSE(link.Erase(3, 0x07, 0x0800F080));
  // The boot loader never erases or writes its own pages.
  const Bytes infoBefore = link.device->ReadProgramFlash(0x08001F00, 48);
  EXPECT_FALSE(link.Erase(3, 0x05, 0x08001F00));
  EXPECT_FALSE(link.Write(3, 0x03, 0x08001F00, Bytes(32, 0)));
  EXPECT_EQ(link.device->ReadProgramFlash(0x08001F00, 48), infoBefore);
  EXPECT_GE(link.device->GetCounters().protectedWrites, 2);
  // Data flash is the main program's business.
  EXPECT_FALSE(link.Erase(2, 0x05, 0));
}

TEST(FlashLink, CompleteImageLetsTheMainProgramRunWithTheNewRelease) {
  sim::DeviceConfig config;
  config.restartMs = 100;
  config.mainVersion = 0x0C05;  // an older release is running
  test::SimLink link(config);
  EXPECT_EQ(MainVersion(link), 0x0C05);
  ASSERT_TRUE(link.Request(1, {0x01, 0x05, 0x03, 0x00, 0x00, 0x00, 0x0A}));
  ASSERT_TRUE(link.Reconnect());
  ASSERT_EQ(MainVersion(link), 0);

  const Bytes image = Image(0x0800B569);
  ASSERT_TRUE(WriteImage(link, image));
  const auto counters = link.device->GetCounters();
  EXPECT_EQ(counters.programErases, 448);
  EXPECT_EQ(counters.programWrites, 1792);
  EXPECT_EQ(counters.programUnerasedWrites, 0);
  EXPECT_EQ(link.device->ReadProgramFlash(kProgramAddress, kImageSize), image);
  EXPECT_TRUE(link.device->ProgramImageComplete());

  ASSERT_TRUE(link.Request(1, {0x01, 0x05, 0x02, 0x00, 0x00, 0x00, 0x0A}));
  ASSERT_TRUE(link.Reconnect());
  EXPECT_EQ(MainVersion(link), 0x0C06);
}

TEST(FlashLink, BrokenOrForeignImageKeepsTheBootLoaderRunning) {
  sim::DeviceConfig config;
  config.restartMs = 100;
  config.startInBoot = true;
  test::SimLink link(config);
  ASSERT_EQ(MainVersion(link), 0);

  // Half an image: the pages beyond it still hold the old program.
  ASSERT_TRUE(WriteImage(link, Image(0x0800B569), kImageSize / 2));
  EXPECT_FALSE(link.device->ProgramImageComplete());
  ASSERT_TRUE(link.Request(1, {0x01, 0x05, 0x02, 0x00, 0x00, 0x00, 0x0A}));
  ASSERT_TRUE(link.Reconnect());
  EXPECT_EQ(MainVersion(link), 0);

  // A complete image for revision 42 on a revision 41 board does not start either.
  ASSERT_TRUE(WriteImage(link, Image(0x0800B521)));
  ASSERT_TRUE(link.Request(1, {0x01, 0x05, 0x02, 0x00, 0x00, 0x00, 0x0A}));
  ASSERT_TRUE(link.Reconnect());
  EXPECT_EQ(MainVersion(link), 0);

  // Writing over bytes that were not erased is counted and cannot set bits.
  const Bytes before = link.device->ReadProgramFlash(kProgramAddress + 8, 32);
  ASSERT_TRUE(link.Write(3, 0x03, kProgramAddress + 8, Bytes(32, 0xFF)));
  EXPECT_EQ(link.device->ReadProgramFlash(kProgramAddress + 8, 32), before);
  EXPECT_EQ(link.device->GetCounters().programUnerasedWrites, 1);

  // The right image, written whole, runs.
  ASSERT_TRUE(WriteImage(link, Image(0x0800B569)));
  ASSERT_TRUE(link.Request(1, {0x01, 0x05, 0x02, 0x00, 0x00, 0x00, 0x0A}));
  ASSERT_TRUE(link.Reconnect());
  EXPECT_EQ(MainVersion(link), 0x0C06);
}

}  // namespace
}  // namespace dravion
