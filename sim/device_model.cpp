#include "device_model.h"

#include "firmware/firmware_release.h"
#include "pack.h"
#include "protocol/device_records.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace dravion::sim {
namespace {

constexpr int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr int kRateWindow = 20;    // seconds of counts behind the dose rate
constexpr double kFactoryK = 127;  // calibration the counter's sensitivity is matched to
constexpr uint8_t kSectorHeader = 0x01;
constexpr uint8_t kPowerOn = 0x02;
constexpr uint8_t kAlarm = 0x03;
constexpr uint8_t kOnTime = 0xFE;
constexpr uint8_t kOnChange = 0xFC;
constexpr uint32_t kMaxAnswerData = 246;

int DaysIn(int month, int year) {
  if (month < 1 || month > 12) return 0;
  return kMonthDays[month - 1] + (month == 2 && year % 4 == 0 ? 1 : 0);
}

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

struct ParameterRule {
  uint32_t fallback;
  uint32_t low;
  uint32_t high;
};

// Settings with their factory values and the range the device accepts.
const std::map<uint16_t, ParameterRule>& Settings() {
  static const std::map<uint16_t, ParameterRule> rules{
      {3, {0, 0, 1}},   {4, {127, 10, 999}}, {6, {0, 0, 3}},   {7, {8, 0, 15}},
      {8, {14, 0, 14}}, {9, {0, 0, 2}},      {13, {1, 0, 1}},  {14, {1, 0, 1}},
      {15, {1, 0, 1}},  {16, {1, 0, 3}},     {17, {3, 0, 60}}, {18, {10, 0, 60}},
      {19, {1, 0, 1}},  {20, {0, 0, 1}},     {21, {0, 0, 23}}, {22, {0, 0, 59}},
  };
  return rules;
}

bool ReadOnlyParameter(uint16_t number) {
  return number >= 0xC000 && number < 0xFF00;
}

}  // namespace

uint32_t SecondsFromTime(const uint8_t* r) {
  const int year = r[5];
  uint32_t days = 365u * year + (year + 3) / 4;
  for (int m = 1; m < r[4] && m <= 12; ++m)
    days += DaysIn(m, year);
  days += r[3] > 0 ? r[3] - 1 : 0;
  return days * 86400u + r[2] * 3600u + r[1] * 60u + r[0];
}

std::array<uint8_t, 7> TimeFromSeconds(uint32_t seconds) {
  std::array<uint8_t, 7> r{};
  r[0] = seconds % 60;
  r[1] = seconds / 60 % 60;
  r[2] = seconds / 3600 % 24;
  uint32_t days = seconds / 86400;
  r[6] = static_cast<uint8_t>((days + 5) % 7 + 1);  // 1 January 2000 was a Saturday
  int year = 0;
  for (;;) {
    const uint32_t length = year % 4 == 0 ? 366 : 365;
    if (days < length) break;
    days -= length;
    ++year;
  }
  int month = 1;
  while (days >= static_cast<uint32_t>(DaysIn(month, year)))
    days -= DaysIn(month++, year);
  r[3] = static_cast<uint8_t>(days + 1);
  r[4] = static_cast<uint8_t>(month);
  r[5] = static_cast<uint8_t>(year);
  return r;
}

bool TimeRecordValid(const uint8_t* r) {
  return r[0] < 60 && r[1] < 60 && r[2] < 24 && r[4] >= 1 && r[4] <= 12 && r[5] <= 99 &&
         r[3] >= 1 && r[3] <= DaysIn(r[4], r[5]);
}

