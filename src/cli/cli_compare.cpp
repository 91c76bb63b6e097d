#include <algorithm>
#include <cmath>
#include <ostream>
#include <sstream>

#include "archive/archive_session.h"
#include "archive/archive_stats.h"
#include "archive/history_archive.h"
#include "cli/cli_archive_common.h"
#include "cli/cli_json.h"
#include "cli/cli_pages.h"
#include "cli/cli_services.h"
#include "cli/cli_session.h"
#include "services/number_text.h"
#include "services/wording.h"
#include "stats/counting_statistics.h"

namespace dravion::cli {
namespace {

// One side of the comparison: a device's records of a period, its figures with their counts.
struct Side {
  ArchiveDevice Device;
  uint32_t From = 0, To = 0;
  ArchiveFigures Figures;
  const PeriodCounts& Counts() const { return Figures.Counts; }
};

// A number as the figures are written: fixed decimals with the language's decimal separator,
// whatever the process locale.
std::string DecimalText(double value, int decimals, const Language& language) {
  std::string text = FixedDecimal(value, decimals);
  std::replace(text.begin(), text.end(), '.', DecimalSeparator(language));
  return text;
}

// A share in percent with `decimals` digits.
std::string PercentText(double percent, int decimals, const Language& language) {
  return DecimalText(percent, decimals, language) + "%";
}

std::string ProbabilityText(double p, const Language& language) {
  if (p < 0.0001) return "p < " + DecimalText(0.0001, 4, language);
  return "p = " + DecimalText(p, p < 0.01 ? 4 : 2, language);
}

// The comparison in plain words.
std::string Verdict(const RateComparison& c, const Language& language) {
  if (!c.Different)
    return language.Text("нет разницы, которую не объяснил бы шум счёта",
                         "no difference that counting noise does not explain");
  if (std::isinf(c.Ratio))
    return language.Text("выше: во втором периоде не сосчитано ни одного импульса",
                         "higher: the second period counted no pulse");
  const bool higher = c.Ratio > 1;
  // Higher by (ratio - 1), lower by (1 - ratio): the interval's ends in the same order.
  const double by = higher ? c.Ratio - 1 : 1 - c.Ratio;
  const double near = higher ? c.Range.Low - 1 : 1 - c.Range.High;
  const double far = higher ? c.Range.High - 1 : 1 - c.Range.Low;
  // Whole percents, or one decimal for all three when one lies below 10%.
  const int decimals = std::min(by, near) < 0.0995 ? 1 : 0;
  std::string text =
      higher ? language.Text("выше на ", "higher by ") : language.Text("ниже на ", "lower by ");
  text += PercentText(100 * by, decimals, language) + " (";
  if (std::isinf(far))
    text += PercentText(100 * near, decimals, language) + language.Text(" и более", " or more");
  else
    text += language.Text("от ", "") + PercentText(100 * near, decimals, language) +
            language.Text(" до ", " to ") + PercentText(100 * far, decimals, language);
  return text + ")";
}

// A number for JSON, or null when it is not finite.
Json JsonValue(double value) {
  return std::isfinite(value) ? Json(value) : Json();
}

// A rate for JSON in the unit: its decimals and two more.
Json JsonRate(double microRoentgenPerHour, FigureUnit unit) {
  if (!std::isfinite(microRoentgenPerHour)) return Json();
  const double scale = std::pow(10.0, FigureDecimals(unit) + 2);
  return std::round(RateIn(unit, microRoentgenPerHour) * scale) / scale;
}

// A ratio for JSON: five decimals.
Json JsonRatio(double value) {
  return std::isfinite(value) ? Json(std::round(value * 1e5) / 1e5) : Json();
}

Json SideJson(const Side& side, FigureUnit unit, double confidence) {
  const Interval rate = side.Figures.MeanInterval(confidence);
  Json out = {{"serial", side.Device.Serial},
              {"uid", side.Device.Uid},
              {"run", side.Device.Run},
              {"from", IsoDeviceTime(side.From)},
              {"to", IsoDeviceTime(side.To)},
              {"covered", side.Figures.Covered},
              {"counts", side.Figures.CountedPulses()}};
  out["mean"] = JsonRate(side.Figures.MeanRate(), unit);
  out["meanLow"] = JsonRate(rate.Low, unit);
  out["meanHigh"] = JsonRate(rate.High, unit);
  return out;
}

// The second side's device: --with-device chosen as --device is, else the first's.
std::optional<ArchiveDevice> SecondDevice(CliSession& s, HistoryArchive& archive,
                                          const ArchiveDevice& first) {
  if (s.options.withDevice.empty()) return first;
  std::optional<ArchiveDevice> device = ChosenDevice(s, archive, s.options.withDevice, "");
  if (device) device = ChosenRun(s, archive, *device);
  return device;
}

// From the device's first record to the end of its last.
void WholeSpan(const ArchiveDevice& device, uint32_t& from, uint32_t& to) {
  from = device.FirstStart;
  to = device.Records > 0 ? std::max(device.LastEnd, device.LastStart + 1) - 1 : device.FirstStart;
}

// What a comparison found, for the two ways of saying it.
struct Comparison {
  Side First, Second;
  RateComparison Rates;
  Calibration Calibrated;  // Valid for two devices side by side over the same time
  FigureUnit Unit = FigureUnit::Sievert;
  double Coefficient = 1;  // the first device's K
  double Confidence = 0.95;
};

// The two periods from the options: the first the dates given, else the device's records; the
// second its own dates, else the first's. kExitDone, or the status of what failed (said).
int ChooseSides(CliSession& s, HistoryArchive& archive, Side& first, Side& second) {
  const CliOptions& o = s.options;
  uint32_t from = 0, to = 0, withFrom = 0, withTo = 0;
  if ((!o.from.empty() && !ParseDay(o.from, false, from)) ||
      (!o.to.empty() && !ParseDay(o.to, true, to)) ||
      (!o.withFrom.empty() && !ParseDay(o.withFrom, false, withFrom)) ||
      (!o.withTo.empty() && !ParseDay(o.withTo, true, withTo))) {
    s.io.err << "dravion-cli: --from, --to, --with-from and --with-to take a date as YYYY-MM-DD "
                "(2000 to 2099)\n";
    return kExitUsage;
  }
  if (!OpenArchive(s, archive)) return kExitFailed;
  std::optional<ArchiveDevice> device = ChosenDevice(s, archive);
  if (device) device = ChosenRun(s, archive, *device);
  if (!device) return kExitFailed;
  const std::optional<ArchiveDevice> withDevice = SecondDevice(s, archive, *device);
  if (!withDevice) return kExitFailed;
  first.Device = *device;
  second.Device = *withDevice;
  WholeSpan(*device, first.From, first.To);
  if (!o.from.empty()) first.From = from;
  if (!o.to.empty()) first.To = to;
  second.From = o.withFrom.empty() ? first.From : withFrom;
  second.To = o.withTo.empty() ? first.To : withTo;
  if (first.To < first.From || second.To < second.From) {
    s.io.err << "dravion-cli: a period ends before it begins\n";
    return kExitUsage;
  }
  return kExitDone;
}

// Both periods' figures from one picture of the archive, each of the run chosen alone.
int ReadSides(CliSession& s, HistoryArchive& archive, Side& first, Side& second) {
  FigureRead read(archive);
  for (Side* side : {&first, &second}) {
    FigureRange range;
    range.Device = side->Device.Id;
    range.From = side->From;
    range.To = side->To;
    range.AllRuns = false;
    if (!read.Figures(range, side->Figures)) {
      AfterReadFailure(s, archive);
      return kExitFailed;
    }
    if (side->Counts().Empty()) {
      s.io.err << s.language.Text("Нет записей прибора ", "No records of S/N ")
               << side->Device.Serial << s.language.Text(" с ", " from ")
               << DeviceTimeText(side->From) << s.language.Text(" по ", " to ")
               << DeviceTimeText(side->To) << '\n';
      return kExitFailed;
    }
  }
  return kExitDone;
}

void PrintComparisonJson(CliSession& s, const Comparison& m) {
  Language english;
  english.Set(Lang::English);
  const RateComparison& c = m.Rates;
  Json out = {{"confidence", m.Confidence},
              {"ratio", JsonRatio(c.Ratio)},
              {"ratioLow", JsonRatio(c.Range.Low)},
              {"ratioHigh", JsonRatio(c.Range.High)},
              {"p", c.P},
              {"different", c.Different},
              {"rateUnit", FigureRateUnit(m.Unit, english)}};
  out["first"] = SideJson(m.First, m.Unit, m.Confidence);
  out["second"] = SideJson(m.Second, m.Unit, m.Confidence);
  const Calibration& k = m.Calibrated;
  if (k.Valid) {
    out["calibration"] = {{"factor", JsonRatio(k.Factor)},
                          {"factorLow", JsonRatio(k.Range.Low)},
                          {"factorHigh", JsonRatio(k.Range.High)},
                          {"coefficient", JsonRatio(m.Coefficient * k.Factor)},
                          {"secondsFor5Percent", JsonValue(std::ceil(k.SecondsFor5Percent))}};
  } else {
    out["calibration"] = Json();
  }
  PrintJson(s.io, out);
}

std::string ComparisonText(const Comparison& m, const Language& l) {
  const std::string rateUnit = FigureRateUnit(m.Unit, l);
  auto rate = [&](double value) {
    return std::isfinite(value) ? FigureNumber(RateIn(m.Unit, value), m.Unit, l) : std::string("∞");
  };
  auto ratio = [&](double value) {
    return std::isfinite(value) ? DecimalText(value, 3, l) : std::string("∞");
  };
  std::ostringstream text;
  auto line = [&](const std::string& label, const std::string& value) {
    // Values in one column: labels padded to 17 characters (UTF-8 counted as characters).
    const size_t width = static_cast<size_t>(
        std::count_if(label.begin(), label.end(), [](char ch) { return (ch & 0xC0) != 0x80; }));
    text << label << std::string(width < 17 ? 17 - width : 1, ' ') << value << '\n';
  };
  for (const Side* side : {&m.First, &m.Second}) {
    const Interval i = side->Figures.MeanInterval(m.Confidence);
    text << "S/N " << side->Device.Serial << "  " << DeviceTimeText(side->From) << " - "
         << DeviceTimeText(side->To) << '\n';
    line(l.Text("Среднее:", "Mean:"), rate(side->Figures.MeanRate()) + " " + rateUnit + " (" +
                                          rate(i.Low) + l.Text(" – ", " to ") + rate(i.High) +
                                          "), " + GroupedNumber(side->Figures.CountedPulses(), l) +
                                          l.Text(" имп. за ", " pulses in ") +
                                          DurationText(side->Figures.Covered, l));
  }
  const RateComparison& c = m.Rates;
  const std::string level = ShortestDecimal(100 * m.Confidence) + "%";
  line(l.Text("Отношение:", "Ratio:"), ratio(c.Ratio) + " (" + ratio(c.Range.Low) +
                                           l.Text(" – ", " to ") + ratio(c.Range.High) + "; " +
                                           level + "), " + ProbabilityText(c.P, l));
  line(l.Text("Вывод:", "Verdict:"), Verdict(c, l));
  const Calibration& k = m.Calibrated;
  if (k.Valid) {
    line(l.Text("Калибровка:", "Calibration:"),
         "K " + DecimalText(m.Coefficient, 2, l) + " x " + ratio(k.Factor) + " (" +
             ratio(k.Range.Low) + l.Text(" – ", " to ") + ratio(k.Range.High) +
             ") = " + DecimalText(m.Coefficient * k.Factor, 2, l) +
             l.Text(": с ним S/N ", ": with it S/N ") + m.First.Device.Serial +
             l.Text(" показывал бы как S/N ", " would read as S/N ") + m.Second.Device.Serial);
    line(l.Text("Для ±5%:", "For ±5%:"),
         std::isfinite(k.SecondsFor5Percent)
             ? DurationText(static_cast<uint64_t>(std::ceil(k.SecondsFor5Percent)), l) +
                   l.Text(" счёта рядом", " of counting side by side")
             : l.Text("недостижимо", "out of reach"));
  }
  return text.str();
}

}  // namespace

int ArchiveCompare(CliSession& s) {
  HistoryArchive archive;
  Comparison m;
  if (const int status = ChooseSides(s, archive, m.First, m.Second); status != kExitDone)
    return status;
  if (const int status = ReadSides(s, archive, m.First, m.Second); status != kExitDone)
    return status;
  m.Confidence = s.options.confidence;
  m.Rates = CompareRates(m.First.Counts().Pulses(), m.First.Counts().Exposure(),
                         m.Second.Counts().Pulses(), m.Second.Counts().Exposure(), m.Confidence);
  if (!m.Rates.Valid) {
    s.io.err << s.language.Text("Ни в одном из периодов не сосчитано ни одного импульса",
                                "Neither period counted a pulse")
             << '\n';
    return kExitFailed;
  }
  // Two devices side by side over the same time: what would make the first agree.
  if (m.First.Device.Id != m.Second.Device.Id && m.First.From == m.Second.From &&
      m.First.To == m.Second.To)
    m.Calibrated = CalibrateAgainstDevice(m.First.Counts(), m.Second.Counts(), m.Confidence);
  const std::optional<DeviceAlarm> alarm = RememberedDeviceAlarm(archive, m.First.Device.Serial);
  m.Unit = alarm ? alarm->Unit : FigureUnit::Sievert;
  m.Coefficient = m.First.Device.Coefficient / 100.0;
  if (s.options.json)
    PrintComparisonJson(s, m);
  else
    s.io.out << TerminalText(ComparisonText(m, s.language));
  return kExitDone;
}

}  // namespace dravion::cli
