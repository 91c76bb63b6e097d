#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "monitor/station_output.h"

namespace dravion {

// What the metrics page shows: the newest reading and the station's counts.
struct StationMetrics {
  std::optional<StationReading> last;
  uint64_t readings = 0;                        // readings kept since the start
  std::map<std::string, OutputCounts> outputs;  // by output name
};

// The station's metrics in the Prometheus text format (version 0.0.4): gauges of the newest
// reading (dose rate in µSv/h, count rate, accumulated dose with the device's unit), the count of
// readings and of deliveries and failures per output, and each output's last success, all named
// dravion_* and labelled with the device's serial number. Numbers whatever the locale.
std::string MetricsText(const StationMetrics& metrics);

// An HTTP server on a host and port of this computer that answers GET /metrics with MetricsText,
// on a thread of its own: cpp-httplib parses the requests and writes the answers, while the
// server holds the sockets within limits that no client can push it past (the size of a request,
// the time to send it and to take the answer, the connections open at once), and stops at once.
// Publish keeps the newest reading; Count updates an output's counts.
class MetricsServer : public StationOutput {
 public:
  MetricsServer();
  ~MetricsServer() override;

  // `listen` is "host:port" ("127.0.0.1:9750"; port 0 takes a free one). False with `error`.
  bool Start(const std::string& listen, std::string& error);
  // The port it listens on (after Start).
  int Port() const { return port_; }

  std::string Name() const override { return "prometheus"; }
  void Publish(const StationReading& reading) override;
  void Stop() override;
  void Count(const std::string& output, const OutputCounts& counts);

 private:
  struct Server;
  std::unique_ptr<Server> server_;
  std::mutex mutex_;
  StationMetrics metrics_;
  std::thread thread_;
  int port_ = 0;
};

// The options a listening socket of the metrics server gets, by platform. Another program must
// not be able to listen on the same port beside it (scrapes would go to either): on Windows only
// SO_EXCLUSIVEADDRUSE, which must not be combined with SO_REUSEADDR (that combination fails and
// leaves the port open to others); elsewhere SO_REUSEADDR alone (a restart while old connections
// linger), never SO_REUSEPORT.
enum class ListenOption { ReuseAddress, ExclusiveAddressUse };
std::vector<ListenOption> ListenSocketOptions(bool windows);

// Splits "host:port" ("[::1]:9750" for IPv6); false when it is not one.
bool SplitHostPort(const std::string& text, std::string& host, int& port);

}  // namespace dravion
