#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "archive/station_store.h"
#include "monitor/mqtt_output.h"
#include "mqtt_broker.h"
#include "support/scratch_folder.h"

namespace dravion::cli_test {
namespace {

// What the output says and counts.
struct Seen {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> notes;
  OutputCounts counts;
  size_t Notes(const std::string& part) {
    std::lock_guard<std::mutex> lock(mutex);
    return std::count_if(notes.begin(), notes.end(),
                         [&](const std::string& n) { return n.find(part) != std::string::npos; });
  }
  std::string All() {
    std::lock_guard<std::mutex> lock(mutex);
    std::string all;
    for (const std::string& n : notes)
      all += n + "\n";
    return all;
  }
  bool WaitForFailed(uint64_t failed) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(30),
                            [&] { return counts.failed >= failed; });
  }
};

// One broker, the station's devices swapped under it: the dose goes out in one unit whatever
// prefix the device shows it with (and Home Assistant is told that unit); the new device gets its
// discovery configs and "online", the one unplugged goes "offline"; a reading the library refuses
// to publish is said once, however often it is tried.
TEST(CliMonitorMqttLink, ASwappedDeviceIsAnnouncedTheOldOneGoesOfflineTheDoseKeepsItsUnit) {
  test::ScratchFolder folder("mqtt-device");
  const std::string path = folder.Utf8();
  const int port = FreePort();
  Broker broker(path, port);
  ASSERT_TRUE(broker.Start());
  Subscriber subscriber(port);
  const std::string archive = path + "/archive.sqlite3";
  StationStore store;
  ASSERT_TRUE(store.Open(archive));

  MonitorConfig config;
  config.sections["mqtt"] = {{"host", "127.0.0.1"}, {"port", std::to_string(port)}};
  MqttOutput mqtt(config);
  Seen seen;
  mqtt.note = [&](const std::string& text) {
    std::lock_guard<std::mutex> lock(seen.mutex);
    seen.notes.push_back(text);
  };
  mqtt.counted = [&](const OutputCounts& counts) {
    std::lock_guard<std::mutex> lock(seen.mutex);
    seen.counts = counts;
    seen.changed.notify_all();
  };
  std::string error;
  ASSERT_TRUE(mqtt.Start(archive, error)) << error;
  int64_t time = 1796741880;
  auto take = [&](const std::string& serial, const std::string& dose, const std::string& unit) {
    StationReading r;
    r.time = (time += 60);
    r.cpm = 30;
    r.microSievertPerHour = 0.2;
    r.serial = serial;
    r.dose = dose;
    r.doseUnit = unit;
    ASSERT_TRUE(store.Add(r, {"mqtt"})) << store.Error();
    mqtt.Publish(r);
  };

  const std::string first = "dravion/214-36587", second = "dravion/214-99999";
  take("214-36587", "799", "uR");
  take("214-36587", "1,097", "mR");
  ASSERT_TRUE(subscriber.WaitFor([&](const auto& m) { return Count(m, first + "/state") >= 2; }))
      << seen.All();
  auto states = [&](const std::string& topic) {
    std::vector<nlohmann::json> found;
    for (const auto& m : subscriber.Messages()) {
      if (m.topic == topic) found.push_back(nlohmann::json::parse(m.payload));
    }
    return found;
  };
  const auto doses = states(first + "/state");
  ASSERT_EQ(doses.size(), 2u);
  // 1 µSv = 100 µR, as for the rates; the device's own text stays beside it.
  EXPECT_EQ(doses[0]["dose_usv"], 7.99) << doses[0];
  EXPECT_EQ(doses[1]["dose_usv"], 10.97) << doses[1];
  EXPECT_EQ(doses[1]["dose_unit"], "mR");
  const auto doseConfig = states("homeassistant/sensor/dravion_21436587/dose/config");
  ASSERT_FALSE(doseConfig.empty());
  EXPECT_EQ(doseConfig.back()["unit_of_measurement"], "\xC2\xB5Sv");
  EXPECT_EQ(doseConfig.back()["value_template"], "{{ value_json.dose_usv }}");
  EXPECT_EQ(doseConfig.back()["state_class"], "total_increasing");

  // Another device on the port.
  take("214-99999", "0,52", "uSv");
  EXPECT_TRUE(subscriber.WaitFor([&](const auto& m) {
    return Count(m, second + "/state") >= 1 && Count(m, second + "/availability", "online") >= 1 &&
           Count(m, "homeassistant/sensor/dravion_21499999/dose/config") >= 1 &&
           Count(m, first + "/availability", "offline") >= 1;
  })) << seen.All();
  const auto secondStates = states(second + "/state");
  EXPECT_EQ(secondStates.size(), 1u);
  if (!secondStates.empty()) {
    EXPECT_EQ(secondStates.front()["dose_usv"], 0.52);
  }

  // A reading whose topic the library refuses (a serial that is not UTF-8): tried again and
  // again, said once.
  take("214-\xFF", "0,53", "uSv");
  ASSERT_TRUE(seen.WaitForFailed(3)) << seen.All();
  EXPECT_EQ(seen.Notes("mqtt: could not publish"), 1u) << seen.All();
  mqtt.Stop();
}

}  // namespace
}  // namespace dravion::cli_test
