// Figures of the firmware update against the emulator paced at 230400 baud with a real device's
// processing times (NOR sector erase 45 ms, page erase and write 3.2 ms, data write 0.7 ms), over
// the manager's real serial stack and connection manager on real time:
//  1. the program-flash and the data-flash write, each next to the time that the line and the
//     device alone need for the same flash exchanges (frames at 10 bits a byte, plus the device's
//     processing time), and the read-back that verifies each;
//  2. the whole update wizard with the emulator's default restart time, step by step.
// Usage: firmware_figures
#include <chrono>
#include <cstdio>
#include <vector>

#include "device/device_link_harness.h"
#include "firmware/flash_update.h"
#include "firmware/flash_verify.h"
#include "firmware/update_wizard.h"
#include "protocol/commands.h"
#include "protocol/device_records.h"
#include "sim/device.h"

namespace {

using SteadyClock = std::chrono::steady_clock;
using dravion::device_test::DeviceLinkHarness;
constexpr uint32_t kBaud = 230400;

double Seconds(SteadyClock::time_point since) {
  return std::chrono::duration<double>(SteadyClock::now() - since).count();
}

void Put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i)
    v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

// Line and device time of the recorded flash requests: request and answer frames as they go on
// the line, and the device's processing time of each command.
double LineSeconds(const std::vector<dravion::sim::FlashRequest>& requests,
                   std::span<const uint8_t> image, uint32_t imageStart, int channel) {
  const auto times = dravion::sim::RealisticCommandTimes();
  double seconds = 0;
  for (const auto& r : requests) {
    const uint8_t group = r.key >> 8;
    const uint8_t code = r.key & 0xFF;
    std::vector<uint8_t> request{0, 1, 0, static_cast<uint8_t>(channel), group, code};
    Put32(request, r.address);
    std::vector<uint8_t> data;
    Put32(data, r.address);
    if (r.count > 0) {
      request.push_back(static_cast<uint8_t>(r.count));
      const auto* bytes = image.data() + (r.address - imageStart);
      request.insert(request.end(), bytes, bytes + r.count);
      data.push_back(static_cast<uint8_t>(r.count));
    }
    const auto answer = dravion::test::AnswerPayload(channel, group, code, data);
    const size_t lineBytes =
        dravion::test::EncodeFrame(request).size() + dravion::test::EncodeFrame(answer).size();
    seconds += lineBytes * 10.0 / kBaud;
    const auto it = times.find(r.key);
    if (it != times.end()) seconds += it->second / 1e6;
  }
  return seconds;
}

void Paced(dravion::sim::DeviceConfig& c) {
  c.baud = kBaud;
  c.commandTimeUs = dravion::sim::RealisticCommandTimes();
  c.restartMs = dravion::sim::DeviceConfig{}.restartMs;
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
    const double took = Seconds(start);
    const auto requests = h.device->FlashRequests();
    const double line =
        LineSeconds(requests, dravion::ProgramImage(41), dravion::sim::map::kProgramAddress, 3);
    std::printf(
        "program flash: %s, %zu flash requests, %.2f s; line and device alone %.2f s "
        "(%+.1f %%)\n",
        ok ? "written" : "FAILED", requests.size(), took, line, (took / line - 1) * 100);
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
    const double took = Seconds(start);
    const auto requests = h.device->FlashRequests();
    const double line = LineSeconds(requests, dravion::DataFlashImage(), 0, 2);
    std::printf(
        "data flash: %s, %zu flash requests, %.2f s; line and device alone %.2f s "
        "(%+.1f %%)\n",
        ok ? "written" : "FAILED", requests.size(), took, line, (took / line - 1) * 100);
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
  const auto outcome = wizard.BitBtn_ReNewDeviceInfoClick();
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
