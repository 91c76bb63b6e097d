// Figures of the firmware update against the emulator paced at 230400 baud with a real device's
// processing times (NOR sector erase 45 ms, page erase and write 3.2 ms, data write 0.7 ms), over
// the manager's real serial stack and connection manager on real time:
//  1. the program-flash and the data-flash write, each next to the time that the line and the
//     device alone need for the same exchanges (frames at 10 bits a byte, plus the device's
//     processing time) as the emulator saw them: the flash requests, and for the data flash the
//     texts it draws on the device's screen; and the read-back that verifies each;
//  2. the whole update wizard with the emulator's default restart time, step by step.
// Usage: firmware_figures
#include <chrono>
#include <cstdio>
#include <vector>

#include "device/device_link_harness.h"
#include "device_side.h"
#include "firmware/flash_update.h"
#include "firmware/flash_verify.h"
#include "firmware/update_wizard.h"
#include "protocol/commands.h"
#include "protocol/device_records.h"
#include "sim/device.h"

namespace {

using SteadyClock = std::chrono::steady_clock;
using dravion::bench::DeviceSide;
using dravion::bench::DeviceSideOf;
using dravion::device_test::DeviceLinkHarness;
constexpr uint32_t kBaud = 230400;

double Seconds(SteadyClock::time_point since) {
  return std::chrono::duration<double>(SteadyClock::now() - since).count();
}

void Paced(dravion::sim::DeviceConfig& c) {
  c.baud = kBaud;
  c.commandTimeUs = dravion::sim::RealisticCommandTimes();
  c.restartMs = dravion::sim::DeviceConfig{}.restartMs;
  c.recordTimings = true;
}

// One flash write next to the line's and the device's own time for all of its exchanges (the
// mode check, the device-screen texts and the flash requests), as the emulator saw them.
void PrintWrite(const char* name, bool ok, double took, const dravion::sim::Device& device) {
  const auto timings = device.Timings();
  const DeviceSide all = DeviceSideOf(timings);
  const DeviceSide flash = DeviceSideOf(timings, [](const dravion::sim::ExchangeTiming& t) {
    const int group = t.key >> 8;
    return group == 2 || group == 3;
  });
  std::printf("%s: %s in %.2f s, %zu exchanges (%zu to the flash)\n", name,
              ok ? "written" : "FAILED", took, all.exchanges, flash.exchanges);
  std::printf("  line and device alone %.2f s (flash requests %.2f s, the rest %.2f s)\n",
              all.floor, flash.floor, all.floor - flash.floor);
  std::printf(
      "  first request to last answer %.2f s: %.4fx; without the emulator's lateness "
      "(%.3f s) %.4fx\n",
      all.seconds, all.Ratio(), all.late, all.RatioOnTime());
  std::printf("  host between answer and next request: %.3f s, %.1f us mean, %.1f us median\n",
              all.host, all.HostMeanUs(), all.hostMedianUs);
}

void WriterFigures() {
  {
    DeviceLinkHarness h(
        [](dravion::sim::DeviceConfig& c) {
          Paced(c);
          c.startInBoot = true;
        },
        1);
    if (!h.Connect()) return void(std::printf("program flash: device not found\n"));
    h.core.manager.LinkWatch = false;
    h.device->ClearRecords();
    const auto start = SteadyClock::now();
    const bool ok = dravion::UpdateProgramFlash(h.context);
    PrintWrite("program flash", ok, Seconds(start), *h.device);
    const auto verifyStart = SteadyClock::now();
    const auto check = dravion::VerifyProgramFlash(h.context, h.commands.ProgramAddress(),
                                                   dravion::ProgramImage(41));
    std::printf("program flash verify: %s, 57344 bytes read back in %.2f s\n",
                check.Same() ? "equal" : "DIFFERS", Seconds(verifyStart));
  }
  {
    DeviceLinkHarness h(Paced, 1);
    if (!h.Connect()) return void(std::printf("data flash: device not found\n"));
    h.core.manager.LinkWatch = false;
    h.device->ClearRecords();
    const auto start = SteadyClock::now();
    const bool ok = dravion::UpdateDataFlash(h.context);
    PrintWrite("data flash", ok, Seconds(start), *h.device);
    const auto verifyStart = SteadyClock::now();
    const auto check = dravion::VerifyDataFlash(h.context, dravion::DataFlashImage());
    std::printf("data flash verify: %s, 311296 bytes read back in %.2f s\n",
                check.Same() ? "equal" : "DIFFERS", Seconds(verifyStart));
  }
}

class StepClock : public dravion::UpdateWizardView {
 public:
  void SetUpdateButtonEnabled(bool) override {}
  void StepStarted(int step) override {
    Close();
    current_ = step;
    start_ = SteadyClock::now();
  }
  void Close() {
    if (current_ > 0) std::printf("  step %d: %.2f s\n", current_, Seconds(start_));
    current_ = 0;
  }

 private:
  int current_ = 0;
  SteadyClock::time_point start_;
};

void WizardFigures() {
  DeviceLinkHarness h(
      [](dravion::sim::DeviceConfig& c) {
        Paced(c);
        c.mainVersion = 0x0C05;
      },
      1);
  if (!h.Connect()) return void(std::printf("wizard: device not found\n"));
  StepClock steps;
  dravion::UpdateWizard wizard(h.context, steps);
  std::printf("update wizard (restart time %d ms):\n", dravion::sim::DeviceConfig{}.restartMs);
  const auto start = SteadyClock::now();
  const auto outcome = wizard.OnUpgradeClicked();
  steps.Close();
  std::printf("  whole update: %s, %.2f s\n",
              outcome == dravion::UpdateOutcome::Updated ? "updated" : "FAILED", Seconds(start));
}

}  // namespace

int main() {
  WriterFigures();
  WizardFigures();
  return 0;
}
