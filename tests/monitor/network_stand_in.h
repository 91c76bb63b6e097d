#pragma once

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "archive/station_store.h"
#include "monitor/network_output.h"

namespace dravion::test {

// The three networks on loopback, each request checked against the service's documented API: a
// request that breaks it is answered 400 and noted as a fault of the test's subject. Plain HTTP,
// or the server it is given (an HTTPS one), which another can replace on the same port.
class NetworkStandIn {
 public:
  enum class Mode { Up, Down, Refusing };

  explicit NetworkStandIn(
      std::unique_ptr<httplib::Server> server = std::make_unique<httplib::Server>(),
      std::string scheme = "http")
      : scheme_(std::move(scheme)) {
    port_ = Serve(std::move(server), 0);
  }
  ~NetworkStandIn() { Halt(); }

  // Another server in place of the running one, on the same port; false when it cannot listen.
  bool Replace(std::unique_ptr<httplib::Server> server) {
    Halt();
    return Serve(std::move(server), port_) == port_;
  }

  int Port() const { return port_; }  // -1: it could not listen
  std::string Url(const char* path) const {
    return scheme_ + "://127.0.0.1:" + std::to_string(port_) + path;
  }
  void SetMode(Mode mode) {
    std::lock_guard<std::mutex> lock(mutex_);
    mode_ = mode;
  }
  // Waits until `service` has taken `count` readings (false after a long time: a failure).
  bool WaitForTaken(const std::string& service, size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20),
                             [&] { return taken_[service].size() >= count; });
  }
  bool WaitForRequests(const std::string& service, size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20),
                             [&] { return requests_[service] >= count; });
  }
  std::vector<std::string> Taken(const std::string& service) {
    std::lock_guard<std::mutex> lock(mutex_);
    return taken_[service];
  }
  size_t Requests(const std::string& service) {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_[service];
  }
  std::vector<std::string> faults;

 private:
  // Installs the checks on `server` and starts it on `wanted` (0: a free port); the port, or -1.
  int Serve(std::unique_ptr<httplib::Server> server, int wanted) {
    server_ = std::move(server);
    server_->Get("/radmon.php", [this](const httplib::Request& q, httplib::Response& a) {
      Check(
          q.get_param_value("function") == "submit" && q.get_param_value("user") == "station" &&
              q.get_param_value("password") == "pass word&1" &&
              std::regex_match(q.get_param_value("value"), std::regex(R"(\d+)")) &&
              q.get_param_value("unit") == "CPM" &&
              std::regex_match(q.get_param_value("datetime"),
                               std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")),
          "radmon", q, a, [&] { return mode_ == Mode::Refusing ? "Incorrect login." : "OK"; },
          q.get_param_value("value"));
    });
    server_->Get("/log2.asp", [this](const httplib::Request& q, httplib::Response& a) {
      const std::regex number(R"(\d+(\.\d+)?)");
      Check(
          q.get_param_value("AID") == "0230111" && q.get_param_value("GID") == "0034021" &&
              std::regex_match(q.get_param_value("CPM"), std::regex(R"(\d+)")) &&
              std::regex_match(q.get_param_value("ACPM"), number) &&
              std::regex_match(q.get_param_value("uSV"), number),
          "gmcmap", q, a,
          [&] { return mode_ == Mode::Refusing ? "Error! User not found.ERR1." : "OK.ERR0"; },
          q.get_param_value("CPM"));
    });
    server_->Post("/measurements.json", [this](const httplib::Request& q, httplib::Response& a) {
      const auto body = nlohmann::json::parse(q.body, nullptr, false);
      const auto& m = body.is_object() ? body["measurement"] : body;
      const bool ok = q.get_param_value("api_key") == "k3y" &&
                      q.get_header_value("Content-Type") == "application/json" && m.is_object() &&
                      m["latitude"] == 51.5 && m["longitude"] == -0.125 && m["value"].is_number() &&
                      m["unit"] == "cpm" && m["device_id"] == 7 && m["captured_at"].is_string() &&
                      std::regex_match(m["captured_at"].get<std::string>(),
                                       std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)"));
      Check(
          ok, "safecast", q, a, [] { return "{}"; }, ok ? m["captured_at"].get<std::string>() : "");
      if (a.status == 200) a.status = mode_ == Mode::Refusing ? 401 : 201;
    });
    // An HTTPS server without its certificate would never run (and never stop).
    if (!server_->is_valid()) return -1;
    const int port = wanted == 0 ? server_->bind_to_any_port("127.0.0.1")
                     : server_->bind_to_port("127.0.0.1", wanted) ? wanted
                                                                  : -1;
    // Bound and listening already: requests queue until the loop takes them.
    if (port > 0) thread_ = std::thread([this] { server_->listen_after_bind(); });
    return port;
  }
  void Halt() {
    if (!thread_.joinable()) return;
    // A stop before the loop has begun would be lost.
    while (!server_->is_running())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    server_->stop();
    thread_.join();
  }

  template <typename Body>
  void Check(bool valid, const std::string& service, const httplib::Request& q,
             httplib::Response& a, Body body, const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++requests_[service];
    if (!valid) {
      faults.push_back(service + ": " + q.method + " " + q.path + " " + q.body);
      a.status = 400;
    } else if (mode_ == Mode::Down) {
      a.status = 503;
    } else {
      a.status = 200;
      a.set_content(body(), "text/html");
      if (mode_ == Mode::Up) taken_[service].push_back(what);
    }
    changed_.notify_all();
  }

  std::string scheme_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  Mode mode_ = Mode::Up;
  std::map<std::string, std::vector<std::string>> taken_;
  std::map<std::string, size_t> requests_;
};