DeviceModel::DeviceModel(const DeviceConfig& config)
    : config_(config),
      inBoot_(config.startInBoot),
      external_(map::kExternalFlashSize),
      program_(map::kProgramFlashBase, map::kProgramFlashSize, map::kProgramPage),
      ram_(map::kRamSize, 0),
      random_(config.seed),
      background_(config.background) {
  for (const auto& [number, rule] : Settings())
    parameters_[number] = rule.fallback;

  // The clock starts at the host's local time.
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const uint8_t record[7] = {static_cast<uint8_t>(local.tm_sec % 60),
                             static_cast<uint8_t>(local.tm_min),
                             static_cast<uint8_t>(local.tm_hour),
                             static_cast<uint8_t>(local.tm_mday),
                             static_cast<uint8_t>(local.tm_mon + 1),
                             static_cast<uint8_t>(std::clamp(local.tm_year - 100, 0, 99)),
                             0};
  clockSeconds_ = SecondsFromTime(record);
  clockBase_ = SteadyClock::now();

  BuildBootArea();
  program_.Track(map::kProgramAddress, map::kProgramImageSize);
  if (config.dataFlashValid) {
    const auto image = DataFlashImage();
    external_.Store(kDataFlashImageStart, image.data(), static_cast<uint32_t>(image.size()));
  }
  CheckDataFlash();

  counterTime_ = SteadyClock::now();
  const double cps = CountsPerSecond();
  for (int i = 0; i < kRateWindow; ++i) {
    window_.push_back(std::poisson_distribution<uint32_t>(cps)(random_));
  }
  AdvanceCounter();
  PrepareDoseText();
  GenerateHistory(config.historySize, config.historyStart, config.historyWrap);
}

void DeviceModel::BuildBootArea() {
  std::mt19937 code(0xB007);
  std::vector<uint8_t> boot(map::kBootLoaderSize);
  for (auto& b : boot)
    b = static_cast<uint8_t>(code());
  std::fill(boot.begin() + 0x1800, boot.end(), 0xFF);  // the boot loader's unused tail

  uint8_t* info = boot.data() + (map::kInfoAddress - map::kProgramFlashBase);
  std::fill(info, info + 48, 0xFF);
  StoreU16(info + 0, config_.chipCode);
  StoreU16(info + 2, map::kProgramFlashSize / 1024);
  StoreU16(info + 4, map::kRamSize / 1024);
  StoreU16(info + 6, map::kProgramPage);
  StoreU16(info + 8, 32);
  StoreU32(info + 10, map::kFactoryAddress);
  StoreU32(info + 14, map::kProgramAddress);
  StoreU32(info + 18, map::kProgramImageSize);
  StoreU32(info + 22, map::kUidAddress);
  StoreU32(info + 26, map::kExternalFlashSize);
  StoreU32(info + 30, map::kHistoryBase);

  uint8_t* inf1 = boot.data() + (map::kFactoryAddress - map::kProgramFlashBase);
  std::copy(config_.inf1.begin(), config_.inf1.end(), inf1);
  if (!config_.inf1KeepsSerial) std::copy(config_.serial.begin(), config_.serial.end(), inf1 + 9);
  program_.Store(map::kProgramFlashBase, boot.data(), static_cast<uint32_t>(boot.size()));

  if (!config_.programValid) {
    std::vector<uint8_t> erased(map::kProgramImageSize, 0xFF);
    program_.Store(map::kProgramAddress, erased.data(), map::kProgramImageSize);
    return;
  }
  std::vector<uint8_t> image(map::kProgramImageSize, 0xFF);
  StoreU32(image.data(), map::kStackPointer);
  StoreU32(image.data() + 4,
           config_.hardwareRevision == 42 ? map::kResetAddressRev42 : map::kResetAddressRev41);
  for (uint32_t i = 8; i < 0xC0; i += 4)
    StoreU32(image.data() + i, 0x0800B5C1 + i * 2);
  for (uint32_t i = 0xC0; i < 0xB800; ++i)
    image[i] = static_cast<uint8_t>(code());
  program_.Store(map::kProgramAddress, image.data(), map::kProgramImageSize);
}

double DeviceModel::CountsPerSecond() const {
  // Inverse of the device's conversion µR/h = cps × 36 × K / 172 at the factory calibration.
  return std::max(0.0, background_) * 100.0 * 172.0 / (36.0 * kFactoryK);
}

uint32_t DeviceModel::Seconds() const {
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::seconds>(SteadyClock::now() - clockBase_).count();
  return clockSeconds_ + static_cast<uint32_t>(elapsed);
}

uint16_t DeviceModel::MainVersion() const {
  if (inBoot_) return 0;
  return freshImage_ ? config_.releaseVersion : config_.mainVersion;
}

bool DeviceModel::ImageComplete() const {
  uint8_t vector[8];
  program_.Read(map::kProgramAddress, vector, 8);
  const uint32_t reset =
      config_.hardwareRevision == 42 ? map::kResetAddressRev42 : map::kResetAddressRev41;
  return LoadU32(vector) == map::kStackPointer && LoadU32(vector + 4) == reset &&
         program_.RewriteComplete();
}

