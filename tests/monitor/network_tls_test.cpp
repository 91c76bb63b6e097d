#include <gtest/gtest.h>

#include <fstream>

#include "archive/station_store.h"
#include "monitor/mqtt_output.h"
#include "monitor/network_output.h"
#include "monitor/network_stand_in.h"
#include "support/scratch_folder.h"
#include "support/tls_authority.h"

namespace dravion {
namespace {

using namespace std::chrono_literals;
using test::NetworkStandIn;
using test::TlsAuthority;

// The certificates of the tests: an authority the outputs are told to trust, with a server
// certificate for loopback and one for another name, and an authority nobody trusts, with a
// server certificate for loopback.
struct Certificates {
  explicit Certificates(const std::string& folder)
      : trusted(folder, "local"), unknown(folder, "unknown") {
    loopback = trusted.Issue("loopback", {"127.0.0.1", "localhost"});
    otherName = trusted.Issue("other-name", {"elsewhere.example"});
    stranger = unknown.Issue("stranger", {"127.0.0.1", "localhost"});
  }
  TlsAuthority trusted, unknown;
  TlsAuthority::Server loopback, otherName, stranger;
};

std::unique_ptr<httplib::Server> HttpsServer(const TlsAuthority::Server& certificate) {
  return std::make_unique<httplib::SSLServer>(certificate.certificate.c_str(),
                                              certificate.key.c_str());
}

// Outputs behind a server whose certificate is not trusted: nothing leaves the queue, the failure
// is said once with its reason and no secret, and no request (which would carry the password or
// the key) reaches the server; once a trusted server stands in its place, the network that takes
// past readings gets every one, in order, once, and the one of the current value the newest.
TEST(NetworkTls, AnUntrustedServerGetsNothingAndATrustedOneEverythingAfter) {
  test::ScratchFolder folder("network-tls");
  Certificates certificates(folder.Utf8());
  ASSERT_TRUE(certificates.trusted.Valid()) << certificates.trusted.Error();
  ASSERT_TRUE(certificates.unknown.Valid()) << certificates.unknown.Error();
  NetworkStandIn standIn(HttpsServer(certificates.stranger), "https");
  ASSERT_GT(standIn.Port(), 0);
  const std::string archive = folder.Utf8() + "/archive.sqlite3";
  const std::string ca = certificates.trusted.CertificateFile();
  MonitorConfig config;
  config.sections["radmon"] = {{"user", "station"},
                               {"password", "pass word&1"},
                               {"url", standIn.Url("/radmon.php")},
                               {"ca", ca}};
  config.sections["safecast"] = {{"api_key", "k3y"},
                                 {"latitude", "51.5"},
                                 {"longitude", "-0.125"},
                                 {"device_id", "7"},
                                 {"url", standIn.Url("/measurements.json")},
                                 {"ca", ca}};
  test::NetworksUnderTest networks;
  std::string error;
  ASSERT_TRUE(networks.Start(config, archive, {200ms, 400ms}, error)) << error;
  auto& counts = networks.counts;
  auto& notes = networks.notes;
  auto take = [&](double cpm) { networks.Take(cpm); };

  take(30);
  ASSERT_TRUE(counts.WaitForFailed("radmon", 1) && counts.WaitForFailed("safecast", 1));
  take(31);
  // The trusted authority's certificate for another name: refused as well.
  ASSERT_TRUE(standIn.Replace(HttpsServer(certificates.otherName)));
  const uint64_t radmonFailed = counts.Failed("radmon");
  const uint64_t safecastFailed = counts.Failed("safecast");
  ASSERT_TRUE(counts.WaitForFailed("radmon", radmonFailed + 1) &&
              counts.WaitForFailed("safecast", safecastFailed + 1));
  take(32);
  EXPECT_EQ(networks.store.QueuedCount("safecast"), 3u);
  EXPECT_EQ(standIn.Requests("radmon") + standIn.Requests("safecast"), 0u);

  ASSERT_TRUE(standIn.Replace(HttpsServer(certificates.loopback)));
  ASSERT_TRUE(counts.WaitForDelivered("safecast", 3)) << notes.All();
  ASSERT_TRUE(counts.WaitForDelivered("radmon", 1)) << notes.All();
  networks.Stop();
  EXPECT_EQ(standIn.Taken("safecast"),
            (std::vector<std::string>{"2026-12-08T14:59:00Z", "2026-12-08T15:00:00Z",
                                      "2026-12-08T15:01:00Z"}));
  EXPECT_EQ(standIn.Taken("radmon"), std::vector<std::string>{"32"});
  EXPECT_EQ(networks.store.QueuedCount("safecast"), 0u);
  for (const char* name : {"radmon", "safecast"}) {
    EXPECT_EQ(notes.Count(std::string(name) +
                          ": not delivered (the server's certificate is not trusted: "),
              1u)
        << notes.All();
    EXPECT_EQ(notes.Count(std::string(name) + ": delivered again"), 1u) << notes.All();
  }
  EXPECT_TRUE(standIn.faults.empty()) << standIn.faults.front();
  const std::string all = notes.All();
  EXPECT_EQ(all.find("pass word"), std::string::npos) << all;
  EXPECT_EQ(all.find("k3y"), std::string::npos) << all;
}

// A `ca` that cannot serve is refused at the start, by section and file, not at the first try.
TEST(NetworkTls, AnAuthoritiesFileThatCannotServeIsRefusedAtTheStart) {
  test::ScratchFolder folder("network-tls");
  const std::string notPem = folder.Utf8() + "/not-pem.txt";
  std::ofstream(notPem) << "MIIB just base64, no armour\n";
  MonitorConfig config;
  config.sections["gmcmap"] = {{"account", "1"}, {"device", "2"}, {"ca", notPem}};
  std::vector<std::unique_ptr<NetworkOutput>> outputs;
  std::string error;
  EXPECT_FALSE(MakeNetworkOutputs(config, outputs, error));
  EXPECT_EQ(error, "[gmcmap] ca: " + notPem + " holds no certificate (a PEM file is wanted)");
  outputs.clear();
  config.sections["gmcmap"]["ca"] = folder.Utf8() + "/absent.pem";
  EXPECT_FALSE(MakeNetworkOutputs(config, outputs, error));
  EXPECT_EQ(error, "[gmcmap] ca: " + folder.Utf8() + "/absent.pem cannot be read");
  // The broker's authority as well, when the station speaks TLS to it.
  config.sections.clear();
  config.sections["mqtt"] = {{"tls", "yes"}, {"ca", notPem}};
  MqttOutput mqtt(config);
  EXPECT_FALSE(mqtt.Start(folder.Utf8() + "/archive.sqlite3", error));
  EXPECT_EQ(error, "[mqtt] ca: " + notPem + " holds no certificate (a PEM file is wanted)");
}

}  // namespace
}  // namespace dravion
