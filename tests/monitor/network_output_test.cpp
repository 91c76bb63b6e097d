#include <gtest/gtest.h>

#include <atomic>

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

// A server on loopback whose answers the test sets; it counts the bytes of an endless answer.
class AnsweringServer {
 public:
  AnsweringServer() {
    server_.Post("/measurements.json", [this](const httplib::Request&, httplib::Response& a) {
      std::lock_guard<std::mutex> lock(mutex_);
      a.status = status_;
      a.set_content("{}", "application/json");
    });
    server_.Get("/endless", [this](const httplib::Request&, httplib::Response& a) {
      a.set_chunked_content_provider("text/plain", [this](size_t, httplib::DataSink& sink) {
        static const std::string block(64 * 1024, 'x');
        if (!sink.write(block.data(), block.size())) return false;
        return (served_ += block.size()) < (size_t{4} << 30);
      });
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~AnsweringServer() {
    while (!server_.is_running())
      std::this_thread::sleep_for(1ms);
    server_.stop();
    thread_.join();
  }
  std::string Url(const char* path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  void SetStatus(int status) {
    std::lock_guard<std::mutex> lock(mutex_);
    status_ = status;
  }
  size_t Served() const { return served_; }

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  std::mutex mutex_;
  int status_ = 400;
  std::atomic<size_t> served_{0};
};

// An answer is judged as the service documents it: radmon.org's "OK" is the whole answer (a
// captive portal's page that holds "OK" somewhere is not a delivery); an answer longer than the
// cap ends the exchange at once; a Safecast server that refuses every reading drops a few, then
// is taken as failing: the rest stay queued, said once, and go out once it takes them again.
TEST(NetworkOutput, AnswersAreJudgedAsTheServicesDocumentThem) {
  MonitorConfig config;
  config.sections["radmon"] = {{"user", "station"}, {"password", "p"}};
  std::vector<std::unique_ptr<NetworkOutput>> radmon;
  std::string error;
  ASSERT_TRUE(MakeNetworkOutputs(config, radmon, error)) << error;
  auto judged = [&](long status, const char* body) {
    HttpAnswer answer;
    answer.reached = true;
    answer.status = status;
    answer.body = body;
    std::string why;
    return radmon.front()->Judge(answer, why);
  };
  EXPECT_EQ(judged(200, "OK"), Delivery::Delivered);
  EXPECT_EQ(judged(200, "OK\r\n"), Delivery::Delivered);
  EXPECT_EQ(judged(200, "<html><body>BOOK your stay</body></html>"), Delivery::Retry);
  EXPECT_EQ(judged(200, "Welcome. OK to continue?"), Delivery::Retry);
  EXPECT_EQ(judged(503, "OK"), Delivery::Retry);
  EXPECT_EQ(judged(200, "Incorrect login."), Delivery::Refused);

  AnsweringServer server;
  std::atomic<bool> abort{false};
  HttpExchange endless;
  endless.url = server.Url("/endless");
  const HttpAnswer answer = RunHttpExchange(endless, abort);
  EXPECT_FALSE(answer.reached);
  EXPECT_NE(answer.error.find("longer than"), std::string::npos) << answer.error;
  EXPECT_LE(answer.body.size(), kHttpAnswerMaxBytes);
  // What the socket buffers held aside, no more was sent once the cap was reached.
  EXPECT_LT(server.Served(), size_t{32} << 20);

  test::ScratchFolder folder("network-output-judged");
  config.sections.clear();
  config.sections["safecast"] = {{"api_key", "k3y"},
                                 {"latitude", "51.5"},
                                 {"longitude", "-0.125"},
                                 {"url", server.Url("/measurements.json")}};
  test::NetworksUnderTest networks;
  ASSERT_TRUE(networks.Start(config, folder.Utf8() + "/archive.sqlite3", {20ms, 100ms}, error))
      << error;
  for (int i = 0; i < 10; ++i)
    networks.Take(30 + i);
  ASSERT_TRUE(networks.counts.WaitForFailed("safecast", 7)) << networks.notes.All();
  EXPECT_EQ(networks.store.QueuedCount("safecast"), 7u) << networks.notes.All();
  EXPECT_EQ(networks.notes.Count("safecast: a reading was refused and is dropped"), 3u)
      << networks.notes.All();
  EXPECT_EQ(networks.notes.Count("refuses every reading"), 1u) << networks.notes.All();
  server.SetStatus(201);
  ASSERT_TRUE(networks.counts.WaitForDelivered("safecast", 7)) << networks.notes.All();
  networks.Stop();
  EXPECT_EQ(networks.store.QueuedCount("safecast"), 0u);
  EXPECT_EQ(networks.notes.Count("safecast: delivered again"), 1u) << networks.notes.All();
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