// The main program reads its fonts, menus and texts through the layout of the data flash; it
// checks that layout with the rules the carried image is built by.
void DeviceModel::CheckDataFlash() {
  std::vector<uint8_t> image(kDataFlashImageSize);
  external_.Read(kDataFlashImageStart, image.data(), static_cast<uint32_t>(image.size()));
  dataFlashIntact_ = pack::CheckDataFlashImage(image).empty();
}

void DeviceModel::BecomeAnotherDevice() {
  for (uint8_t& b : config_.uid)
    b ^= 0x5A;
  for (uint8_t& b : config_.serial)
    b = static_cast<uint8_t>(b + 0x11);
  if (!config_.inf1KeepsSerial) {
    program_.Store(map::kFactoryAddress + 9, config_.serial.data(),
                   static_cast<uint32_t>(config_.serial.size()));
  }
}

void DeviceModel::Restart(bool toMain) {
  if (toMain && ImageComplete()) {
    if (program_.RewritePending()) {
      freshImage_ = true;
      program_.EndRewrite();
    }
    inBoot_ = false;
    CheckDataFlash();
  } else {
    inBoot_ = true;
  }
  historyReading_ = false;
}

bool DeviceModel::Serves(uint8_t group, uint8_t code) const {
  const uint16_t boot = config_.bootVersion;
  if (group == 1) {
    switch (code) {
      case 0x00:
      case 0x01:
      case 0x02:
      case 0x05:
        return true;
      case 0x07:
        return !inBoot_ || boot >= 0x0200;
      case 0x0A:
        return boot >= 0x0400;
      case 0x06:
      case 0x0B:
      case 0x0C:
      case 0x0E:
      case 0x0F:
        return !inBoot_;
      default:
        return false;
    }
  }
  if (group == 2) return !inBoot_ && (code == 0x02 || code == 0x03 || code == 0x05);
  if (group == 3) {
    return code == ProgramWriteCode() || code == ProgramEraseCode();
  }
  return false;
}

// The boot loader writes its flash with 03/05; the main program with 06/07 when its boot loader
// is 2.0 or later and not of the 5.x line, else with 03/05 as well.
bool DeviceModel::SecondProgramCodes() const {
  const uint16_t boot = config_.bootVersion;
  return !inBoot_ && boot >= 0x0200 && (boot >> 8) != 5;
}
uint8_t DeviceModel::ProgramWriteCode() const {
  return SecondProgramCodes() ? 0x06 : 0x03;
}
uint8_t DeviceModel::ProgramEraseCode() const {
  return SecondProgramCodes() ? 0x07 : 0x05;
}

void DeviceModel::ReadMemory(uint32_t address, uint8_t* out, uint32_t count) {
  bool counterRead = false;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t a = address + i;
    if (program_.Contains(a, 1)) {
      program_.Read(a, out + i, 1);
    } else if (a >= map::kRamBase && a - map::kRamBase < map::kRamSize) {
      if (!counterRead) AdvanceCounter();
      counterRead = true;
      out[i] = ram_[a - map::kRamBase];
    } else if (a >= map::kUidAddress && a - map::kUidAddress < config_.uid.size()) {
      out[i] = config_.uid[a - map::kUidAddress];
    } else {
      out[i] = 0;
    }
  }
}

uint32_t DeviceModel::Parameter(uint16_t number) {
  switch (number) {
    case 0xC001:
      return map::kRateAddress;
    case 0xC002:
      return map::kIndicatorAddress;
    case 0xC004:
      return map::kCountAddress;
    case 0xC015:
      return map::kDoseValueAddress;
    case 0xC016:
      return map::kDoseUnitAddress;
    case 0xC020:
      return (config_.historySectorSize & 0xFFFF) << 16 | 16u;  // sector size; record size
    case 0xC021:
      return (config_.historySectors & 0xFFFF) << 16 | (history_.count & 0xFFFF);
    case 0xC022:
      return history_.first << 16 | history_.last;
    case 0xC023:
      return historyReading_ ? 1u : 0u;
    case kCommandParameter:
      return 0;
    default:
      break;
  }
  const auto it = parameters_.find(number);
  return it == parameters_.end() ? 0 : it->second;
}

