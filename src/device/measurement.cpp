#include "device/measurement.h"

#include <algorithm>

#include "connection/connection_manager.h"
#include "device/device_context.h"
#include "device/parameters.h"
#include "device/value_tables.h"
#include "protocol/commands.h"
#include "protocol/device_format.h"
#include "protocol/device_records.h"
#include "protocol/identification.h"
#include "services/clock.h"
#include "services/dialogs.h"
#include "services/event_pump.h"
#include "services/language.h"
#include "services/text_encoding.h"

namespace dravion {

std::string RateValueText(uint32_t units, uint32_t word) {
  switch (units) {
    case kUnitSievert: {
      const uint32_t hundredths = word % 100;
      return std::to_string(word / 100) + "," + (hundredths < 10 ? "0" : "") +
             std::to_string(hundredths);
    }
    case kUnitRoentgen:
      return std::to_string(word);
    case kUnitCounts:
      return std::to_string(word >> 1);
    default:
      return {};
  }
}

double RateValue(uint32_t units, uint32_t word) {
  switch (units) {
    case kUnitSievert:
      return word / 100.0;
    case kUnitCounts:
      return static_cast<double>(word >> 1);
    default:
      return static_cast<double>(word);
  }
}

std::string RateUnitCode(uint32_t units) {
  Language english;
  english.Set(Lang::English);
  return RateUnitTextFor(units, english);
}

std::string RateUnitTextFor(uint32_t units, const Language& language) {
  const int unit =
      units == kUnitSievert || units == kUnitRoentgen ? static_cast<int>(units) : kUnitCounts;
  return RateUnitName(unit, kLevelMicro, language);
}

std::optional<double> DeviceNumber(const std::string& text) {
  size_t i = text.find_first_not_of(' ');
  const size_t end = text.find_last_not_of(' ') + 1;
  if (i == std::string::npos) return std::nullopt;
  bool negative = false;
  if (text[i] == '-' || text[i] == '+') negative = text[i++] == '-';
  // Up to 15 digits fit a double exactly; one division by a power of ten rounds once.
  long long digits = 0;
  int count = 0;
  int decimals = -1;  // -1: no separator seen
  for (; i < end; ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      if (++count > 15) return std::nullopt;
      digits = digits * 10 + (c - '0');
      if (decimals >= 0) ++decimals;
    } else if ((c == ',' || c == '.') && decimals < 0) {
      decimals = 0;
    } else {
      return std::nullopt;
    }
  }
  if (count == 0) return std::nullopt;
  double value = static_cast<double>(digits);
  double scale = 1;
  for (int d = 0; d < decimals; ++d)
    scale *= 10;
  value /= scale;
  return negative ? -value : value;
}

std::string DeviceText(const uint8_t* bytes, size_t size) {
  const uint8_t* end = std::find(bytes, bytes + size, uint8_t{0});
  return Cp1251ToUtf8(std::string(bytes, end));
}

MeasurementController::MeasurementController(DeviceContext& context, MeasurementView& view)
    : context_(context), view_(view) {}

bool MeasurementController::CheckMeasurementAccess() {
  if (!context_.connection.Connected || !context_.connection.Identified) return false;
  const uint16_t mainVersion = context_.device.Soft.MainVersion;
  if (mainVersion == 0) {
    view_.ShowVersionMessage(context_.language.Text("В режиме\n\rBOOT\n\rнедоступно",
                                                    "In BOOT\n\rMode is\n\rUnavailable"));
    return false;
  }
  if (mainVersion < kAccessMainVersion) {
    view_.ShowVersionMessage(
        context_.language.Text("Обновите\n\rпрошивку\n\rприбора", "Need\n\rto Update\n\rFirmware"));
    return false;
  }
  view_.ShowVersionMessage({});
  return true;
}

bool MeasurementController::LoadMeasurementAddresses() {
  if (!CheckMeasurementAccess()) return false;
  const std::pair<uint16_t, uint32_t*> addresses[] = {
      {param::kRateAddress, &RateAddress},         {param::kCountAddress, &CountAddress},
      {param::kIndicatorAddress, &LevelAddress},   {param::kDoseValueAddress, &DoseValueAddress},
      {param::kDoseUnitAddress, &DoseUnitAddress},
  };
  for (const auto& [number, address] : addresses) {
    if (*address == 0 && !GetParameter(context_, number, address)) return false;
  }
  uint32_t units = 0;
  if (!GetParameter(context_, param::kUnits, &units)) return false;
  Units = units & 0xFF;
  RateUnitText = RateUnitTextFor(Units, context_.language);
  return true;
}

