#include <gtest/gtest.h>

#include "archive/station_store.h"
#include "monitor/network_output.h"
#include "monitor/network_stand_in.h"
#include "support/scratch_folder.h"

namespace dravion {
namespace {

using namespace std::chrono_literals;

using test::NetworkStandIn;

// Each network gets what its API documents; while a network is down the readings wait, and reach
// a network that takes past readings later, in order and once each, from the archive's queue,
// while a network of the current value gets only the newest; a refused key is said once and not
// tried again; no secret appears in a note.
TEST(NetworkOutput, NetworksDownOrRefusingLoseNothingAndReplayOnlyWhatTheyTake) {
  NetworkStandIn standIn;
  test::ScratchFolder folder("network-output");
  const std::string archive = folder.Utf8() + "/archive.sqlite3";
  MonitorConfig config;
  config.sections["radmon"] = {
      {"user", "station"}, {"password", "pass word&1"}, {"url", standIn.Url("/radmon.php")}};
  config.sections["gmcmap"] = {
      {"account", "0230111"}, {"device", "0034021"}, {"url", standIn.Url("/log2.asp")}};
  config.sections["safecast"] = {{"api_key", "k3y"},
                                 {"latitude", "51.5"},
                                 {"longitude", "-0.125"},
                                 {"device_id", "7"},
                                 {"url", standIn.Url("/measurements.json")}};
  test::NetworksUnderTest networks;
  std::string error;
  // Long enough that the readings taken right after a failed try are all there at the next.
  ASSERT_TRUE(networks.Start(config, archive, {500ms, 1000ms}, error)) << error;
  ASSERT_EQ(networks.outputs.size(), 3u);
  auto& counts = networks.counts;
  auto& notes = networks.notes;
  auto& store = networks.store;
  auto take = [&](double cpm) { networks.Take(cpm); };

  take(30);
  ASSERT_TRUE(standIn.WaitForTaken("radmon", 1) && standIn.WaitForTaken("gmcmap", 1) &&
              standIn.WaitForTaken("safecast", 1));
  EXPECT_EQ(standIn.Taken("radmon"), std::vector<std::string>{"30"});

  // Down for three readings: each network tries, fails and waits; the queue holds them.
  standIn.SetMode(NetworkStandIn::Mode::Down);
  // Each network of the current value has tried reading 41 and failed before 42 and 43 come; a
  // try that was under way as they came would rightly carry 41, the newest at its start.
  const size_t radmonBefore = standIn.Requests("radmon");
  const size_t gmcmapDown = standIn.Requests("gmcmap");
  take(41);
  ASSERT_TRUE(standIn.WaitForRequests("radmon", radmonBefore + 1) &&
              standIn.WaitForRequests("gmcmap", gmcmapDown + 1));
  take(42);
  take(43);
  EXPECT_GE(store.QueuedCount("safecast"), 3u);
  standIn.SetMode(NetworkStandIn::Mode::Up);
  ASSERT_TRUE(counts.WaitForDelivered("safecast", 4)) << notes.All();
  // Delivered as the outputs see it (their notes are said by then).
  ASSERT_TRUE(counts.WaitForDelivered("radmon", 2) && counts.WaitForDelivered("gmcmap", 2));
  // Safecast: every reading, in order, once. Radmon and GMCmap: the newest only, never the
  // overtaken ones as current.
  const std::vector<std::string> safecast = standIn.Taken("safecast");
  ASSERT_EQ(safecast.size(), 4u);
  EXPECT_EQ(safecast[0], "2026-12-08T14:59:00Z");
  EXPECT_EQ(safecast[3], "2026-12-08T15:02:00Z");
  EXPECT_TRUE(std::is_sorted(safecast.begin(), safecast.end()));
  EXPECT_EQ(standIn.Taken("radmon"), (std::vector<std::string>{"30", "43"}));
  EXPECT_EQ(standIn.Taken("gmcmap"), (std::vector<std::string>{"30", "43"}));
  EXPECT_EQ(store.QueuedCount("safecast"), 0u);
  EXPECT_EQ(notes.Count("radmon: not delivered (HTTP status 503)"), 1u) << notes.All();
  EXPECT_EQ(notes.Count("radmon: delivered again"), 1u) << notes.All();

  // Refused: said once each, and not tried again.
  standIn.SetMode(NetworkStandIn::Mode::Refusing);
  const size_t gmcmapBefore = standIn.Requests("gmcmap");
  std::map<std::string, uint64_t> failedBefore;
  for (const char* name : {"radmon", "gmcmap", "safecast"})
    failedBefore[name] = counts.Failed(name);
  take(50);
  for (const char* name : {"radmon", "gmcmap", "safecast"})
    ASSERT_TRUE(counts.WaitForFailed(name, failedBefore[name] + 1)) << name;
  take(51);
  networks.Stop();
  EXPECT_EQ(standIn.Requests("gmcmap"), gmcmapBefore + 1);
  EXPECT_EQ(notes.Count("gmcmap: the account or the device identifier was not found"), 1u)
      << notes.All();
  EXPECT_EQ(notes.Count("radmon: the user name or the data sending password was refused"), 1u);
  EXPECT_EQ(notes.Count("safecast: the API key was refused"), 1u);
  // The readings the refused key did not deliver stay queued for the next start.
  EXPECT_EQ(store.QueuedCount("safecast"), 2u);
  EXPECT_TRUE(standIn.faults.empty()) << standIn.faults.front();
  const std::string all = notes.All();
  EXPECT_EQ(all.find("pass word"), std::string::npos) << all;
  EXPECT_EQ(all.find("k3y"), std::string::npos) << all;
}

TEST(NetworkOutput, AnIncompleteSectionIsSaidByNameWithoutItsSecrets) {
  MonitorConfig config;
  std::vector<std::unique_ptr<NetworkOutput>> outputs;
  std::string error;
  config.sections["radmon"] = {{"password", "s3cret"}};
  EXPECT_FALSE(MakeNetworkOutputs(config, outputs, error));
  EXPECT_EQ(error, "[radmon] needs user");
  config.sections.clear();
  config.sections["safecast"] = {{"api_key", "s3cret"}, {"latitude", "51,5"}, {"longitude", "0"}};
  EXPECT_FALSE(MakeNetworkOutputs(config, outputs, error));
  EXPECT_NE(error.find("decimal point"), std::string::npos);
  EXPECT_EQ(error.find("s3cret"), std::string::npos);
}

}  // namespace
}  // namespace dravion