// A setting outside its range is refused: the device keeps (and echoes) its value.
uint32_t DeviceModel::KeepParameter(uint16_t number, uint32_t value) {
  if (number == kCommandParameter) {
    RunCommand(value);
    return value;
  }
  if (ReadOnlyParameter(number)) return Parameter(number);
  const auto& rules = Settings();
  const auto rule = rules.find(number);
  if (rule != rules.end() && (value < rule->second.low || value > rule->second.high)) {
    return Parameter(number);
  }
  if (number == 4) AdvanceCounter();  // counts so far belong to the old calibration
  parameters_[number] = value;
  return value;
}

void DeviceModel::RunCommand(uint32_t value) {
  switch (value) {
    case kHistoryReadStart:
      historyReading_ = true;
      break;
    case kHistoryReadEnd:
      historyReading_ = false;
      break;
    case kHistoryDelete:
      DeleteHistory();
      break;
    case kDoseReset:
      AdvanceCounter();
      doseMicroRoentgen_ = 0;
      doseCounts_ = 0;
      break;
    case kPrepareDoseText:
      PrepareDoseText();
      break;
    default:
      break;
  }
}

void DeviceModel::AdvanceCounter() {
  const auto now = SteadyClock::now();
  int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(now - counterTime_).count();
  if (seconds < 0) seconds = 0;
  counterTime_ += std::chrono::seconds(seconds);
  const double cps = CountsPerSecond();
  const double k = Parameter(4);
  const double microRoentgenPerCount = 36.0 * k / (172.0 * 3600.0);
  if (seconds > kRateWindow) {
    const uint64_t bulk = std::poisson_distribution<uint64_t>(
        cps * static_cast<double>(seconds - kRateWindow))(random_);
    doseCounts_ += bulk;
    doseMicroRoentgen_ += static_cast<double>(bulk) * microRoentgenPerCount;
    seconds = kRateWindow;
  }
  for (int64_t s = 0; s < seconds; ++s) {
    const uint32_t c = std::poisson_distribution<uint32_t>(cps)(random_);
    window_.push_back(c);
    if (window_.size() > static_cast<size_t>(kRateWindow)) window_.erase(window_.begin());
    doseCounts_ += c;
    doseMicroRoentgen_ += c * microRoentgenPerCount;
  }
  double sum = 0;
  for (uint32_t c : window_)
    sum += c;
  const double meanCps = window_.empty() ? 0 : sum / static_cast<double>(window_.size());
  const uint32_t rate = static_cast<uint32_t>(std::lround(meanCps * 36.0 * k / 172.0));
  const uint32_t cpm = static_cast<uint32_t>(std::lround(meanCps * 60.0));
  uint8_t* ram = ram_.data();
  StoreU32(ram + (map::kRateAddress - map::kRamBase), rate);
  StoreU32(ram + (map::kCountAddress - map::kRamBase), cpm << 1 | 1u);
  // The bar: 40 steps per decade of µR/h, 0 to 120.
  const int level = rate == 0 ? 0 : std::clamp(static_cast<int>(40 * std::log10(rate)), 0, 120);
  uint8_t* indicator = ram + (map::kIndicatorAddress - map::kRamBase);
  indicator[0] = rate > 120 ? 1 : 0;
  indicator[1] = 0;
  indicator[2] = static_cast<uint8_t>(level);
  indicator[3] = 0;
}

void DeviceModel::PrepareDoseText() {
  AdvanceCounter();
  char value[16] = {};
  const char* unit = "";
  const uint32_t units = Parameter(9);
  if (units == 2) {
    std::snprintf(value, sizeof value, "%llu",
                  static_cast<unsigned long long>(std::min<uint64_t>(doseCounts_, 999999999)));
    unit = "CNT";
  } else {
    // Sievert units show µSv (100 µR = 1 µSv), Roentgen units µR; larger values step up.
    double amount = units == 0 ? doseMicroRoentgen_ / 100.0 : doseMicroRoentgen_;
    const char* const* names;
    static const char* const kSievert[] = {"uSv", "mSv", "Sv"};
    static const char* const kRoentgen[] = {"uR", "mR", "R"};
    names = units == 0 ? kSievert : kRoentgen;
    int step = 0;
    while (amount >= 1000.0 && step < 2) {
      amount /= 1000.0;
      ++step;
    }
    std::snprintf(value, sizeof value, step == 0 ? "%.2f" : "%.3f", std::min(amount, 99999.0));
    unit = names[step];
  }
  uint8_t* valueText = ram_.data() + (map::kDoseValueAddress - map::kRamBase);
  uint8_t* unitText = ram_.data() + (map::kDoseUnitAddress - map::kRamBase);
  std::memset(valueText, 0, 10);
  std::memset(unitText, 0, 10);
  std::memcpy(valueText, value, std::min<size_t>(std::strlen(value), 9));
  std::memcpy(unitText, unit, std::min<size_t>(std::strlen(unit), 9));
}

