#include "firmware/flash_update.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "device/device_link_harness.h"
#include "firmware/screen_markup.h"
#include "protocol/device_records.h"
#include "sim/link_harness.h"

namespace dravion {
namespace {

using device_test::DeviceLinkHarness;

const std::string kBanner39(39, '#');
const std::string kBanner43(43, '#');
constexpr uint16_t kCpuErase = sim::CommandKey(3, 0x05);
constexpr uint16_t kCpuWrite = sim::CommandKey(3, 0x03);
constexpr uint16_t kEflErase = sim::CommandKey(2, 0x05);
constexpr uint16_t kEflWrite = sim::CommandKey(2, 0x03);

// The requests without the repeats that the link's resends add on a loaded machine (a resend
// repeats the request right before it).
std::vector<sim::FlashRequest> Unrepeated(const std::vector<sim::FlashRequest>& all) {
  std::vector<sim::FlashRequest> out;
  for (const auto& r : all) {
    if (!out.empty() && out.back().key == r.key && out.back().address == r.address) continue;
    out.push_back(r);
  }
  return out;
}

std::vector<std::string> Unrepeated(const std::vector<std::string>& texts) {
  std::vector<std::string> out;
  for (const auto& t : texts)
    if (out.empty() || out.back() != t) out.push_back(t);
  return out;
}

std::vector<sim::FlashRequest> OfKey(const std::vector<sim::FlashRequest>& all, uint16_t key) {
  std::vector<sim::FlashRequest> out;
  std::copy_if(all.begin(), all.end(), std::back_inserter(out),
               [key](const sim::FlashRequest& r) { return r.key == key; });
  return out;
}

std::vector<uint8_t> Le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

std::vector<uint8_t> Bytes(std::span<const uint8_t> span) {
  return {span.begin(), span.end()};
}

// The lines logged from the first one equal to `first` on.
std::vector<std::string> From(const std::vector<std::string>& lines, const std::string& first) {
  return {std::find(lines.begin(), lines.end(), first), lines.end()};
}

// The device found and identified, no link tests in between, records and log empty.
void Connect(DeviceLinkHarness& h) {
  ASSERT_TRUE(h.Connect());
  h.core.manager.LinkWatch = false;  // as the update's handler leaves it
  h.log.lines.clear();
  h.device->ClearRecords();
}

TEST(ProgramFlashLink, WholeImageWithEachPageErasedRightBeforeTheWriteThatStartsIt) {
  DeviceLinkHarness h([](sim::DeviceConfig& c) { c.startInBoot = true; });
  Connect(h);
  ASSERT_TRUE(UpdateProgramFlash(h.context));

  const auto requests = Unrepeated(h.device->FlashRequests());
  EXPECT_EQ(OfKey(requests, kCpuErase).size(), 448u);
  EXPECT_EQ(OfKey(requests, kCpuWrite).size(), 1792u);
  ASSERT_EQ(requests.size(), 448u + 1792u);
  uint32_t expected = sim::map::kProgramAddress;
  for (size_t i = 0; i < requests.size(); ++i) {
    const auto& r = requests[i];
    if (r.key == kCpuErase) {
      // Every erase names the page that the next write starts.
      ASSERT_LT(i + 1, requests.size());
      EXPECT_EQ(r.address, expected) << i;
      EXPECT_EQ(requests[i + 1].key, kCpuWrite) << i;
      continue;
    }
    EXPECT_EQ(r.address, expected) << i;
    EXPECT_EQ(r.count, 32) << i;
    if (r.address % 128 == 0) {
      EXPECT_TRUE(i > 0 && requests[i - 1].key == kCpuErase) << i;
    }
    expected += 32;
  }
  EXPECT_EQ(h.device->ReadProgramFlash(sim::map::kProgramAddress, 57344), Bytes(ProgramImage(41)));
  EXPECT_TRUE(h.device->ProgramImageComplete());
  EXPECT_EQ(h.device->GetCounters().programUnerasedWrites, 0);

  // Banner, title, mode check, one progress line written in place, banner.
  EXPECT_EQ(h.log.lines, (std::vector<std::string>{
                             kBanner39, "# Updating TQV8", "==> Check - Device is in Boot or TQV8",
                             "BOOT  : 4.16", "TQV8  : 0.0", "# Written: 100%", kBanner39}));
  ASSERT_GE(h.log.replaced.size(), 1u);
  EXPECT_EQ(h.log.replaced.back(), "# Written: 100%");
  ASSERT_GE(h.frame.progress.size(), 2u);
  EXPECT_EQ(h.frame.progress[h.frame.progress.size() - 2], 100);
  EXPECT_EQ(h.frame.progress.back(), 0);
  EXPECT_TRUE(std::is_sorted(h.frame.progress.begin(), h.frame.progress.end() - 1));
  EXPECT_TRUE(h.dialogs.boxes.empty());
}

TEST(ProgramFlashLink, RefusedBeforeAnyFlashCommand) {
  {
    SCOPED_TRACE("main program running");
    DeviceLinkHarness h;
    Connect(h);
    EXPECT_FALSE(UpdateProgramFlash(h.context));
    EXPECT_TRUE(h.device->FlashRequests().empty());
    EXPECT_EQ(From(h.log.lines, "TQV8  : 12.6"),
              (std::vector<std::string>{"TQV8  : 12.6", kBanner39,
                                        "# ERROR: \"Update TQV8 not avaliable - TQV8 Mode\""}));
  }
  DeviceLinkHarness h([](sim::DeviceConfig& c) { c.startInBoot = true; });
  Connect(h);
  {
    SCOPED_TRACE("a board without an image");
    h.device->SetHardwareRevision(43);
    BoardInfo board;
    ASSERT_TRUE(h.commands.ReadBoardInformation(board, false));
    EXPECT_FALSE(UpdateProgramFlash(h.context));
    EXPECT_EQ(h.log.lines.back(), "TQV8  : 0.0");  // nothing after the mode check
    h.device->SetHardwareRevision(41);
    ASSERT_TRUE(h.commands.ReadBoardInformation(board, false));
  }
  const auto patchInfo = [&](uint32_t offset, const std::vector<uint8_t>& bytes) {
    h.device->LoadProgramFlash(sim::map::kInfoAddress + offset, bytes);
    ASSERT_TRUE(h.commands.GetDeviceInformation(false));
  };
  {
    SCOPED_TRACE("a program address inside a page");
    patchInfo(14, Le32(sim::map::kProgramAddress + 0x10));
    h.log.lines.clear();
    EXPECT_FALSE(UpdateProgramFlash(h.context));
    EXPECT_EQ(
        From(h.log.lines, "TQV8  : 0.0"),
        (std::vector<std::string>{
            "TQV8  : 0.0", "# ERROR: \"Program address 0x08002010 not at a CPU Flash page start\"",
            kBanner39}));
    patchInfo(14, Le32(sim::map::kProgramAddress));
  }
  {
    SCOPED_TRACE("a chip code without an erase page size");
    patchInfo(0, {0x63, 0x00});
    h.log.lines.clear();
    EXPECT_FALSE(UpdateProgramFlash(h.context));
    EXPECT_EQ(From(h.log.lines, "TQV8  : 0.0"),
              (std::vector<std::string>{"TQV8  : 0.0",
                                        "# ERROR: \"CPU Flash page size unknown for chip code 99\"",
                                        kBanner39}));
  }
  EXPECT_TRUE(h.device->FlashRequests().empty());
  EXPECT_TRUE(h.device->ProgramImageComplete());  // the factory program is untouched
}

TEST(ProgramFlashLink, WriteFailingHalfWayEndsAtOnceAndARunAgainRewritesEverything) {
  DeviceLinkHarness h([](sim::DeviceConfig& c) { c.startInBoot = true; });
  Connect(h);
  const uint32_t failing = sim::map::kProgramAddress + 0x7000;
  h.device->SetFaults({.refuseCommand = kCpuWrite, .refuseAddress = failing});
  EXPECT_FALSE(UpdateProgramFlash(h.context));

  const auto requests = h.device->FlashRequests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.back().address, failing);  // nothing after the failed chunk
  EXPECT_EQ(OfKey(Unrepeated(requests), kCpuWrite).size(), 0x7000u / 32 + 1);
  ASSERT_GE(h.log.lines.size(), 3u);
  const auto tail = std::vector<std::string>(h.log.lines.end() - 3, h.log.lines.end());
  EXPECT_TRUE(tail[0].rfind("# Written: ", 0) == 0 || tail[0] == "#  Written: 0%") << tail[0];
  EXPECT_NE(tail[0], "# Written: 100%");
  EXPECT_EQ(tail[1], "# ERROR: \"Writa data to CPU Flash\"");
  EXPECT_EQ(tail[2], kBanner39);
  EXPECT_EQ(h.frame.progress.back(), 0);
  EXPECT_FALSE(h.device->ProgramImageComplete());  // a restart would stay in the boot loader

