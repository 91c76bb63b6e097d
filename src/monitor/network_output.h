#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "archive/station_store.h"
#include "monitor/http_request.h"
#include "monitor/monitor_config.h"
#include "monitor/station_output.h"

namespace dravion {

// What a service said to one reading.
enum class Delivery {
  Delivered,
  Retry,     // not now (no network, the service down or busy): the same reading again later
  Refused,   // the login or key was refused: said once, not tried again until a restart
  Rejected,  // this reading will never be taken (its values refused): it is dropped
};

// A radiation monitoring network reached over HTTP, on a thread of its own. An output that
// replays delivers every reading, oldest first, from the archive's queue (what could not be
// delivered waits there across restarts); one that takes only the current value gets the newest
// reading only, and a reading that a newer one overtook while the service was away is never sent
// as current. After a failure the next try waits, twice as long each time up to a limit.
class NetworkOutput : public StationOutput {
 public:
  struct Retries {
    std::chrono::milliseconds first{10'000};
    std::chrono::milliseconds longest{15 * 60'000};
  };

  NetworkOutput(std::string name, bool replays);
  ~NetworkOutput() override;

  // Opens the archive's queue (for an output that replays) and starts the thread; false with
  // `error`.
  bool Start(const std::string& archivePath, std::string& error);
  std::string Name() const override { return name_; }
  bool Replays() const override { return replays_; }
  void Publish(const StationReading& reading) override;
  void Stop() override;

  // Called on the output's thread: a change of its state in words (delivering again, failing,
  // refused), said once each; and its counts after every try.
  std::function<void(const std::string&)> note;
  std::function<void(const OutputCounts&)> counted;
  Retries retries;
  // Certificate authorities trusted for this output besides the system's (its section's `ca`).
  // The station whose queue it delivers from (MonitorConfig::station).
  std::string station;
  std::string authoritiesPem;

  // The request for a reading, and what an answer means.
  virtual HttpExchange Request(const StationReading& reading) const = 0;
  virtual Delivery Judge(const HttpAnswer& answer, std::string& why) const = 0;

 private:
  void Work();
  void Say(const std::string& text);

  const std::string name_;
  const bool replays_;
  StationStore queue_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  bool published_ = false;
  std::optional<StationReading> newest_;  // an output of the current value only
  std::atomic<bool> abort_{false};
  OutputCounts counts_;
};

// The network outputs the configuration turns on ([radmon], [gmcmap], [safecast]); false with
// `error` naming the section and the key it lacks or cannot use (never a secret's value).
bool MakeNetworkOutputs(const MonitorConfig& config,
                        std::vector<std::unique_ptr<NetworkOutput>>& outputs, std::string& error);

}  // namespace dravion
