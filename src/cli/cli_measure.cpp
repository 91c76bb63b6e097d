#include <ostream>

#include "cli/cli_json.h"
#include "cli/cli_pages.h"
#include "cli/cli_services.h"
#include "cli/cli_session.h"
#include "connection/connection_manager.h"
#include "device/measurement.h"
#include "device/reading_recorder.h"

namespace dravion::cli {
namespace {

// The measuring page on a terminal: the labels' texts are kept for printing. No automatic
// reading (the page is never the active one).
class TextMeasurementView : public MeasurementView {
 public:
  void ShowRate(const std::string& text) override { rate = text; }
  void ShowDose(const std::string& text) override { dose = text; }
  void ShowLevel(int position) override { level = position; }
  void ShowRateIndicator(bool) override {}
  void ShowDoseIndicator(bool) override {}
  void ShowVersionMessage(const std::string& text) override { versionMessage = text; }
  bool PageActive() override { return false; }
  bool AutoReadChecked() override { return false; }
  bool ReadEnabled() override { return readEnabled_; }
  void SetReadEnabled(bool enabled) override { readEnabled_ = enabled; }

  std::string rate;
  std::string dose;
  int level = 0;
  std::string versionMessage;

 private:
  bool readEnabled_ = true;
};

// "0,12 uSv/h" as value and unit.
std::pair<std::string, std::string> ValueAndUnit(const std::string& text) {
  const size_t space = text.find(' ');
  if (space == std::string::npos) return {text, {}};
  return {text.substr(0, space), text.substr(space + 1)};
}

// The measurement controller serving the heartbeat for the command's duration (the dose reset's
// command is sent by the heartbeat).
struct MeasurementHook {
  MeasurementHook(CliSession& s, MeasurementController& controller) : session(s) {
    s.core.manager.MeasurementTick = [&controller] { controller.MeasurementTick(); };
  }
  ~MeasurementHook() { session.core.manager.MeasurementTick = nullptr; }
  CliSession& session;
};

void PrintReading(CliSession& s, const TextMeasurementView& view) {
  const auto [rate, rateUnit] = ValueAndUnit(view.rate);
  const auto [dose, doseUnit] = ValueAndUnit(view.dose);
  if (s.options.json) {
    // The rate as a number in its unit; the dose as the device wrote it, and as a number.
    Json reading;
    reading["time"] = FormatIsoDateTime(s.clock.Now());
    reading["rate"] = JsonNumber(rate);
    reading["rateUnit"] = rateUnit;
    reading["level"] = view.level;
    reading["dose"] = dose;
    reading["doseValue"] = JsonNumber(dose);
    reading["doseUnit"] = doseUnit;
    PrintJson(s.io, reading);
  } else {
    s.io.out << view.rate << "  " << s.language.Text("уровень ", "level ") << view.level << "  "
             << s.language.Text("доза ", "dose ") << view.dose << '\n';
  }
  s.io.out.flush();
}

// measure --follow: a reading every interval until Ctrl+C or SIGTERM (or --count readings), each
// also recorded with --csv. A signal ends it after the reading under way, so the file is complete.
// A device that stops answering is waited for: the connection manager finds it again in the
// heartbeat, and the readings go on.
int Follow(CliSession& s) {
  TextMeasurementView view;
  MeasurementController controller(s.context, view);
  ReadingRecorder recorder(s.log, s.dialogs, s.language);
  recorder.note = [&s](const std::string& text) { s.io.err << text << '\n' << std::flush; };
  if (!s.options.csvFile.empty()) {
    if (!recorder.Start(s.options.csvFile)) return kExitFailed;
    controller.AddListener(&recorder);
  }
  const uint32_t spacing = static_cast<uint32_t>(s.options.interval) * 1000;
  uint32_t next = s.clock.TickMs();
  int taken = 0;
  bool wasFailing = false;
  while (!s.pump.QuitRequested() && (s.options.csvFile.empty() || recorder.Recording())) {
    if (controller.ReadNow()) {
      // With --csv the recorder's notes say when readings stop and go on.
      if (wasFailing && !recorder.Recording())
        s.io.err << s.language.Text("Показания снова идут", "Readings go on") << '\n';
      PrintReading(s, view);
      wasFailing = false;
      if (s.options.countGiven && ++taken >= s.options.count) break;
    } else if (!wasFailing) {
      // The addresses are read again from whichever device answers next.
      controller.ForgetMeasurementAddresses();
      if (!view.versionMessage.empty()) {
        s.io.err << TerminalText(view.versionMessage) << '\n';
      } else if (!recorder.Recording()) {
        s.io.err << s.language.Text("Прибор не отвечает, ожидание его возвращения",
                                    "The device does not answer; waiting for it")
                 << '\n';
      }
      s.io.err.flush();
      wasFailing = true;
    }
    next += spacing;
    // A reading that took longer than the spacing moves the schedule rather than bunching up.
    if (static_cast<int32_t>(next - s.clock.TickMs()) < 0) next = s.clock.TickMs();
    while (!s.pump.QuitRequested() && static_cast<int32_t>(next - s.clock.TickMs()) > 0)
      s.pump.ProcessEvents(next);
  }
  controller.RemoveListener(&recorder);
  if (!recorder.Failure().empty()) return kExitFailed;
  recorder.Stop();
  return kExitDone;
}

}  // namespace

int Measure(CliSession& s) {
  if (s.options.follow) return Follow(s);
  TextMeasurementView view;
  MeasurementController controller(s.context, view);
  // No heartbeat hook here: its tick would blank the labels of a page that is not shown while a
  // reading waits for its answers.
  for (int i = 0; i < s.options.count && !s.pump.QuitRequested(); ++i) {
    if (i > 0) s.Wait(1000);
    if (s.pump.QuitRequested()) break;
    if (!controller.ReadNow()) {
      s.io.err << (!view.versionMessage.empty()
                       ? TerminalText(view.versionMessage)
                       : s.language.Text("Прибор не ответил", "The device did not answer"))
               << '\n';
      return kExitFailed;
    }
    PrintReading(s, view);
  }
  return kExitDone;
}

int DoseReset(CliSession& s) {
  TextMeasurementView view;
  MeasurementController controller(s.context, view);
  MeasurementHook hook(s, controller);
  const bool reset = controller.OnDoseResetClicked();
  if (!reset && !view.versionMessage.empty()) s.io.err << TerminalText(view.versionMessage) << '\n';
  return reset && Outcome(s) == kExitDone ? kExitDone : kExitFailed;
}

}  // namespace dravion::cli
