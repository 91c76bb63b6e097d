// The MQTT output of the Windows build over TLS against a real broker. scripts/wine-mqtt-check
// runs this program under Wine beside Debian's mosquitto on loopback, with two TLS listeners:
// DRAVION_TEST_MQTT_TLS_PORT with a certificate for "localhost" and 127.0.0.1, and
// DRAVION_TEST_MQTT_MISNAMED_PORT with one for another name, both from the authority whose
// certificate DRAVION_TEST_MQTT_CA names (a Windows path with Cyrillic letters). Nothing of that
// authority is in the system's root store.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "archive/station_store.h"
#include "monitor/mqtt_output.h"
#include "services/wide_text_win32.h"
#include "support/scratch_folder.h"

namespace dravion {
namespace {

std::string Environment(const wchar_t* name) {
  const wchar_t* value = ::_wgetenv(name);
  return value == nullptr ? std::string() : Utf8FromWide(value);
}

struct Outcome {
  uint64_t delivered = 0;
  std::string notes;
};

// One reading queued for the broker in a new archive, and the output started with `keys`: what
// came of it once the broker acknowledged the reading or the output said why it could not.
Outcome PublishOnce(const std::map<std::string, std::string>& keys) {
  test::ScratchFolder folder("dravion-mqtt-tls");
  const std::string archive = folder.Utf8() + "/archive.sqlite3";
  {
    StationStore store;
    EXPECT_TRUE(store.Open(archive)) << store.Error();
    StationReading reading;
    reading.time = 1796601600;
    reading.seconds = 60;
    reading.samples = 60;
    reading.rateUnit = "uSv/h";
    reading.rate = reading.microSievertPerHour = 0.12;
    reading.cpm = 21.5;
    reading.dose = "0,0052";
    reading.doseUnit = "mSv";
    reading.serial = "214-36587";
    EXPECT_TRUE(store.Add(reading, {"mqtt"})) << store.Error();
  }
  MonitorConfig config;
  config.sections["mqtt"] = keys;
  MqttOutput output(config);
  std::mutex mutex;
  std::condition_variable changed;
  Outcome outcome;
  output.note = [&](const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    outcome.notes += text + "\n";
    changed.notify_all();
  };
  output.counted = [&](const OutputCounts& counts) {
    std::lock_guard<std::mutex> lock(mutex);
    outcome.delivered = counts.delivered;
    changed.notify_all();
  };
  std::string error;
  EXPECT_TRUE(output.Start(archive, error)) << error;
  StationReading named;
  named.serial = "214-36587";
  named.doseUnit = "mSv";
  output.Publish(named);
  {
    // A long bound only against a hang: either comes within seconds.
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, std::chrono::seconds(120),
                     [&] { return outcome.delivered > 0 || !outcome.notes.empty(); });
  }
  output.Stop();
  std::lock_guard<std::mutex> lock(mutex);
  return outcome;
}

TEST(MqttTlsWindows, OnlyATrustedBrokerNamedInItsCertificateGetsTheReading) {
  const std::string port = Environment(L"DRAVION_TEST_MQTT_TLS_PORT");
  const std::string misnamedPort = Environment(L"DRAVION_TEST_MQTT_MISNAMED_PORT");
  const std::string ca = Environment(L"DRAVION_TEST_MQTT_CA");
  ASSERT_TRUE(!port.empty() && !misnamedPort.empty() && !ca.empty())
      << "scripts/wine-mqtt-check starts the broker and this program";
  const std::string untrusted =
      "mqtt: no connection to the broker (the broker's certificate is not trusted: certificate "
      "verify failed); trying again, less and less often\n";

  // The `ca` file, under its Cyrillic name: the reading arrives, by name and by address.
  for (const char* host : {"localhost", "127.0.0.1"}) {
    const Outcome trusted =
        PublishOnce({{"host", host}, {"port", port}, {"tls", "yes"}, {"ca", ca}});
    EXPECT_EQ(trusted.delivered, 1u) << host << ": " << trusted.notes;
    EXPECT_EQ(trusted.notes, "") << host;
  }
  // The same authority's certificate for another name.
  const Outcome misnamed =
      PublishOnce({{"host", "127.0.0.1"}, {"port", misnamedPort}, {"tls", "yes"}, {"ca", ca}});
  EXPECT_EQ(misnamed.delivered, 0u);
  EXPECT_EQ(misnamed.notes, untrusted);
  // Without `ca`, the system's root store, which does not hold the test's authority.
  const Outcome system = PublishOnce({{"host", "localhost"}, {"port", port}, {"tls", "yes"}});
  EXPECT_EQ(system.delivered, 0u);
  EXPECT_EQ(system.notes, untrusted);
}

}  // namespace
}  // namespace dravion
