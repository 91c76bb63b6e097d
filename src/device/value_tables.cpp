#include "device/value_tables.h"

#include <array>

namespace dravion {
namespace {

struct NamePair {
  std::string russian;
  std::string english;
};

using NameTable = std::array<std::array<NamePair, 3>, 3>;  // [level][unit]

const NameTable kRateNames = {{
    {{{"мкЗв/ч", "uSv/h"}, {"мкР/ч", "uR/h"}, {"CPM", "CPM"}}},
    {{{"мЗв/ч", "mSv/h"}, {" мР/ч", "mR/h"}, {"CPM", "CPM"}}},
    {{{"Зв/ч", "Sv/h"}, {"  Р/ч", "R/h"}, {"CPM", "CPM"}}},
}};

const NameTable kDoseNames = {{
    {{{"мкЗв", "uSv"}, {"мкР", "uR"}, {"ИМП", "PULSES"}}},
    {{{"мЗв", "mSv"}, {" мР", "mR"}, {"ИМП", "PULSES*E3"}}},
    {{{"Зв", "Sv"}, {"  Р", "R"}, {"ИМП", "PULSES*E6"}}},
}};

// Threshold lists as written: one row per position, one column per unit; each leading "-"
// raises the prefix level by one.
const char* const kBackgroundWritten[kBackgroundThresholdCount][3] = {
    {"0,3", "30", "60"},   {"0,4", "40", "80"},   {"0,5", "50", "100"},  {"0,6", "60", "120"},
    {"0,7", "70", "140"},  {"0,8", "80", "160"},  {"0,9", "90", "180"},  {"1,0", "100", "200"},
    {"1,2", "120", "240"}, {"1,5", "150", "300"}, {"2,0", "200", "400"}, {"5,0", "500", "1000"},
    {"10", "-1", "2000"},  {"30", "-3", "6000"},  {"60", "-6", "12000"}, {"100", "-10", "20000"},
};

const char* const kDoseWritten[kDoseThresholdCount][3] = {
    {"-0,01", "-1,0", "100e3"},  {"-0,05", "-5,0", "500e3"},  {"-0,1", "-10", "1e6"},
    {"-0,5", "-50", "5e6"},      {"-1,0", "-100", "10e6"},    {"-5,0", "-500", "50e6"},
    {"-10,0", "--1,0", "100e6"}, {"-50,0", "--5,0", "500e6"}, {"--0,1", "--10", "1e9"},
    {"--0,5", "--50", "5e9"},    {"--1,0", "--100", "10e9"},  {"--5,0", "--500", "50e9"},
    {"--10", "--1000", "100e9"}, {"--50", "--5000", "500e9"}, {"--100", "--10000", "1e12"},
};

int ClampUnit(int unit) {
  return unit < 0 ? 0 : (unit > 2 ? 2 : unit);
}
int ZeroOutside(int value) {
  return value < 0 || value > 2 ? 0 : value;
}

ThresholdEntry Parse(const char* written) {
  ThresholdEntry entry;
  std::string text = written;
  size_t minus = 0;
  while (minus < text.size() && text[minus] == '-')
    ++minus;
  entry.level = static_cast<int>(minus);
  entry.number = text.substr(minus);
  return entry;
}

template <size_t N>
std::array<std::vector<ThresholdEntry>, 3> BuildTables(const char* const (&written)[N][3]) {
  std::array<std::vector<ThresholdEntry>, 3> tables;
  for (int unit = 0; unit < 3; ++unit) {
    for (size_t position = 0; position < N; ++position)
      tables[unit].push_back(Parse(written[position][unit]));
  }
  return tables;
}

std::string PickName(const NameTable& table, int unit, int level, const Language& language) {
  const NamePair& pair = table[ZeroOutside(level)][ZeroOutside(unit)];
  return language.Text(pair.russian, pair.english);
}

std::vector<std::string> Items(const std::vector<ThresholdEntry>& entries, int unit,
                               const Language& language,
                               std::string (*name)(int, int, const Language&)) {
  std::vector<std::string> items;
  items.reserve(entries.size());
  for (const ThresholdEntry& entry : entries)
    items.push_back(entry.number + " " + name(unit, entry.level, language));
  return items;
}

}  // namespace

std::string RateUnitName(int unit, int level, const Language& language) {
  return PickName(kRateNames, unit, level, language);
}

std::string DoseUnitName(int unit, int level, const Language& language) {
  return PickName(kDoseNames, unit, level, language);
}

const std::vector<ThresholdEntry>& BackgroundThresholds(int unit) {
  static const auto tables = BuildTables(kBackgroundWritten);
  return tables[ClampUnit(unit)];
}

const std::vector<ThresholdEntry>& DoseThresholds(int unit) {
  static const auto tables = BuildTables(kDoseWritten);
  return tables[ClampUnit(unit)];
}

int ThresholdUnit::Resolve(int unit) {
  if (unit < 0) return remembered_;
  remembered_ = unit > 2 ? 2 : unit;
  return remembered_;
}

std::vector<std::string> BackgroundThresholdItems(int unit, const Language& language) {
  unit = ClampUnit(unit);
  return Items(BackgroundThresholds(unit), unit, language, &RateUnitName);
}

std::vector<std::string> DoseThresholdItems(int unit, const Language& language) {
  unit = ClampUnit(unit);
  return Items(DoseThresholds(unit), unit, language, &DoseUnitName);
}

}  // namespace dravion
