#include <gtest/gtest.h>

#include <algorithm>

#include "protocol/commands.h"
#include "protocol/identification.h"
#include "services/log_sink.h"
#include "sim/link_harness.h"
#include "support/fakes.h"

namespace dravion {
namespace {

using Lines = test::RecordingLog;

// The manager's own command set and identification against the emulator.
TEST(IdentificationLink, EmulatedDeviceIdentifiesInBothPrograms) {
  for (const bool boot : {false, true}) {
    sim::DeviceConfig config;
    config.startInBoot = boot;
    test::SimLink link(config);
    DeviceCommands commands(*link.stack);
    DeviceInfo record;
    Lines log;
    ASSERT_TRUE(IdentifyDevice(record, commands, log)) << "boot " << boot;
    EXPECT_EQ(record.Name, "Dravion ZAV-740.41.3");
    EXPECT_TRUE(log.Has("# S/N   : 214-36587"));
    EXPECT_TRUE(log.Has("# (INF1) Board : ZAV-740.2"));
    EXPECT_TRUE(log.Has("# (INF1) BoardY: (2:5)"));
    EXPECT_TRUE(log.Has("# BOOT  : 4.16"));
    EXPECT_TRUE(log.Has(boot ? "# TQV8  : Device in BOOT mode" : "# TQV8  : 12.6"));
    EXPECT_TRUE(link.dialogs.boxes.empty());
  }
}

}  // namespace
}  // namespace dravion