void MeasurementController::ForgetMeasurementAddresses() {
  RateAddress = 0;
  CountAddress = 0;
  LevelAddress = 0;
  DoseValueAddress = 0;
  DoseUnitAddress = 0;
  DoseValueText[0] = 0;
  DoseUnitText[0] = 0;
}

bool MeasurementController::ReadRate(uint32_t& value) {
  if (!LoadMeasurementAddresses()) return false;
  uint8_t word[4] = {};
  const uint32_t address =
      Units == kUnitSievert || Units == kUnitRoentgen ? RateAddress : CountAddress;
  if (context_.commands.ReadMemory(address, word, 4, false) != 4) return false;
  value = LoadU32(word);
  view_.ShowRate(RateValueText(Units, value) + " " + RateUnitText);
  uint8_t level = 0;
  if (context_.commands.ReadMemory(LevelAddress + kLevelOffset, &level, 1, false) != 1)
    return false;
  LastLevel = level;
  view_.ShowLevel(std::min<int>(level, kLevelMax));
  RateIndicatorLit = !RateIndicatorLit;
  view_.ShowRateIndicator(RateIndicatorLit);
  return true;
}

bool MeasurementController::ReadCountRate(double& cpm) {
  if (CountAddress == 0) return false;
  uint8_t word[4] = {};
  if (context_.commands.ReadMemory(CountAddress, word, 4, false) != 4) return false;
  cpm = RateValue(kUnitCounts, LoadU32(word));
  return true;
}

bool MeasurementController::ReadDose() {
  std::array<uint8_t, kDoseTextSize> value{};
  std::array<uint8_t, kDoseTextSize> unit{};
  const int size = static_cast<int>(kDoseTextSize);
  if (!SetParameter(context_, param::CommandParameter, PrepareDoseText) ||
      context_.commands.ReadMemory(DoseValueAddress, value.data(), size, false) != size ||
      context_.commands.ReadMemory(DoseUnitAddress, unit.data(), size, false) != size) {
    view_.ShowDose(kMeasureDashes);
    // The dose shown before is not this reading's: no later reading carries it either.
    DoseValueText[0] = 0;
    DoseUnitText[0] = 0;
    return false;
  }
  DoseValueText = value;
  DoseUnitText = unit;
  view_.ShowDose(DoseValueShown() + " " + DoseUnitShown());
  DoseIndicatorLit = !DoseIndicatorLit;
  view_.ShowDoseIndicator(DoseIndicatorLit);
  return true;
}

bool MeasurementController::ReadMeasurement(bool withDose) {
  uint32_t word = 0;
  if (!ReadRate(word)) {
    view_.ShowRate(kMeasureDashes);
    view_.ShowLevel(0);
    Report(false, 0);
    return false;
  }
  // A reading whose dose was asked for and not read is a failed one for its listeners too.
  const bool ok = !withDose || ReadDose();
  Report(ok, word);
  return ok;
}

void MeasurementController::Report(bool ok, uint32_t word) {
  if (listeners_.empty()) return;
  // Unit settings beyond the three known ones show no number, so they give no reading either.
  if (ok && Units > kUnitCounts) return;
  MeasurementReading reading;
  if (ok) {
    reading.time = context_.clock.Now();
    reading.tick = context_.clock.TickMs();
    reading.units = Units;
    reading.rate = RateValue(Units, word);
    reading.rateUnit = RateUnitCode(Units);
    reading.level = std::min<int>(LastLevel, kLevelMax);
    reading.dose = DoseValueShown();
    reading.doseUnit = DoseUnitShown();
    reading.device = FormatUid(context_.device.Uid);
    reading.serial = FormatSerial(SerialBytes(context_.device.Factory), "-");
  }
  // A copy: a listener may remove itself.
  for (ReadingListener* listener : std::vector<ReadingListener*>(listeners_)) {
    if (ok)
      listener->OnReading(reading);
    else
      listener->OnReadingFailed();
  }
}

void MeasurementController::AddListener(ReadingListener* listener) {
  if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end())
    listeners_.push_back(listener);
}

