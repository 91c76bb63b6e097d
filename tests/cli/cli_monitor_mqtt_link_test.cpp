#include <arpa/inet.h>
#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <nlohmann/json.hpp>

#include "archive/station_store.h"
#include "cli/cli_options.h"
#include "cli_harness.h"
#include "cli_process.h"
#include "mqtt_broker.h"

namespace dravion::cli_test {
namespace {

using namespace std::chrono_literals;

// The station on a real broker: Home Assistant's discovery configs (retained), "online", a state
// message per reading; the broker restarted while readings go on: every reading kept while it was
// away arrives after, in order, once; the monitor killed: the broker says "offline" for it.
TEST(CliMonitorMqttLink, DiscoveryStateARestartedBrokerAndTheLastWill) {
  CliBench bench;
  const std::string folder = bench.folder.path();
  const int port = FreePort();
  Broker broker(folder, port);
  ASSERT_TRUE(broker.Start());
  Subscriber subscriber(port);
  const std::string archive = folder + "/archive.sqlite3";
  ::setenv("DRAVION_ARCHIVE", archive.c_str(), 1);
  const std::string err = folder + "/stderr.txt";
  const pid_t pid =
      SpawnMqttMonitor(folder, "host = 127.0.0.1\nport = " + std::to_string(port) + "\n", err);
  ASSERT_GT(pid, 0);

  const std::string base = "dravion/214-36587";
  ASSERT_TRUE(subscriber.WaitFor([&](const auto& m) {
    return Count(m, base + "/state") >= 2 && Count(m, base + "/availability", "online") >= 1;
  })) << FileText(err);
  const auto first = subscriber.Messages();
  for (const char* sensor : {"dose_rate", "cpm", "dose"}) {
    const std::string topic =
        "homeassistant/sensor/dravion_21436587/" + std::string(sensor) + "/config";
    const auto config =
        std::find_if(first.begin(), first.end(), [&](const auto& m) { return m.topic == topic; });
    ASSERT_NE(config, first.end()) << topic;
    const auto discovery = nlohmann::json::parse(config->payload);
    EXPECT_EQ(discovery["state_topic"], base + "/state");
    EXPECT_EQ(discovery["availability_topic"], base + "/availability");
    EXPECT_EQ(discovery["unique_id"], std::string("dravion_21436587_") + sensor);
    EXPECT_EQ(discovery["device"]["identifiers"][0], "dravion_21436587");
  }

  StationStore store;
  ASSERT_TRUE(store.Open(archive));
  // The archive's reading times, oldest first, from reading `from` on, all but the newest (it may
  // be on its way).
  auto archived = [&](size_t from) {
    std::vector<std::string> times;
    std::vector<StationReading> readings = store.Latest("", 1000);
    for (auto r = readings.rbegin(); r != readings.rend(); ++r)
      times.push_back(UtcText(r->time, true));
    if (!times.empty()) times.pop_back();
    times.erase(times.begin(), times.begin() + std::min(from, times.size()));
    return times;
  };
  auto stateTimes = [&](const std::vector<Subscriber::Message>& messages) {
    std::vector<std::string> times;
    for (const auto& m : messages) {
      if (m.topic == base + "/state") times.push_back(nlohmann::json::parse(m.payload)["time"]);
    }
    return times;
  };
  auto received = [&](const std::vector<std::string>& wanted) {
    return subscriber.WaitFor([&](const auto& m) {
      const std::vector<std::string> times = stateTimes(m);
      return std::all_of(wanted.begin(), wanted.end(), [&](const std::string& t) {
        return std::find(times.begin(), times.end(), t) != times.end();
      });
    });
  };
  ASSERT_TRUE(received(archived(0)));

  // The broker away for a while: the monitor goes on, and says so once. (A reading the broker
  // acknowledged as it went may die with it: a broker's own loss, not the station's.)
  broker.Stop();
  ASSERT_TRUE(WaitForFile(err, [](const std::string& t) {
    return t.find("mqtt: the broker went away") != std::string::npos;
  })) << FileText(err);
  const size_t keptBeforeAway = store.Count();
  ASSERT_TRUE(
      WaitForFile(err, [&](const std::string&) { return store.Count() >= keptBeforeAway + 2; }));
  ASSERT_TRUE(broker.Start());
  ASSERT_TRUE(WaitForFile(err, [](const std::string& t) {
    return t.find("mqtt: connected to the broker again") != std::string::npos;
  })) << FileText(err);
  // Every reading kept while it was away reaches the subscriber after.
  const std::vector<std::string> whileAway = archived(keptBeforeAway);
  ASSERT_GE(whileAway.size(), 1u);
  ASSERT_TRUE(received(whileAway))
      << testing::PrintToString(stateTimes(subscriber.Messages())) << "\n"
      << testing::PrintToString(whileAway) << "\n"
      << FileText(err) << FileText(folder + "/broker.log");
  const size_t kept = store.Count();

  ASSERT_EQ(::kill(pid, SIGKILL), 0);
  ExitStatus(pid);
  ASSERT_TRUE(subscriber.WaitFor(
      [&](const auto& m) { return Count(m, base + "/availability", "offline") >= 1; }));
  ::unsetenv("DRAVION_ARCHIVE");

  // Every state message is a reading of the archive, in order, and none came twice.
  std::vector<std::string> times;
  for (const auto& m : subscriber.Messages()) {
    if (m.topic != base + "/state") continue;
    const auto state = nlohmann::json::parse(m.payload);
    EXPECT_TRUE(state["usvh"].is_number() && state["cpm"].is_number()) << m.payload;
    times.push_back(state["time"]);
  }
  // Of the archive's readings (all of them now), what the subscriber got came in the same order,
  // each once (two readings may share a second), but for the one on its way when the broker
  // stopped: QoS 1 is "at least once", and a message the broker took but whose acknowledgement
  // died with it is sent again, and may reach the subscriber twice.
  std::vector<std::string> all;
  for (const StationReading& r : store.Latest("", 1000))
    all.insert(all.begin(), UtcText(r.time, true));
  ASSERT_GE(times.size() + 2, kept);
  auto next = all.begin();
  int sentAgain = 0;
  for (const std::string& t : times) {
    if (next != all.begin() && t == *(next - 1) && std::find(next, all.end(), t) == all.end()) {
      ++sentAgain;
      continue;
    }
    next = std::find(next, all.end(), t);
    ASSERT_NE(next, all.end()) << t << " out of order or twice:\n"
                               << testing::PrintToString(times) << "\n"
                               << testing::PrintToString(all);
    ++next;
  }
  EXPECT_LE(sentAgain, 1);
  EXPECT_NE(FileText(err).find("mqtt: the broker went away"), std::string::npos);
}

// A login the broker refuses is said once, and not tried again: the monitor goes on keeping its
// readings (queued for the broker) and the broker sees one attempt.
TEST(CliMonitorMqttLink, ARefusedLoginIsSaidOnceAndNotTriedAgain) {
  CliBench bench;
  const std::string folder = bench.folder.path();
  const std::string passwords = folder + "/passwords";
  const pid_t made =
      SpawnProgram({"/usr/bin/mosquitto_passwd", "-b", "-c", passwords, "station", "right"}, -1,
                   folder + "/passwd.log");
  ASSERT_EQ(ExitStatus(made), 0) << FileText(folder + "/passwd.log");
  const int port = FreePort();
  Broker broker(folder, port, passwords);
  ASSERT_TRUE(broker.Start());
  const std::string archive = folder + "/archive.sqlite3";
  ::setenv("DRAVION_ARCHIVE", archive.c_str(), 1);
  const std::string err = folder + "/stderr.txt";
  const pid_t pid = SpawnMqttMonitor(
      folder,
      "host = 127.0.0.1\nport = " + std::to_string(port) + "\nuser = station\npassword = wrong\n",
      err);
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitForFile(err, [](const std::string& t) {
    return t.find("mqtt: the broker refused the login") != std::string::npos;
  })) << FileText(err);
  // Readings go on being kept while nothing more goes to the broker.
  StationStore store;
  ASSERT_TRUE(store.Open(archive, MqttMonitorStation(folder)));
  const uint64_t kept = store.Count();
  ASSERT_TRUE(WaitForFile(err, [&](const std::string&) { return store.Count() >= kept + 3; }));
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  EXPECT_EQ(ExitStatus(pid), 143);
  ::unsetenv("DRAVION_ARCHIVE");
  const std::string notes = FileText(err);
  EXPECT_EQ(Occurrences(notes, "refused the login"), 1u) << notes;
  EXPECT_EQ(notes.find("wrong"), std::string::npos) << notes;
  EXPECT_GE(store.QueuedCount("mqtt"), kept + 3);
  const std::string log = FileText(folder + "/broker.log");
  EXPECT_EQ(Occurrences(log, "not authorised"), 1u) << log;
}

}  // namespace
}  // namespace dravion::cli_test
