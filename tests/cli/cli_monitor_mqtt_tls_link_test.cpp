#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "archive/station_store.h"
#include "cli/cli_options.h"
#include "cli_harness.h"
#include "cli_process.h"
#include "mqtt_broker.h"
#include "support/tls_authority.h"

namespace dravion::cli_test {
namespace {

// The station on a broker that speaks TLS only to it (a subscriber listens on a plain port).
// While the broker's certificate is not one the station's `ca` vouches for, it gets no
// connection, which is said once, and the readings wait in the queue; once the broker has a
// trusted certificate, the station connects by itself, and the discovery configs and every
// reading arrive, the queued ones first, in order.
TEST(CliMonitorMqttTlsLink, AnUntrustedBrokerGetsNothingUntilItsCertificateIsTrusted) {
  CliBench bench;
  const std::string folder = bench.folder.path();
  test::TlsAuthority trusted(folder, "local");
  test::TlsAuthority unknown(folder, "unknown");
  const test::TlsAuthority::Server loopback = trusted.Issue("loopback", {"127.0.0.1"});
  const test::TlsAuthority::Server stranger = unknown.Issue("stranger", {"127.0.0.1"});
  ASSERT_TRUE(trusted.Valid() && unknown.Valid()) << trusted.Error() << unknown.Error();
  const int port = FreePort();
  const int tlsPort = FreePort();
  auto broker = std::make_unique<Broker>(
      folder, port, std::string(),
      std::vector<TlsListener>{{tlsPort, stranger.certificate, stranger.key}});
  ASSERT_TRUE(broker->Start()) << FileText(folder + "/broker.log");
  Subscriber subscriber(port);
  const std::string archive = folder + "/archive.sqlite3";
  ::setenv("DRAVION_ARCHIVE", archive.c_str(), 1);
  const std::string err = folder + "/stderr.txt";
  const pid_t pid = SpawnMqttMonitor(folder,
                                     "host = 127.0.0.1\nport = " + std::to_string(tlsPort) +
                                         "\nuser = station\npassword = s3cret\ntls = yes\nca = " +
                                         trusted.CertificateFile() + "\n",
                                     err);
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitForFile(err, [](const std::string& t) {
    return t.find("mqtt: ") != std::string::npos;
  })) << FileText(err);
  EXPECT_NE(FileText(err).find("mqtt: no connection to the broker (the broker's certificate is "
                               "not trusted"),
            std::string::npos)
      << FileText(err);
  StationStore store;
  ASSERT_TRUE(store.Open(archive, MqttMonitorStation(folder)));
  ASSERT_TRUE(WaitForFile(err, [&](const std::string&) { return store.Count() >= 3; }));
  // The readings so far, oldest first: all still queued for the broker.
  std::vector<std::string> waiting;
  for (const StationReading& r : store.Latest("", 1000))
    waiting.insert(waiting.begin(), UtcText(r.time, true));
  EXPECT_GE(store.QueuedCount("mqtt"), waiting.size());

  // The same broker with a certificate of the trusted authority.
  broker.reset();
  EXPECT_EQ(Count(subscriber.Messages(), "dravion/214-36587/availability"), 0u);
  broker = std::make_unique<Broker>(
      folder, port, std::string(),
      std::vector<TlsListener>{{tlsPort, loopback.certificate, loopback.key}});
  ASSERT_TRUE(broker->Start()) << FileText(folder + "/broker.log");
  const std::string base = "dravion/214-36587";
  auto states = [&](const std::vector<Subscriber::Message>& messages) {
    std::vector<std::string> times;
    for (const auto& m : messages) {
      if (m.topic == base + "/state") times.push_back(nlohmann::json::parse(m.payload)["time"]);
    }
    return times;
  };
  ASSERT_TRUE(subscriber.WaitFor([&](const auto& m) {
    return states(m).size() > waiting.size() && Count(m, base + "/availability", "online") >= 1 &&
           Count(m, "homeassistant/sensor/dravion_21436587/dose_rate/config") >= 1;
  })) << FileText(err)
      << FileText(folder + "/broker.log");
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  EXPECT_EQ(ExitStatus(pid), 143);
  ::unsetenv("DRAVION_ARCHIVE");
  const std::vector<std::string> received = states(subscriber.Messages());
  ASSERT_GE(received.size(), waiting.size());
  EXPECT_EQ(std::vector<std::string>(received.begin(), received.begin() + waiting.size()), waiting);
  EXPECT_TRUE(std::is_sorted(received.begin(), received.end()));
  const std::string notes = FileText(err);
  EXPECT_EQ(Occurrences(notes, "mqtt: "), 2u) << notes;
  EXPECT_EQ(Occurrences(notes, "mqtt: connected to the broker again"), 1u) << notes;
  EXPECT_EQ(notes.find("s3cret"), std::string::npos) << notes;
}

}  // namespace
}  // namespace dravion::cli_test
