#include "device/parameters.h"

#include <gtest/gtest.h>

#include "device/device_context.h"
#include "device_fakes.h"
#include "protocol/scripted_device.h"

namespace dravion {
namespace {

using test::Bytes;

// The parameter operations and access checks over the command set on fake time, with a scripted
// device and a connection manager whose flags the tests set.
struct ParameterHarness {
  ParameterHarness() {
    language.Set(Lang::English);
    connection.manager.Connected = true;
    connection.manager.Identified = true;
  }
  // Parameter reads answer `value` for every number.
  void AnswerReads(uint32_t value) {
    h.device.override[0x010E] = [value](const Bytes& p) -> std::optional<Bytes> {
      Bytes answer{p[0], p[1], 0, 0, 0, 0};
      StoreU32(&answer[2], value);
      return answer;
    };
  }
  void Silence(int key) {
    h.device.override[key] = [](const Bytes&) -> std::optional<Bytes> { return std::nullopt; };
  }

  test::CommandHarness h;
  test::RecordingLog log;
  device_test::RecordingFrame frame;
  Language language;
  device_test::IdleConnection connection{h.dialogs, h.clock, log, language};
  DeviceInfo info = device_test::SupportedDevice();
  DeviceContext context{h.commands, info, connection.manager, log, h.dialogs, language, h.clock,
                        h.pump,     frame};
};

TEST(Parameters, ReadLogsNumberAndValueInUpperCaseHexAndDecimal) {
  ParameterHarness p;
  p.AnswerReads(2);
  uint32_t value = 99;
  ASSERT_TRUE(GetParameter(p.context, param::kUnits, &value));
  EXPECT_EQ(value, 2u);
  p.AnswerReads(0xC0BA00FE);
  ASSERT_TRUE(GetParameter(p.context, param::CommandParameter, &value));
  EXPECT_EQ(value, 0xC0BA00FEu);
  EXPECT_EQ(p.log.lines, (std::vector<std::string>{"Read PAR[0x0009(9)] : 0x0002(2)",
                                                   "Read PAR[0xFF00(65280)] : "
                                                   "0xC0BA00FE(3233415422)"}));
  EXPECT_EQ(p.h.Requests(), (std::vector<Bytes>{{1, 0x0E, 9, 0}, {1, 0x0E, 0x00, 0xFF}}));
}

TEST(Parameters, ReadFailureIsSilentLogsTheNumberAndGivesZero) {
  ParameterHarness p;
  p.Silence(0x010E);
  uint32_t value = 99;
  EXPECT_FALSE(GetParameter(p.context, param::kCalibration, &value));
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(p.log.lines, (std::vector<std::string>{"# ERROR: \"Read PAR[4]\""}));
  EXPECT_TRUE(p.h.dialogs.boxes.empty());

  p.log.lines.clear();
  p.h.Forget();
  EXPECT_FALSE(GetParameter(p.context, param::kCalibration, nullptr));
  EXPECT_TRUE(p.h.port.frames.empty());
  EXPECT_TRUE(p.log.lines.empty());
}

TEST(Parameters, WriteLogsTheValueRequestedNotTheEcho) {
  ParameterHarness p;
  p.h.device.override[0x010F] = [](const Bytes& params) -> std::optional<Bytes> {
    Bytes echo = params;
    echo[2] = 0x55;  // the device kept something else
    return echo;
  };
  ASSERT_TRUE(SetParameter(p.context, param::kBackgroundLevel, 31));
  ASSERT_TRUE(SetParameter(p.context, param::CommandParameter, DoseReset));
  EXPECT_EQ(p.log.lines, (std::vector<std::string>{"Write PAR[0x0007(7)] : 0x001F(31)",
                                                   "Write PAR[0xFF00(65280)] : "
                                                   "0xC0BA0020(3233415200)"}));
  EXPECT_EQ(p.h.Requests()[0], (Bytes{1, 0x0F, 7, 0, 31, 0, 0, 0}));
  EXPECT_EQ(p.h.Requests()[1], (Bytes{1, 0x0F, 0x00, 0xFF, 0x20, 0x00, 0xBA, 0xC0}));
}

TEST(Parameters, WriteFailureShowsTheCommandBoxAndLogsTheRequest) {
  ParameterHarness p;
  p.Silence(0x010F);
  EXPECT_FALSE(SetParameter(p.context, param::kButtonClick, 0xAB));
  ASSERT_EQ(p.h.dialogs.boxes.size(), 1u);
  EXPECT_EQ(p.h.dialogs.boxes[0].text, "No answer - Parameter WRITE");
  EXPECT_EQ(p.log.lines.back(), "# ERROR: \"Write PAR[14] : 0xAB(171)\"");
}

struct AccessCase {
  const char* name;
  bool connected;
  bool identified;
  uint16_t model;
  uint8_t revision;
  uint16_t mainVersion;
  int code;
  const char* english;
  const char* russian;
};

TEST(Parameters, EachAccessCodeShowsItsMessageInBothLanguagesAndSendsNothing) {
  const char* badConnectionEn = "Bad connection or\n\rDevice is not Dravion";
  const char* badConnectionRu = "Некорректное подключение\n\rили подключен не Dravion";
  const AccessCase cases[] = {
      {"not connected", false, true, 740, 41, 0x0C06, 1, "Device not connected",
       "Соединение не установлено"},
      {"not identified", true, false, 740, 41, 0x0C06, 2, badConnectionEn, badConnectionRu},
      {"other model", true, true, 644, 41, 0x0C06, 3, badConnectionEn, badConnectionRu},
      {"old revision", true, true, 740, 40, 0x0C06, 4, "Your Device Version is not supported",
       "Версия вашего прибора не поддерживается"},
      {"old program", true, true, 740, 42, 0x0C05, 5,
       "You need Upgrade Firmware\n\rPlease goto Page \"About Device\"",
       "Требуется обновление прошивки\n\rПожалуйста зайдите на страницу \"О приборе\""},
      {"boot loader", true, true, 740, 41, 0x0000, 5,
       "You need Upgrade Firmware\n\rPlease goto Page \"About Device\"",
       "Требуется обновление прошивки\n\rПожалуйста зайдите на страницу \"О приборе\""},
  };
  for (const AccessCase& c : cases) {
    for (Lang lang : {Lang::English, Lang::Russian}) {
      ParameterHarness p;
      p.language.Set(lang);
      p.connection.manager.Connected = c.connected;
      p.connection.manager.Identified = c.identified;
      p.info.Board.ModelCode = c.model;
      p.info.Board.HardwareRevision = c.revision;
      p.info.Soft.MainVersion = c.mainVersion;
      EXPECT_EQ(DeviceAccessCode(c.connected, c.identified, p.info), c.code) << c.name;
      EXPECT_FALSE(CheckDeviceAccess(p.context, "Caption", true)) << c.name;
      ASSERT_EQ(p.h.dialogs.boxes.size(), 1u) << c.name;
      if (c.code == 1) {
        // No device: one plain sentence, no caption, no code.
        EXPECT_EQ(p.h.dialogs.boxes[0].kind, BoxKind::Information);
        EXPECT_EQ(p.h.dialogs.boxes[0].text, NoDeviceText(p.language));
        EXPECT_EQ(p.h.dialogs.boxes[0].text.find('\n'), std::string::npos);
      } else {
        EXPECT_EQ(p.h.dialogs.boxes[0].kind, BoxKind::Error);
        EXPECT_EQ(p.h.dialogs.boxes[0].text,
                  std::string("Caption\n\r") + (lang == Lang::English ? c.english : c.russian))
            << c.name;
      }
      EXPECT_EQ(p.log.lines, (std::vector<std::string>{"# ERROR: \"DevAccessCheck Error=" +
                                                       std::to_string(c.code) + "\""}))
          << c.name;
      EXPECT_TRUE(p.h.port.frames.empty()) << c.name;
    }
  }
}

TEST(Parameters, AccessPassesSilentlyForASupportedDevice) {
  ParameterHarness p;
  p.info.Board.HardwareRevision = 42;
  EXPECT_EQ(DeviceAccessCode(true, true, p.info), 0);
  EXPECT_TRUE(CheckDeviceAccess(p.context, "Caption", true));
  EXPECT_TRUE(CheckSettingsAccess(p.context, "Read Settings"));
  EXPECT_TRUE(p.h.dialogs.boxes.empty());
  EXPECT_TRUE(p.log.lines.empty());
}

TEST(Parameters, AccessBoxIsBuiltFromCaptionAndShowFlag) {
  ParameterHarness p;
  p.connection.manager.Connected = false;
  // Without caption and without message there is nothing to show and nothing is logged.
  EXPECT_FALSE(CheckDeviceAccess(p.context, "", false));
  EXPECT_TRUE(p.h.dialogs.boxes.empty());
  EXPECT_TRUE(p.log.lines.empty());
  EXPECT_FALSE(CheckDeviceAccess(p.context, "Only caption", false));
  EXPECT_FALSE(CheckSettingsAccess(p.context, "Read Settings"));
  EXPECT_FALSE(CheckSettingsAccess(p.context, ""));
  p.language.Set(Lang::Russian);
  EXPECT_FALSE(CheckSettingsAccess(p.context, "Чтение настроек"));
  ASSERT_EQ(p.h.dialogs.boxes.size(), 4u);
  const std::string none =
      "No device is connected: plug in the Dravion with its USB cable and "
      "wait until the status bar shows its serial number.";
  EXPECT_EQ(p.h.dialogs.boxes[0].text, none);
  EXPECT_EQ(p.h.dialogs.boxes[1].text, none);
  EXPECT_EQ(p.h.dialogs.boxes[2].text, none);
  EXPECT_EQ(p.h.dialogs.boxes[3].text,
            "Прибор не подключён: подключите Dravion кабелем USB и дождитесь, пока в строке "
            "состояния появится его серийный номер.");
  EXPECT_EQ(p.log.Count("# ERROR: \"DevAccessCheck Error=1\""), 4);
}

}  // namespace
}  // namespace dravion
