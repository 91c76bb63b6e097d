#include <gtest/gtest.h>

#include <future>

#include "archive/station_store.h"
#include "monitor/mqtt_output.h"
#include "monitor/network_output.h"
#include "monitor/network_stand_in.h"
#include "support/scratch_folder.h"
#ifndef _WIN32
#include "support/held_lookup.h"
#endif

namespace dravion {
namespace {

using namespace std::chrono_literals;

// The station stops (SIGTERM) while its outputs look up names that never resolve (a name server
// that does not answer): the network outputs (libcurl) and the broker's connection (libmosquitto)
// let go at once, well within the service's stop time, and nothing waits for the look-ups.
TEST(OutputStop, ALookUpThatNeverEndsDoesNotHoldTheStop) {
#ifdef _WIN32
  GTEST_SKIP() << "the look-ups are held by replacing the C library's getaddrinfo (POSIX)";
#else
  test::HeldLookups held;
  test::ScratchFolder folder("output-stop");
  const std::string archive = folder.Utf8() + "/archive.sqlite3";

  MonitorConfig config;
  config.sections["radmon"] = {
      {"user", "station"}, {"password", "p"}, {"url", "http://radmon.held.test/radmon.php"}};
  test::NetworksUnderTest networks;
  std::string error;
  ASSERT_TRUE(networks.Start(config, archive, {10s, 10s}, error)) << error;
  networks.Take(30);
  ASSERT_TRUE(held.WaitForBegun(1));
  auto stopping = std::async(std::launch::async, [&] { networks.Stop(); });
  EXPECT_EQ(stopping.wait_for(3s), std::future_status::ready) << "radmon's stop waited";

  MonitorConfig mqttConfig;
  mqttConfig.sections["mqtt"] = {{"host", "broker.held.test"}};
  MqttOutput mqtt(mqttConfig);
  ASSERT_TRUE(mqtt.Start(archive, error)) << error;
  StationReading reading;
  reading.time = 1796741880;
  reading.cpm = 30;
  reading.serial = "214-36587";
  ASSERT_TRUE(networks.store.Add(reading, {"mqtt"})) << networks.store.Error();
  mqtt.Publish(reading);
  ASSERT_TRUE(held.WaitForBegun(2));
  auto stoppingMqtt = std::async(std::launch::async, [&] { mqtt.Stop(); });
  EXPECT_EQ(stoppingMqtt.wait_for(4s), std::future_status::ready) << "the broker's stop waited";

  held.Release();
  stopping.wait();
  stoppingMqtt.wait();
#endif
}

}  // namespace
}  // namespace dravion
