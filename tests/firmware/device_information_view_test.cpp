#include "firmware/device_information_view.h"

#include <gtest/gtest.h>

#include "protocol/identification.h"
#include "services/language.h"

namespace dravion {
namespace {

using Lines = std::vector<std::string>;

DeviceInfo Identified(uint16_t mainVersion) {
  DeviceInfo record;
  record.Valid = 1;
  record.Name = "Dravion ZAV-740.41.3";
  record.Factory[9] = 0x12;
  record.Factory[10] = 0x34;
  record.Factory[11] = 0x56;
  record.Factory[12] = 0x78;
  record.Soft.BootVersion = 0x0410;
  record.Soft.MainVersion = mainVersion;
  return record;
}

Language In(Lang lang) {
  Language language;
  language.Set(lang);
  return language;
}

const Lines kEnglishHead = {"Connected Device Information",
                            "Device: Dravion ZAV-740.41.3",
                            "S/N: 214-36587",
                            "------------------------------",
                            "SW BOOT: 4.16",
                            "SW MAIN: 1.20.12.5",
                            "------------------------------"};

TEST(DeviceInformationLines, UpgradeOfferedBelowTheCarriedRelease) {
  Lines english = kEnglishHead;
  english.push_back("Upgrade to Version 1.20.12.6");
  english.push_back("is available");
  EXPECT_EQ(DeviceInformationLines(Identified(0x0C05), In(Lang::English)), english);

  const Lines russian = DeviceInformationLines(Identified(0x0C05), In(Lang::Russian));
  ASSERT_EQ(russian.size(), 9u);
  EXPECT_EQ(russian[0], "Информация о подключенном приборе");
  EXPECT_EQ(russian[1], "Версия прибора: Dravion ZAV-740.41.3");
  EXPECT_EQ(Lines(russian.begin() + 2, russian.begin() + 7),
            Lines(kEnglishHead.begin() + 2, kEnglishHead.end()));
  EXPECT_EQ(russian[7], "Доступно обновление");
  EXPECT_EQ(russian[8], "до версии 1.20.12.6");

  EXPECT_EQ(DeviceInformationLines(Identified(0x0001), In(Lang::English)).size(), 9u);
}

TEST(DeviceInformationLines, NothingFurtherFromTheCarriedReleaseOn) {
  for (uint16_t main : {0x0C06, 0x0C07, 0x0D00, 0xFFFF}) {
    const Lines lines = DeviceInformationLines(Identified(main), In(Lang::English));
    ASSERT_EQ(lines.size(), 7u) << main;
    EXPECT_EQ(lines[6], "------------------------------");
  }
  EXPECT_EQ(DeviceInformationLines(Identified(0x0C06), In(Lang::English))[5], "SW MAIN: 1.20.12.6");
}

TEST(DeviceInformationLines, BootLoaderAndUnidentifiedDevices) {
  const Lines boot = DeviceInformationLines(Identified(0), In(Lang::English));
  ASSERT_EQ(boot.size(), 8u);
  EXPECT_EQ(boot[5], "SW MAIN: 1.20.0.0");
  EXPECT_EQ(boot[7], "Your Device is in BOOT Mode");
  EXPECT_EQ(DeviceInformationLines(Identified(0), In(Lang::Russian))[7],
            "Прибор находится в режиме BOOT");

  DeviceInfo failed = Identified(0x0C05);
  failed.Valid = 0;  // a failed identification keeps what it read before failing
  EXPECT_TRUE(DeviceInformationLines(failed, In(Lang::English)).empty());
}

class RecordingMemo : public DeviceInformationView {
 public:
  void ShowInformationLines(const Lines& shown) override {
    lines = shown;
    ++updates;
  }
  Lines lines{"stale"};
  int updates = 0;
};

TEST(DeviceInformationPage, FollowsTheRecordAndTheLanguage) {
  DeviceInfo record = Identified(0x0C05);
  Language language = In(Lang::English);
  RecordingMemo memo;
  DeviceInformationPage page(record, language, memo);

  page.ShowDeviceInformation();
  EXPECT_EQ(memo.lines.front(), "Connected Device Information");
  language.Set(Lang::Russian);
  page.LanguageChanged();
  EXPECT_EQ(memo.lines.back(), "до версии 1.20.12.6");

  // The device went away: the memo says what to do, in the language of the moment.
  record.Clear();
  page.ClearDeviceInformation();
  EXPECT_EQ(memo.lines, NoDeviceLines(language));
  EXPECT_EQ(memo.lines.front(), "Прибор не подключён");
  language.Set(Lang::English);
  page.LanguageChanged();
  EXPECT_EQ(memo.lines.front(), "No device connected");
  EXPECT_EQ(memo.lines[2], "Plug in the Dravion with its USB cable:");

  // A failed identification says so instead of showing nothing.
  page.ShowDeviceInformation();
  EXPECT_EQ(memo.lines, UnrecognisedDeviceLines(language));
  EXPECT_EQ(memo.lines.front(), "The connected device was not recognised");
}

}  // namespace
}  // namespace dravion