  h.device->SetFaults({});
  h.device->ClearRecords();
  EXPECT_TRUE(UpdateProgramFlash(h.context));
  EXPECT_EQ(h.device->FlashRequests().front().address, sim::map::kProgramAddress);
  EXPECT_EQ(h.device->ReadProgramFlash(sim::map::kProgramAddress, 57344), Bytes(ProgramImage(41)));
  EXPECT_TRUE(h.device->ProgramImageComplete());
}

// Restarts the emulated device into its main program and waits until it is back on its port,
// so that it has looked at its data flash again.
bool RestartedIntact(DeviceLinkHarness& h) {
  const int before = h.device->GetCounters().restarts;
  h.device->Restart(2);
  // The restart is counted as the port goes, so the wait below is for its return.
  EXPECT_TRUE(test::WaitCounters(*h.device, [&](const auto& c) { return c.restarts > before; }));
  EXPECT_TRUE(h.device->WaitPlugged(true, 20000));
  return h.device->DataFlashIntact();
}

// The spinner characters sent in the progress texts, in order.
std::string Spinners(const std::vector<std::string>& texts) {
  std::string out;
  const std::string prefix = ScreenSpinnerText('|').substr(0, ScreenSpinnerText('|').size() - 1);
  for (const auto& t : texts)
    if (t.size() == prefix.size() + 1 && t.rfind(prefix, 0) == 0) out += t.back();
  return out;
}

bool FollowsInTurn(char before, char after) {
  const std::string order = "|/-\\";
  return order[(order.find(before) + 1) % 4] == after;
}

TEST(DataFlashLink, WholeImageSectorsErasedOnceAheadOfTheirFirstByteAndTheScreenDrawn) {
  DeviceLinkHarness h;
  Connect(h);
  // The first exchanges are slowed so that a report falls due while nothing is written yet.
  h.log.onLine = [&](const std::string& line) {
    if (line == "# WRITING: 0% bytes") h.device->SetFaults({.delayMs = 40});
  };
  h.log.onReplace = [&](const std::string&) { h.device->SetFaults({}); };
  ASSERT_TRUE(UpdateDataFlash(h.context));

  const auto requests = Unrepeated(h.device->FlashRequests());
  const auto erases = OfKey(requests, kEflErase);
  ASSERT_EQ(erases.size(), 77u);
  for (uint32_t s = 0; s < 77; ++s)
    EXPECT_EQ(erases[s].address, s * 4096) << s;
  EXPECT_EQ(OfKey(requests, kEflWrite).size(), 311296u / 32);
  // A sector is erased one chunk early: right before the write of the chunk that ends where it
  // starts; sector 76, just past the image, before the last chunk.
  for (size_t i = 0; i < requests.size(); ++i) {
    if (requests[i].key != kEflErase || requests[i].address == 0) continue;
    ASSERT_LT(i + 1, requests.size());
    EXPECT_EQ(requests[i + 1].key, kEflWrite);
    EXPECT_EQ(requests[i + 1].address + 32, requests[i].address);
  }
  EXPECT_EQ(h.device->ReadExternalFlash(0, 311296), Bytes(DataFlashImage()));
  EXPECT_EQ(h.device->ReadExternalFlash(311296, 4096), std::vector<uint8_t>(4096, 0xFF));

  // The screen: opening texts, progress bar and spinner per report from 1 % on, closing texts.
  EXPECT_EQ(h.device->ConnectionTexts(), std::vector<std::string>{"COM 6"});
  const auto texts = Unrepeated(h.device->PrintTexts());
  ASSERT_GE(texts.size(), 5u + 2u + 2u);
  EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + 5), OpeningScreenTexts(6));
  EXPECT_EQ(std::vector<std::string>(texts.end() - 2, texts.end()), ClosingScreenTexts());
  EXPECT_EQ(texts[texts.size() - 4], ScreenProgressText(100));
  EXPECT_EQ(std::count(texts.begin(), texts.end(), ScreenProgressText(0)), 0);
  const std::string spinners = Spinners(texts);
  EXPECT_EQ(spinners.size() * 2, texts.size() - 7);
  for (size_t i = 1; i < spinners.size(); ++i)
    EXPECT_TRUE(FollowsInTurn(spinners[i - 1], spinners[i])) << spinners;

  // A report at 0 % rewrote the log line and the bar but drew nothing on the device.
  ASSERT_GE(h.log.replaced.size(), 2u);
  EXPECT_EQ(h.log.replaced.front(), "# ЗАПИСЬ: 0% 0Кб [>------------------------]");
  EXPECT_EQ(h.frame.progress[1], 0);
  const auto atZero = std::count_if(h.log.replaced.begin(), h.log.replaced.end(),
                                    [](const std::string& l) { return l.find(": 0% ") != l.npos; });
  EXPECT_EQ(spinners.size() + atZero, h.log.replaced.size());

  EXPECT_EQ(h.log.lines,
            (std::vector<std::string>{
                kBanner43, "# Updating EFL", "==> Check - Device is in Boot or TQV8",
                "BOOT  : 4.16", "TQV8  : 12.6", "# ЗАПИСЬ: 100% 304Кб [>>>>>>>>>>>>>>>>>>>>>>>>>]",
                "# REP_CNT:0", kBanner39}));
  EXPECT_EQ(h.frame.progress.back(), 0);
  EXPECT_TRUE(h.dialogs.boxes.empty());
}

