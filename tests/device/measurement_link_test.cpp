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
  m.h.WaitUntil([] { return false; }, 16000);  // two seconds of real time
  // Read as the Read button does: no link test of the heartbeat comes between the requests.
  ASSERT_TRUE(m.controller.OnReadClicked());
  const double before = MeasureLink::Number(m.view.dose);
  ASSERT_GT(before, 0.3) << m.view.dose;

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
  EXPECT_LT(waited, kDoseResetWaitMs + 1000);
  ASSERT_EQ(m.h.dialogs.boxes.size(), 1u);
  EXPECT_EQ(m.h.dialogs.boxes[0].text, "Error Resetting Accumulated Dose");
  // A heartbeat that comes later finds nothing to send.
  m.h.pump.heartbeat = [&m] { m.h.core.manager.OnHeartbeatTimer(); };
  m.h.WaitUntil([] { return false; }, 1000);
  EXPECT_EQ(m.Requests(1, 0x0F), writes);
}

TEST(MeasurementLink, AMinuteOfAutoReadingFollowsTheRateWithExactRequestsPerReading) {
  // Manager time runs four times faster than real time: the minute takes 15 seconds.
  MeasureLink m(0.5, 4);
  m.view.pageActive = false;
  ASSERT_TRUE(m.Connect());
  const int parameterReads = m.Requests(1, 0x0E);
  const int parameterWrites = m.Requests(1, 0x0F);
  const int memoryReads = m.Requests(1, 0x02);
  m.view.pageActive = true;
  m.h.WaitUntil([] { return false; }, 30000);
  const size_t firstHalf = m.view.Values().size();
  m.h.device->SetBackground(5.0);
  m.h.WaitUntil([] { return false; }, 30000);

  const std::vector<std::string> values = m.view.Values();
  const int readings = static_cast<int>(values.size());
  EXPECT_GE(readings, 50);
  EXPECT_LE(readings, 59);
  EXPECT_EQ(m.controller.AutoReadState, AutoRead::Running);  // no reading failed
  const int withDose = (readings + 9) / 10;
  EXPECT_EQ(m.Requests(1, 0x0E) - parameterReads, 5 + readings);
  EXPECT_EQ(m.Requests(1, 0x0F) - parameterWrites, withDose);
  EXPECT_EQ(m.Requests(1, 0x02) - memoryReads, 2 * readings + 2 * withDose);
  EXPECT_EQ(std::count_if(m.view.doses.begin(), m.view.doses.end(),
                          [](const std::string& d) { return d != kMeasureDashes; }),
            withDose);

  // Around 0,5 uSv/h first; the new, stronger source shows before the minute ends.
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
