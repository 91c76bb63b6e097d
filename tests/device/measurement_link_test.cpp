#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "device/measurement.h"
#include "device_link_harness.h"
#include "measurement_fakes.h"

namespace dravion {
namespace {

using device_test::DeviceLinkHarness;

// The measuring page's controller on the real serial stack and connection manager, run by the
// heartbeat as the window runs it, against the emulator.
struct MeasureLink {
  explicit MeasureLink(double background, uint32_t scale = 8)
      : h([background](sim::DeviceConfig& c) { c.background = background; }, scale) {}
  bool Connect() {
    if (!h.Connect()) return false;
    h.core.manager.MeasurementTick = [this] { controller.MeasurementTick(); };
    return true;
  }
  int Requests(uint8_t group, uint8_t code) const { return h.device->Requests(group, code); }
  // The number of a value text ("0,52 uSv/h" or "12.75 uSv"), with either decimal mark.
  static double Number(std::string text) {
    for (char& c : text)
      if (c == ',') c = '.';
    return std::strtod(text.c_str(), nullptr);
  }

  DeviceLinkHarness h;
  device_test::RecordingMeasurementView view;
  MeasurementController controller{h.context, view};
};

TEST(MeasurementLink, DoseResetIsSentByTheHeartbeatAndTheDeviceStartsCountingAgain) {
  // A strong source, so that the dose grows visibly within a second.
  MeasureLink m(1000.0);
  m.view.pageActive = false;
  ASSERT_TRUE(m.Connect());
  // Read as the Read button does (no link test of the heartbeat comes between the requests)
  // until the dose has grown.
  ASSERT_TRUE(m.h.WaitUntil(
      [&] { return m.controller.OnReadClicked() && MeasureLink::Number(m.view.dose) > 0.3; },
      160000))
      << m.view.dose;
  const double before = MeasureLink::Number(m.view.dose);

  EXPECT_TRUE(m.controller.OnDoseResetClicked());
  ASSERT_EQ(m.h.dialogs.boxes.size(), 1u);
  EXPECT_EQ(m.h.dialogs.boxes[0].kind, BoxKind::Information);
  EXPECT_EQ(m.h.dialogs.boxes[0].text, "Accumulated Dose\nReset");
  EXPECT_TRUE(m.h.log.Has("Write PAR[0xFF00(65280)] : 0xC0BA0020(3233415200)"));
  ASSERT_TRUE(m.controller.OnReadClicked());
  EXPECT_LT(MeasureLink::Number(m.view.dose), before / 2) << m.view.dose;
}

TEST(MeasurementLink, DoseResetWithoutAnAnswerShowsTheWriteBoxThenTheError) {
  MeasureLink m(0.12);
  ASSERT_TRUE(m.Connect());
  sim::Faults faults;
  faults.refuseCommand = sim::CommandKey(1, 0x0F);
  m.h.device->SetFaults(faults);
  EXPECT_FALSE(m.controller.OnDoseResetClicked());
  ASSERT_EQ(m.h.dialogs.boxes.size(), 2u);
  EXPECT_EQ(m.h.dialogs.boxes[0].text, "No answer - Parameter WRITE");
  EXPECT_EQ(m.h.dialogs.boxes[1].kind, BoxKind::Error);
  EXPECT_EQ(m.h.dialogs.boxes[1].text, "Error Resetting Accumulated Dose");
  EXPECT_EQ(m.controller.DoseResetRequest, -1);
  EXPECT_EQ(m.h.frame.pages, (std::vector<bool>{false, true}));
}

TEST(MeasurementLink, DoseResetWithoutAHeartbeatIsWithdrawnAfterThreeSeconds) {
  MeasureLink m(0.12);
  ASSERT_TRUE(m.Connect());
  const int writes = m.Requests(1, 0x0F);
  m.h.pump.heartbeat = nullptr;
  const uint32_t start = m.h.clock.TickMs();
  EXPECT_FALSE(m.controller.OnDoseResetClicked());
  const uint32_t waited = m.h.clock.TickMs() - start;
  EXPECT_GE(waited, kDoseResetWaitMs);
  ASSERT_EQ(m.h.dialogs.boxes.size(), 1u);
  EXPECT_EQ(m.h.dialogs.boxes[0].text, "Error Resetting Accumulated Dose");
  // The heartbeats that come later find nothing to send.
  int beats = 0;
  m.h.pump.heartbeat = [&m, &beats] {
    ++beats;
    m.h.core.manager.OnHeartbeatTimer();
  };
  ASSERT_TRUE(m.h.WaitUntil([&] { return beats >= 5; }, 60000));
  m.h.pump.heartbeat = nullptr;
  EXPECT_EQ(m.Requests(1, 0x0F), writes);
}

TEST(MeasurementLink, AMinuteOfAutoReadingFollowsTheRateWithExactRequestsPerReading) {
  // Manager time runs four times faster than real time. How many readings a minute gives on a
  // quiet machine: bench/measurement_figures.
  MeasureLink m(0.5, 4);
  m.view.pageActive = false;
  ASSERT_TRUE(m.Connect());
  const int parameterReads = m.Requests(1, 0x0E);
  const int parameterWrites = m.Requests(1, 0x0F);
  const int memoryReads = m.Requests(1, 0x02);
  m.view.pageActive = true;
  const uint32_t shown = m.h.clock.TickMs();
  ASSERT_TRUE(m.h.WaitUntil([&] { return m.view.Values().size() >= 25; }, 240000));
  const size_t firstHalf = m.view.Values().size();
  m.h.device->SetBackground(5.0);
  ASSERT_TRUE(m.h.WaitUntil([&] { return m.view.Values().size() >= 50; }, 240000));
  const uint32_t elapsed = m.h.clock.TickMs() - shown;

  const std::vector<std::string> values = m.view.Values();
  const int readings = static_cast<int>(values.size());
  // Never more often than once a second, the first a second later than the spacing.
  EXPECT_GE(elapsed, 1000u * (readings + 1));
  EXPECT_EQ(m.controller.AutoReadState, AutoRead::Running);  // no reading failed
  const int withDose = (readings + 9) / 10;
  EXPECT_EQ(m.Requests(1, 0x0E) - parameterReads, 5 + readings);
  EXPECT_EQ(m.Requests(1, 0x0F) - parameterWrites, withDose);
  EXPECT_EQ(m.Requests(1, 0x02) - memoryReads, 2 * readings + 2 * withDose);
  EXPECT_EQ(std::count_if(m.view.doses.begin(), m.view.doses.end(),
                          [](const std::string& d) { return d != kMeasureDashes; }),
            withDose);

  // Around 0,5 uSv/h first; the new, stronger source shows within 25 readings.
  for (size_t i = 0; i < firstHalf; ++i) {
    EXPECT_GE(MeasureLink::Number(values[i]), 0.2) << values[i];
    EXPECT_LE(MeasureLink::Number(values[i]), 0.9) << values[i];
    EXPECT_NE(values[i].find(" uSv/h"), std::string::npos) << values[i];
  }
  EXPECT_GT(MeasureLink::Number(values.back()), 1.0) << values.back();
  EXPECT_NE(m.view.dose.find(" uSv"), std::string::npos) << m.view.dose;
  EXPECT_GT(m.view.level, 0);
}

}  // namespace
}  // namespace dravion