// The outputs' counts as they report them (after the queue was updated).
struct OutputCountsSeen {
  std::mutex mutex;
  std::condition_variable changed;
  std::map<std::string, OutputCounts> byOutput;
  void Set(const std::string& output, const OutputCounts& counts) {
    std::lock_guard<std::mutex> lock(mutex);
    byOutput[output] = counts;
    changed.notify_all();
  }
  uint64_t Failed(const std::string& output) {
    std::lock_guard<std::mutex> lock(mutex);
    return byOutput[output].failed;
  }
  bool WaitForFailed(const std::string& output, uint64_t failed) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(20),
                            [&] { return byOutput[output].failed >= failed; });
  }
  bool WaitForDelivered(const std::string& output, uint64_t delivered) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(20),
                            [&] { return byOutput[output].delivered >= delivered; });
  }
};

// The outputs' notes.
struct NotesSeen {
  std::mutex mutex;
  std::vector<std::string> lines;
  void Add(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    lines.push_back(line);
  }
  size_t Count(const std::string& part) {
    std::lock_guard<std::mutex> lock(mutex);
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& l) { return l.find(part) != std::string::npos; });
  }
  std::string All() {
    std::lock_guard<std::mutex> lock(mutex);
    std::string all;
    for (const std::string& l : lines)
      all += l + "\n";
    return all;
  }
};

// The network outputs of a configuration, started on an archive with the tries' waits given,
// what they say and count, and the station's part: a reading kept (queued for the networks that
// replay), then handed to every output.
struct NetworksUnderTest {
  // False with `error` when the configuration is refused or an output cannot start.
  bool Start(const MonitorConfig& config, const std::string& archive,
             NetworkOutput::Retries retries, std::string& error) {
    if (!MakeNetworkOutputs(config, outputs, error)) return false;
    if (!store.Open(archive)) {
      error = store.Error();
      return false;
    }
    for (auto& output : outputs) {
      output->retries = retries;
      output->note = [this](const std::string& text) { notes.Add(text); };
      output->counted = [this, name = output->Name()](const OutputCounts& c) {
        counts.Set(name, c);
      };
      if (!output->Start(archive, error)) return false;
    }
    return true;
  }
  // A reading a minute after the one before, `cpm` its count rate.
  void Take(double cpm) {
    StationReading r;
    r.time = (time += 60);
    r.cpm = cpm;
    r.microSievertPerHour = cpm / 150;
    r.rate = r.microSievertPerHour;
    r.serial = "214-36587";
    std::vector<std::string> replaying;
    for (auto& output : outputs) {
      if (output->Replays()) replaying.push_back(output->Name());
    }
    EXPECT_TRUE(store.Add(r, replaying)) << store.Error();
    for (auto& output : outputs)
      output->Publish(r);
  }
  void Stop() {
    for (auto& output : outputs)
      output->Stop();
  }

  NotesSeen notes;
  OutputCountsSeen counts;
  StationStore store;
  std::vector<std::unique_ptr<NetworkOutput>> outputs;  // stopped first when this goes
  int64_t time = 1796741880;
};

}  // namespace dravion::test
