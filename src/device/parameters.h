#pragma once

#include <cstdint>
#include <string>

namespace dravion {

class DeviceCommands;
class LogSink;
class DeviceInfo;
struct DeviceContext;

// Numbers of the device parameters the manager reads and writes. Settings hold the position of
// the chosen item in their list, or 0/1 for a check box.
namespace param {
inline constexpr uint16_t kSoundOff = 3;         // 0 sound on, 1 sound off
inline constexpr uint16_t kCalibration = 4;      // K x 100, 10 to 999
inline constexpr uint16_t kLanguage = 6;         // 0 Russian, 1 English, 2 Deutsch, 3 Polish
inline constexpr uint16_t kBackgroundLevel = 7;  // background threshold position, 0 to 15
inline constexpr uint16_t kDoseLevel = 8;        // accumulated-dose threshold position, 0 to 14
inline constexpr uint16_t kUnits = 9;            // 0 Sievert, 1 Roentgen, 2 counts
inline constexpr uint16_t kSensorClick = 13;     // 1 on
inline constexpr uint16_t kButtonClick = 14;
inline constexpr uint16_t kThresholdSound = 15;
inline constexpr uint16_t kBrightness = 16;     // 0 to 3 for brightness 1 to 4
inline constexpr uint16_t kScreenTimeOff = 17;  // 0 always on, else minutes 1 to 60
inline constexpr uint16_t kPowerTimeOff = 18;   // 0 always on, else minutes 1 to 60
inline constexpr uint16_t kHistoryMode = 19;    // 0 on time, 1 on change
inline constexpr uint16_t kAlarmOn = 20;
inline constexpr uint16_t kAlarmHour = 21;
inline constexpr uint16_t kAlarmMinute = 22;
// Device addresses of the measurement values.
inline constexpr uint16_t kRateAddress = 0xC001;       // dose-rate word (Sievert, Roentgen)
inline constexpr uint16_t kIndicatorAddress = 0xC002;  // rate-indicator block, level at byte 2
inline constexpr uint16_t kCountAddress = 0xC004;      // count-rate word (counts)
inline constexpr uint16_t kDoseValueAddress = 0xC015;  // accumulated-dose value text, 10 bytes
inline constexpr uint16_t kDoseUnitAddress = 0xC016;   // accumulated-dose unit text, 10 bytes
// The history ring description, two 16-bit halves each.
inline constexpr uint16_t kHistoryGeometry = 0xC020;
inline constexpr uint16_t kHistoryCount = 0xC021;
inline constexpr uint16_t kHistoryBounds = 0xC022;
inline constexpr uint16_t kHistoryState = 0xC023;
// Written only: each value written is a command.
inline constexpr uint16_t CommandParameter = 0xFF00;
}  // namespace param

// Values of param::CommandParameter.
inline constexpr uint32_t HistoryReadStart = 0xC0BA0010;
inline constexpr uint32_t HistoryReadEnd = 0xC0BA0011;
inline constexpr uint32_t HistoryDelete = 0xC0BA0012;
inline constexpr uint32_t DoseReset = 0xC0BA0020;
inline constexpr uint32_t PrepareDoseText = 0xC0BA0021;

// The oldest main program the device functions work with (the release the manager carries).
inline constexpr uint16_t kAccessMainVersion = 0x0C06;

// Reads a parameter silently and logs "Read PAR[0x0009(9)] : 0x0002(2)", or the error line
// "Read PAR[9]" with `value` set to 0. A null `value` fails at once without traffic.
bool GetParameter(DeviceCommands& commands, LogSink& log, uint16_t number, uint32_t* value);
bool GetParameter(DeviceContext& context, uint16_t number, uint32_t* value);
// Writes a parameter (a missing answer shows the command's own box) and logs
// "Write PAR[0x0009(9)] : 0x0002(2)" with the value requested, or the error line
// "Write PAR[9] : 0x2(2)". `show` false: no box for a missing answer.
bool SetParameter(DeviceCommands& commands, LogSink& log, uint16_t number, uint32_t value,
                  bool show = true);
bool SetParameter(DeviceContext& context, uint16_t number, uint32_t value, bool show = true);

// The first access test a device fails: 1 not connected, 2 not identified, 3 not model 740,
// 4 hardware revision neither 41 nor 42, 5 main program older than kAccessMainVersion (or the
// boot loader runs); 0 when every test passes.
int DeviceAccessCode(bool connected, bool identified, const DeviceInfo& device);
// The message of an access code in the interface language; empty for 0.
std::string DeviceAccessMessage(int code, bool russian);

// True when the device may be used. Otherwise shows the caption (followed by "\n\r" when not
// empty) and, with `show`, the code's message in an error box, logs "DevAccessCheck Error=<code>"
// when that text is not empty, and returns false.
bool CheckDeviceAccess(DeviceContext& context, const std::string& caption, bool show);
// CheckDeviceAccess with the message shown under the caption and "Error Settings Access".
bool CheckSettingsAccess(DeviceContext& context, const std::string& caption);

}  // namespace dravion