// Records follow each other in time; the newest ends about now. Position 0 of every sector is a
// sector header; some records are power-on events after a gap of hours, a few are alarms.
void DeviceModel::GenerateHistory(uint32_t size, uint32_t start, bool wrap) {
  size = std::min(size, map::kHistorySlots);
  start %= map::kHistorySlots;
  if (wrap) {
    // A ring that has run round: the oldest sector follows the newest one.
    start -= start % 256;
    size = std::clamp<uint32_t>(size, map::kHistorySlots - 255, map::kHistorySlots - 1);
  }
  if (!config_.historyRecords.empty()) {
    // Given records, as they stand.
    size = std::min<uint32_t>(static_cast<uint32_t>(config_.historyRecords.size() / 16),
                              map::kHistorySlots);
    history_.first = start;
    history_.count = size;
    history_.last = (start + size - 1) % map::kHistorySlots;
    const uint32_t firstRun = std::min(size, map::kHistorySlots - start);
    external_.Store(map::kHistoryBase + start * 16, config_.historyRecords.data(), firstRun * 16);
    if (firstRun < size) {
      external_.Store(map::kHistoryBase, config_.historyRecords.data() + firstRun * 16,
                      (size - firstRun) * 16);
    }
    return;
  }
  history_.first = start;
  history_.count = size;
  history_.last = size == 0 ? start : (start + size - 1) % map::kHistorySlots;
  if (size == 0) return;

  std::mt19937 random(config_.seed * 7919u + 17u);
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  const double cps = CountsPerSecond();
  uint32_t end = Seconds() - 5;
  bool onChange = false;
  int eraLeft = 0;
  double burst = 1.0;
  int burstLeft = 0;
  std::vector<uint8_t> ring(static_cast<size_t>(size) * 16);
  for (uint32_t back = 0; back < size; ++back) {
    const uint32_t logical = size - 1 - back;
    const uint32_t physical = (start + logical) % map::kHistorySlots;
    uint8_t* r = ring.data() + static_cast<size_t>(logical) * 16;
    uint8_t kind;
    uint8_t status = 0;
    uint32_t duration = 0;
    uint32_t pulses = 0;
    if (physical % 256 == 0) {
      kind = kSectorHeader;
    } else if (chance(random) < 0.004) {
      kind = kPowerOn;  // the device was off before this: leave a gap of hours behind it
    } else if (chance(random) < 0.002) {
      kind = kAlarm;
    } else {
      if (eraLeft-- <= 0) {
        onChange = chance(random) < 0.3;
        eraLeft = 200 + static_cast<int>(chance(random) * 2000);
      }
      if (burstLeft-- <= 0) {
        burst = chance(random) < 0.05 ? 3.0 + chance(random) * 20.0 : 1.0;
        burstLeft = 5 + static_cast<int>(chance(random) * 40);
      }
      kind = onChange ? kOnChange : kOnTime;
      if (onChange) {
        const double u = chance(random);
        duration = u < 0.03 ? 0 : static_cast<uint32_t>(5 + u * u * 1800);
      } else {
        duration = 60;
      }
      status = chance(random) < 0.03 ? static_cast<uint8_t>(1 + chance(random) * 3) : 0;
      pulses =
          duration == 0 ? 0 : std::poisson_distribution<uint32_t>(cps * burst * duration)(random);
    }
    const uint32_t startTime = end - duration;
    r[0] = kind;
    r[1] = status;
    StoreU16(r + 2, logical);
    StoreU32(r + 4, startTime);
    StoreU32(r + 8, pulses);
    StoreU16(r + 12, duration);
    uint32_t sum = 0;
    for (int i = 0; i < 14; ++i)
      sum += r[i];
    StoreU16(r + 14, sum);
    end = startTime;
    if (kind == kPowerOn) end -= 3600 + static_cast<uint32_t>(chance(random) * 11 * 3600);
  }
  // Lay the records out in the ring, which may run across its physical end.
  const uint32_t firstRun = std::min(size, map::kHistorySlots - start);
  external_.Store(map::kHistoryBase + start * 16, ring.data(), firstRun * 16);
  if (firstRun < size) {
    external_.Store(map::kHistoryBase, ring.data() + firstRun * 16, (size - firstRun) * 16);
  }
}

