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

}  // namespace

int ArchiveCompare(CliSession& s) {
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
  HistoryArchive archive;
  if (!OpenArchive(s, archive)) return kExitFailed;
  std::optional<ArchiveDevice> device = ChosenDevice(s, archive);
  if (device) device = ChosenRun(s, archive, *device);
  if (!device) return kExitFailed;
  const std::optional<ArchiveDevice> withDevice = SecondDevice(s, archive, *device);
  if (!withDevice) return kExitFailed;

  // The first period: the dates given, else the device's records; the second: its own dates,
  // else the first's.
  Side first, second;
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
  // Both periods' figures from one picture of the archive; each of the run chosen alone.
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
  const double confidence = o.confidence;
  const RateComparison c =
      CompareRates(first.Counts().Pulses(), first.Counts().Exposure(), second.Counts().Pulses(),
                   second.Counts().Exposure(), confidence);
  if (!c.Valid) {
    s.io.err << s.language.Text("Ни в одном из периодов не сосчитано ни одного импульса",
                                "Neither period counted a pulse")
             << '\n';
    return kExitFailed;
  }
  // Two devices side by side over the same time: what would make the first agree.
  const bool sideBySide =
      first.Device.Id != second.Device.Id && first.From == second.From && first.To == second.To;
  Calibration calibration;
  if (sideBySide) calibration = CalibrateAgainstDevice(first.Counts(), second.Counts(), confidence);

  const std::optional<DeviceAlarm> alarm = RememberedDeviceAlarm(archive, device->Serial);
  const FigureUnit unit = alarm ? alarm->Unit : FigureUnit::Sievert;
  const double coefficient = device->Coefficient / 100.0;
  if (o.json) {
    Language english;
    english.Set(Lang::English);
    Json out = {{"confidence", confidence},
                {"ratio", JsonRatio(c.Ratio)},
                {"ratioLow", JsonRatio(c.Range.Low)},
                {"ratioHigh", JsonRatio(c.Range.High)},
                {"p", c.P},
                {"different", c.Different},
                {"rateUnit", FigureRateUnit(unit, english)}};
    out["first"] = SideJson(first, unit, confidence);
    out["second"] = SideJson(second, unit, confidence);
    if (calibration.Valid) {
      out["calibration"] = {
          {"factor", JsonRatio(calibration.Factor)},
          {"factorLow", JsonRatio(calibration.Range.Low)},
          {"factorHigh", JsonRatio(calibration.Range.High)},
          {"coefficient", JsonRatio(coefficient * calibration.Factor)},
          {"secondsFor5Percent", JsonValue(std::ceil(calibration.SecondsFor5Percent))}};
    } else {
      out["calibration"] = Json();
    }
    PrintJson(s.io, out);
    return kExitDone;
  }

  const Language& l = s.language;
  const std::string rateUnit = FigureRateUnit(unit, l);
  auto rate = [&](double value) {
    return std::isfinite(value) ? FigureNumber(RateIn(unit, value), unit, l) : std::string("∞");
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
  for (const Side* side : {&first, &second}) {
    const Interval i = side->Figures.MeanInterval(confidence);
    text << "S/N " << side->Device.Serial << "  " << DeviceTimeText(side->From) << " - "
         << DeviceTimeText(side->To) << '\n';
    line(l.Text("Среднее:", "Mean:"), rate(side->Figures.MeanRate()) + " " + rateUnit + " (" +
                                          rate(i.Low) + l.Text(" – ", " to ") + rate(i.High) +
                                          "), " + GroupedNumber(side->Figures.CountedPulses(), l) +
                                          l.Text(" имп. за ", " pulses in ") +
                                          DurationText(side->Figures.Covered, l));
  }
  const std::string level = ShortestDecimal(100 * confidence) + "%";
  line(l.Text("Отношение:", "Ratio:"), ratio(c.Ratio) + " (" + ratio(c.Range.Low) +
                                           l.Text(" – ", " to ") + ratio(c.Range.High) + "; " +
                                           level + "), " + ProbabilityText(c.P, l));
  line(l.Text("Вывод:", "Verdict:"), Verdict(c, l));
  if (calibration.Valid) {
    line(l.Text("Калибровка:", "Calibration:"),
         "K " + DecimalText(coefficient, 2, l) + " x " + ratio(calibration.Factor) + " (" +
             ratio(calibration.Range.Low) + l.Text(" – ", " to ") + ratio(calibration.Range.High) +
             ") = " + DecimalText(coefficient * calibration.Factor, 2, l) +
             l.Text(": с ним S/N ", ": with it S/N ") + first.Device.Serial +
             l.Text(" показывал бы как S/N ", " would read as S/N ") + second.Device.Serial);
    line(l.Text("Для ±5%:", "For ±5%:"),
         std::isfinite(calibration.SecondsFor5Percent)
             ? DurationText(static_cast<uint64_t>(std::ceil(calibration.SecondsFor5Percent)), l) +
                   l.Text(" счёта рядом", " of counting side by side")
             : l.Text("недостижимо", "out of reach"));
  }
  s.io.out << TerminalText(text.str());
  return kExitDone;
}

}  // namespace dravion::cli