TEST(DataFlashLink, FailureAtTheFirstWriteOfSectorNineAndASecondRunThatContinuesTheSpinner) {
  DeviceLinkHarness h;
  Connect(h);
  h.device->SetFaults({.refuseCommand = kEflWrite, .refuseAddress = 0x9000});
  EXPECT_FALSE(UpdateDataFlash(h.context));
  EXPECT_EQ(
      From(h.log.lines, "# ERROR: \"write_func\""),
      (std::vector<std::string>{"# ERROR: \"write_func\"", "# ERROR: \"WRITE ERR: A=0x009000\"",
                                "# ERROR: \"Update not completed\"",
                                "# REP_CNT:2",  // the refused write was sent three times
                                kBanner39}));
  const auto first = h.device->PrintTexts();
  EXPECT_EQ(std::count(first.begin(), first.end(), ScreenEndText()), 0);
  EXPECT_EQ(OfKey(h.device->FlashRequests(), kEflWrite).back().address, 0x9000u);
  EXPECT_EQ(h.frame.progress.back(), 0);
  // The device's main program finds its files gone; its screen shows an error until rewritten.
  EXPECT_FALSE(RestartedIntact(h));
  h.core.manager.LinkWatch = true;  // found and identified again, as after a restart
  h.core.manager.Connected = false;
  ASSERT_TRUE(h.WaitUntil([&] { return h.core.manager.Connected && h.core.manager.Identified; }));
  h.core.manager.LinkWatch = false;

  h.device->SetFaults({});
  h.device->ClearRecords();
  h.log.lines.clear();
  EXPECT_TRUE(UpdateDataFlash(h.context));
  EXPECT_EQ(OfKey(Unrepeated(h.device->FlashRequests()), kEflErase).size(), 77u);  // all again
  EXPECT_EQ(h.device->ReadExternalFlash(0, 311296), Bytes(DataFlashImage()));
  // A further run continues the device's spinner where this one left it.
  const std::string before = Spinners(Unrepeated(h.device->PrintTexts()));
  h.device->ClearRecords();
  EXPECT_TRUE(UpdateDataFlash(h.context));
  const std::string after = Spinners(Unrepeated(h.device->PrintTexts()));
  ASSERT_FALSE(before.empty());
  ASSERT_FALSE(after.empty());
  EXPECT_TRUE(FollowsInTurn(before.back(), after.front())) << before << " then " << after;
  EXPECT_TRUE(RestartedIntact(h));
}

TEST(DataFlashLink, RefusedInTheBootLoaderOrWithoutThePcConnectionScreen) {
  DeviceLinkHarness boot([](sim::DeviceConfig& c) { c.startInBoot = true; });
  Connect(boot);
  EXPECT_FALSE(UpdateDataFlash(boot.context));
  EXPECT_EQ(boot.log.lines.back(), "# ERROR: \"Update EFL not avaliable in BOOT Mode\"");
  EXPECT_TRUE(boot.device->FlashRequests().empty());
  EXPECT_TRUE(boot.device->PrintTexts().empty());

  DeviceLinkHarness h;
  Connect(h);
  h.device->SetFaults({.refuseCommand = sim::CommandKey(1, 0x06)});
  EXPECT_FALSE(UpdateDataFlash(h.context));
  EXPECT_EQ(h.log.lines.back(), "# ERROR: \"CMD PC CONNECT\"");
  EXPECT_TRUE(h.device->FlashRequests().empty());
  EXPECT_TRUE(h.dialogs.boxes.empty());
}

}  // namespace
}  // namespace dravion