void DeviceModel::AddHistoryRecords(uint32_t count, uint32_t from) {
  uint8_t r[16];
  uint32_t t = from;
  if (t == 0 && history_.count > 0) {
    external_.Read(map::kHistoryBase + history_.last * 16, r, 16);
    t = LoadU32(r + 4) + LoadU16(r + 12);
  } else if (t == 0) {
    t = Seconds() - count * 60;
  }
  for (uint32_t q = 0; q < count; ++q) {
    const uint32_t slot =
        history_.count == 0 ? history_.first : (history_.last + 1) % map::kHistorySlots;
    if (slot % 256 == 0 && history_.count > 0 && slot / 256 == history_.first / 256) {
      // The ring is full: its oldest sector makes room.
      external_.EraseSector(map::kHistoryBase / map::kExternalSector + slot / 256);
      const uint32_t next = (slot + 256) % map::kHistorySlots;
      history_.count -= (next + map::kHistorySlots - history_.first) % map::kHistorySlots;
      history_.first = next;
    }
    const uint32_t serial = history_.count + q;
    uint8_t kind = kOnTime;
    uint32_t duration = 60;
    uint8_t status = 0;
    if (slot % 256 == 0) {
      kind = kSectorHeader;
      duration = 0;
    } else if (serial % 50 == 17) {
      kind = kOnChange;  // a change, in the same second as the next record
      duration = 0;
    } else if (serial % 131 == 9) {
      status = 2;
    }
    std::memset(r, 0, sizeof r);
    r[0] = kind;
    r[1] = status;
    StoreU16(r + 2, static_cast<uint16_t>(serial));
    StoreU32(r + 4, t);
    StoreU32(r + 8, duration == 0 ? serial % 3 : 15 + (serial * 7919u) % 23);
    StoreU16(r + 12, static_cast<uint16_t>(duration));
    uint32_t sum = 0;
    for (int i = 0; i < 14; ++i)
      sum += r[i];
    StoreU16(r + 14, static_cast<uint16_t>(sum));
    external_.Store(map::kHistoryBase + slot * 16, r, 16);
    history_.last = slot;
    ++history_.count;
    t += duration;
  }
  // The clock went on with the records (or was set back with them).
  if (count > 0) SetSeconds(t + 5);
}

void DeviceModel::SetHistoryRecord(uint32_t physical, const std::array<uint8_t, 16>& bytes) {
  external_.Store(map::kHistoryBase + (physical % map::kHistorySlots) * 16, bytes.data(), 16);
}

void DeviceModel::DeleteHistory() {
  for (uint32_t s = 0; s < map::kHistorySlots / 256; ++s) {
    external_.EraseSector(map::kHistoryBase / map::kExternalSector + s);
  }
  history_ = {};
}