void MeasurementController::RemoveListener(ReadingListener* listener) {
  listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

std::string MeasurementController::DoseValueShown() const {
  return DeviceText(DoseValueText.data(), DoseValueText.size());
}

std::string MeasurementController::DoseUnitShown() const {
  return DeviceText(DoseUnitText.data(), DoseUnitText.size());
}

void MeasurementController::Blank() {
  view_.ShowRate(kMeasureDashes);
  view_.ShowDose(kMeasureDashes);
  view_.ShowLevel(0);
  RateIndicatorLit = false;
  DoseIndicatorLit = false;
  view_.ShowRateIndicator(false);
  view_.ShowDoseIndicator(false);
}

void MeasurementController::MeasurementTick() {
  if (DoseResetRequest > 0) {
    DoseResetRequest = SetParameter(context_, param::CommandParameter, DoseReset) ? 0 : -1;
    ReadCount = 0;
    // The dose reset handler sleeps in the event pump until this outcome arrives.
    context_.pump.Wake();
  }
  const uint32_t now = context_.clock.TickMs();
  switch (AutoReadState) {
    case AutoRead::Blank:
      Blank();
      AutoReadState = AutoRead::Armed;
      break;
    case AutoRead::Armed:
      if (view_.PageActive() && view_.AutoReadChecked()) {
        // The first reading comes a second after the usual spacing.
        LastReadTick = now + kAutoReadSpacingMs;
        ReadCount = 0;
        ForgetMeasurementAddresses();
        AutoReadState = AutoRead::Running;
      }
      break;
    case AutoRead::Running:
      if (!view_.PageActive() || !view_.AutoReadChecked()) {
        AutoReadState = AutoRead::Blank;
        break;
      }
      // Signed: LastReadTick lies in the future right after arming.
      if (static_cast<int32_t>(now - LastReadTick) < static_cast<int32_t>(kAutoReadSpacingMs))
        break;
      LastReadTick = now;
      if (!ReadMeasurement(ReadCount == 0)) {
        AutoReadState = AutoRead::Blank;
        break;
      }
      if (++ReadCount >= kDoseReadEvery) ReadCount = 0;
      break;
  }
}

bool MeasurementController::OnReadClicked() {
  if (!RequireConnectedDevice(context_)) return false;
  return ReadNow();
}

bool MeasurementController::ReadNow() {
  const bool enabled = view_.ReadEnabled();
  // No link test may come between the reading's requests.
  DeviceOperation operation(context_);
  view_.SetReadEnabled(false);
  const bool ok = ReadMeasurement(true);
  view_.SetReadEnabled(enabled);
  return ok;
}

void MeasurementController::OnAutoReadClicked() {
  view_.SetReadEnabled(!view_.AutoReadChecked());
}

bool MeasurementController::OnDoseResetClicked() {
  // Nothing to ask about without a device.
  if (!RequireConnectedDevice(context_)) return false;
  context_.frame.SetPagesEnabled(false);
  bool reset = false;
  const bool yes = context_.dialogs.Ask(
      QuestionKind::Warning, context_.language.Text("СБРОС НАКОПЛЕННОЙ ДОЗЫ\n\rПродолжить?",
                                                    "RESET ACCUMULATED DOSE\n\rContinue?"));
  if (yes) {
    if (CheckMeasurementAccess()) {
      DoseResetRequest = 1;
      const uint32_t start = context_.clock.TickMs();
      while (DoseResetRequest > 0 &&
             TicksSince(start, context_.clock.TickMs()) < kDoseResetWaitMs) {
        context_.pump.ProcessEvents(start + kDoseResetWaitMs);
      }
      if (DoseResetRequest > 0)
        DoseResetRequest = 0;  // the heartbeat never came: withdrawn
      else
        reset = DoseResetRequest == 0;
    }
    if (reset) {
      context_.dialogs.ShowMessage(
          BoxKind::Information,
          context_.language.Text("Накопленная доза\n\rСброшена", "Accumulated Dose\nReset"));
    } else {
      context_.dialogs.ShowMessage(BoxKind::Error,
                                   context_.language.Text("Ошибка сброса накопленной дозы",
                                                          "Error Resetting Accumulated Dose"));
    }
  }
  context_.frame.SetPagesEnabled(true);
  return reset;
}

}  // namespace dravion
