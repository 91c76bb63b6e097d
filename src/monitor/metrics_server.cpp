#include "monitor/metrics_server.h"

#include <httplib.h>

#include <chrono>
#include <condition_variable>

#include "device/measurement.h"
#include "services/number_text.h"

namespace dravion {
namespace {

// A label value: backslash, double quote and line feed escaped.
std::string LabelValue(const std::string& value) {
  std::string escaped;
  for (const char c : value) {
    if (c == '\\' || c == '"') {
      escaped += '\\';
      escaped += c;
    } else if (c == '\n') {
      escaped += "\\n";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

void Family(std::string& text, const char* name, const char* type, const char* help) {
  text += std::string("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
}

}  // namespace

std::string MetricsText(const StationMetrics& metrics) {
  std::string text;
  const std::string serial = metrics.last ? metrics.last->serial : std::string();
  const std::string device = "serial=\"" + LabelValue(serial) + "\"";
  auto sample = [&](const char* name, const std::string& labels, double value) {
    text += std::string(name) + '{' + labels + "} " + ShortestDecimal(value) + '\n';
  };
  if (metrics.last) {
    const StationReading& r = *metrics.last;
    if (r.microSievertPerHour) {
      Family(text, "dravion_dose_rate_microsieverts_per_hour", "gauge",
             "Mean dose rate of the newest reading, in microsieverts per hour.");
      sample("dravion_dose_rate_microsieverts_per_hour", device, *r.microSievertPerHour);
    }
    Family(text, "dravion_count_rate_cpm", "gauge",
           "Mean count rate of the newest reading, in counts per minute.");
    sample("dravion_count_rate_cpm", device, r.cpm);
    if (const std::optional<double> dose = DeviceNumber(r.dose)) {
      Family(text, "dravion_accumulated_dose", "gauge",
             "Accumulated dose as the device shows it, in the unit of the label unit.");
      sample("dravion_accumulated_dose", device + ",unit=\"" + LabelValue(r.doseUnit) + "\"",
             *dose);
    }
    Family(text, "dravion_reading_timestamp_seconds", "gauge",
           "End of the newest reading's interval, in seconds since 1970 (UTC).");
    sample("dravion_reading_timestamp_seconds", device, static_cast<double>(r.time));
  }
  Family(text, "dravion_readings_total", "counter", "Readings kept since the station started.");
  sample("dravion_readings_total", device, static_cast<double>(metrics.readings));
  if (!metrics.outputs.empty()) {
    auto perOutput = [&](const char* name, const char* type, const char* help, auto value) {
      Family(text, name, type, help);
      for (const auto& [output, counts] : metrics.outputs)
        sample(name, device + ",output=\"" + LabelValue(output) + "\"", value(counts));
    };
    perOutput("dravion_output_deliveries_total", "counter", "Readings an output delivered.",
              [](const OutputCounts& c) { return static_cast<double>(c.delivered); });
    perOutput("dravion_output_failures_total", "counter", "Failed attempts of an output.",
              [](const OutputCounts& c) { return static_cast<double>(c.failed); });
    perOutput("dravion_output_last_success_timestamp_seconds", "gauge",
              "Time of an output's last delivery, in seconds since 1970 (UTC); 0 before one.",
              [](const OutputCounts& c) { return static_cast<double>(c.lastSuccess); });
  }
  return text;
}

std::vector<ListenOption> ListenSocketOptions(bool windows) {
  if (windows) return {ListenOption::ExclusiveAddressUse};
  return {ListenOption::ReuseAddress};
}

bool SplitHostPort(const std::string& text, std::string& host, int& port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= text.size()) return false;
  host = text.substr(0, colon);
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return false;
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string::npos) {
    return false;  // an IPv6 address needs its brackets
  }
  const std::string digits = text.substr(colon + 1);
  if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
    return false;
  port = std::stoi(digits);
  return port <= 65535;
}

struct MetricsServer::Server {
  httplib::Server http;
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
};

MetricsServer::MetricsServer() : server_(std::make_unique<Server>()) {}

MetricsServer::~MetricsServer() {
  Stop();
}

bool MetricsServer::Start(const std::string& listen, std::string& error) {
  std::string host;
  int port = 0;
  if (!SplitHostPort(listen, host, port)) {
    error = "[prometheus] listen: \"" + listen + "\" is not host:port (127.0.0.1:9750)";
    return false;
  }
  httplib::Server& http = server_->http;
  // A scrape is small and quick: short time-outs let the server end soon when the station stops.
  http.set_read_timeout(2, 0);
  http.set_write_timeout(2, 0);
  http.set_keep_alive_timeout(1);
  http.set_payload_max_length(4096);
#ifdef _WIN32
  const bool windows = true;
#else
  const bool windows = false;
#endif
  http.set_socket_options([windows](socket_t sock) {
    for (const ListenOption option : ListenSocketOptions(windows)) {
#ifdef _WIN32
      const BOOL yes = TRUE;
      const int name =
          option == ListenOption::ExclusiveAddressUse ? SO_EXCLUSIVEADDRUSE : SO_REUSEADDR;
      ::setsockopt(sock, SOL_SOCKET, name, reinterpret_cast<const char*>(&yes), sizeof yes);
#else
      const int yes = 1;
      if (option == ListenOption::ReuseAddress)
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
#endif
    }
  });
  http.Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
    std::string text;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      text = MetricsText(metrics_);
    }
    response.set_content(text, "text/plain; version=0.0.4; charset=utf-8");
  });
  if (port == 0) {
    port_ = http.bind_to_any_port(host);
  } else {
    port_ = http.bind_to_port(host, port) ? port : -1;
  }
  if (port_ <= 0) {
    error = "[prometheus] could not listen on " + listen +
            " (another program may use the port, or the address is not this computer's)";
    return false;
  }
  thread_ = std::thread([this] {
    server_->http.listen_after_bind();
    std::lock_guard<std::mutex> lock(server_->mutex);
    server_->done = true;
    server_->ended.notify_all();
  });
  return true;
}

void MetricsServer::Publish(const StationReading& reading) {
  std::lock_guard<std::mutex> lock(mutex_);
  metrics_.last = reading;
  ++metrics_.readings;
}

void MetricsServer::Count(const std::string& output, const OutputCounts& counts) {
  std::lock_guard<std::mutex> lock(mutex_);
  metrics_.outputs[output] = counts;
}

void MetricsServer::Stop() {
  if (!thread_.joinable()) return;
  // The server ignores a stop that comes before its loop has begun (and must not be stopped
  // twice): stopped once it runs, looked at again every 50 ms until it has ended.
  std::unique_lock<std::mutex> lock(server_->mutex);
  bool stopped = false;
  while (!server_->done) {
    if (!stopped && server_->http.is_running()) {
      server_->http.stop();
      stopped = true;
    }
    server_->ended.wait_for(lock, std::chrono::milliseconds(50));
  }
  lock.unlock();
  thread_.join();
}

}  // namespace dravion