Outcome DeviceModel::Handle(uint8_t group, uint8_t code, const uint8_t* p, int n,
                            Counters& counters) {
  Outcome out;
  if (!Serves(group, code)) return out;
  const auto addressEcho = [&](uint32_t address, uint8_t count) {
    Put32(out.data, address);
    out.data.push_back(count);
  };
  const uint16_t key = CommandKey(group, code);
  if (key == CommandKey(1, 0x00)) {
    if (n < 1) return out;
    out.data.assign(p, p + std::min(n, 32));
    out.data.push_back(inBoot_ ? 0 : 1);
  } else if (key == CommandKey(1, 0x01)) {
    Put16(out.data, config_.bootVersion);
    Put16(out.data, MainVersion());
    Put32(out.data, map::kInfoAddress);
  } else if (key == CommandKey(1, 0x02) || key == CommandKey(2, 0x02)) {
    if (n < 5) return out;
    const uint32_t address = LoadU32(p);
    uint32_t count = std::min<uint32_t>(p[4], kMaxAnswerData - 5);
    std::vector<uint8_t> bytes(count);
    if (group == 1) {
      ReadMemory(address, bytes.data(), count);
    } else {
      // Nothing lies beyond the end of the chip.
      count = address >= external_.Size() ? 0 : std::min(count, external_.Size() - address);
      bytes.resize(count);
      external_.Read(address, bytes.data(), count);
    }
    addressEcho(address, static_cast<uint8_t>(count));
    out.data.insert(out.data.end(), bytes.begin(), bytes.end());
  } else if (key == CommandKey(1, 0x05)) {
    if (n < 2) return out;
    const uint32_t mode = LoadU16(p);
    Put16(out.data, mode);
    if (mode == 3) out.after = AfterAnswer::RestartBoot;
    if (mode == 2) out.after = AfterAnswer::RestartMain;
  } else if (key == CommandKey(1, 0x06) || key == CommandKey(1, 0x07)) {
    std::string text;
    for (int i = 0; i < n && p[i] != 0; ++i)
      text.push_back(static_cast<char>(p[i]));
    if (code == 0x06) {
      out.hasConnection = true;
      out.screenConnection = text;
    } else {
      out.hasPrint = true;
      out.screenPrint = text;
    }
  } else if (key == CommandKey(1, 0x0A)) {
    Put16(out.data, config_.model);
    out.data.push_back(config_.hardwareRevision);
    out.data.push_back(config_.subRevision);
  } else if (key == CommandKey(1, 0x0B)) {
    if (n < 6) return out;
    uint8_t record[7] = {};
    std::copy(p, p + std::min(n, 7), record);
    // The seventh byte (weekday) is derived from the date; an impossible date is refused and
    // the clock keeps running.
    if (TimeRecordValid(record)) {
      clockSeconds_ = SecondsFromTime(record);
      clockBase_ = SteadyClock::now();
      clockBytes_.reset();
    }
  } else if (key == CommandKey(1, 0x0C)) {
    const auto record = clockBytes_ ? *clockBytes_ : TimeFromSeconds(Seconds());
    out.data.assign(record.begin(), record.end());
    if (config_.timeAnswerLength >= 8) out.data.push_back(0);
  } else if (key == CommandKey(1, 0x0E) || key == CommandKey(1, 0x0F)) {
    if (n < 2 || (code == 0x0F && n < 6)) return out;
    const uint16_t number = static_cast<uint16_t>(LoadU16(p));
    const uint32_t value = code == 0x0E ? Parameter(number) : KeepParameter(number, LoadU32(p + 2));
    Put16(out.data, number);
    Put32(out.data, value);
    if (config_.parameterAnswerLength >= 22) out.data.resize(22, 0);
  } else if (key == CommandKey(2, 0x03) || key == CommandKey(3, ProgramWriteCode())) {
    if (n < 5) return out;
    const uint32_t address = LoadU32(p);
    const uint32_t count = p[4];
    const bool shaped = count >= 1 && count <= 128 && static_cast<uint32_t>(n - 5) == count;
    if (group == 2) {
      if (!shaped || address >= external_.Size()) {
        addressEcho(address, 0);  // refused: the count echo does not match
        return out.answer = true, out;
      }
      ++counters.externalWrites;
      if (external_.Program(address, p + 5, count)) ++counters.externalUnerasedWrites;
    } else {
      if (!shaped || address < map::kProgramAddress || !program_.Contains(address, count)) {
        ++counters.protectedWrites;
        addressEcho(address, 0);
        return out.answer = true, out;
      }
      ++counters.programWrites;
      if (program_.Program(address, p + 5, count)) ++counters.programUnerasedWrites;
    }
    addressEcho(address, static_cast<uint8_t>(count));
  } else if (key == CommandKey(2, 0x05)) {
    if (n < 4) return out;
    const uint32_t address = LoadU32(p);
    if (address >= external_.Size()) return out;
    external_.EraseSector(address / map::kExternalSector);
    ++counters.externalErases;
    Put32(out.data, address);
  } else if (key == CommandKey(3, ProgramEraseCode())) {
    if (n < 4) return out;
    const uint32_t address = LoadU32(p);
    // The boot loader's own pages are never erased.
    if (address < map::kProgramAddress || !program_.Contains(address, 1)) {
      ++counters.protectedWrites;
      return out;
    }
    program_.ErasePage(address);
    ++counters.programErases;
    Put32(out.data, address);
  } else {
    return out;
  }
  out.answer = true;
  return out;
}

}  // namespace dravion::sim
