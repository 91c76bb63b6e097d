#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "archive/station_store.h"
#include "monitor/monitor_config.h"
#include "monitor/station_output.h"

struct mosquitto;
struct ssl_ctx_st;

namespace dravion {

// The station's readings on an MQTT broker (libmosquitto), for home automation: Home Assistant's
// discovery configs (retained) for the dose rate, the count rate and the accumulated dose, a state
// message per reading (QoS 1), and the station's availability ("online", and "offline" as the
// broker's last will). Readings are queued in the archive and published in the order taken, the
// next only once the broker has acknowledged the one before; a broker away or restarting is
// reconnected to by itself (growing waits) and gets what waited. A refused login is said once and
// not tried again.
class MqttOutput : public StationOutput {
 public:
  explicit MqttOutput(const MonitorConfig& config);
  ~MqttOutput() override;

  // Checks the section (false with `error` naming the key), opens the queue and connects.
  bool Start(const std::string& archivePath, std::string& error);
  std::string Name() const override { return "mqtt"; }
  bool Replays() const override { return true; }
  void Publish(const StationReading& reading) override;
  // Says "offline", disconnects cleanly and ends its threads.
  void Stop() override;

  std::function<void(const std::string&)> note;
  std::function<void(const OutputCounts&)> counted;

  // The topics of a device ("dravion/214-36587" unless the configuration names a topic).
  std::string StateTopic(const std::string& serial) const;
  std::string AvailabilityTopic(const std::string& serial) const;
  // Home Assistant's discovery: each config's topic and payload for a device.
  std::vector<std::pair<std::string, std::string>> Discovery(const std::string& serial,
                                                             const std::string& doseUnit) const;
  // A reading's state message.
  static std::string StatePayload(const StationReading& reading);

 private:
  void Work();
  void Connect();
  void Loop();
  void Say(const std::string& text);
  static void OnConnect(mosquitto*, void* self, int rc);
  static void OnDisconnect(mosquitto*, void* self, int rc);
  static void OnPublish(mosquitto*, void* self, int mid);
  static void OnLog(mosquitto*, void* self, int level, const char* text);
  // Why a connection failed, in words: `rc`'s, unless the broker's certificate was refused.
  std::string FailureWords(const std::string& libraryWords) const;

  const MonitorConfig config_;
  std::string host_;
  int port_ = 1883;
  std::string topic_;      // may hold <serial>
  std::string discovery_;  // the discovery prefix; empty: none
  mosquitto* client_ = nullptr;
  ssl_ctx_st* tlsContext_ = nullptr;  // Windows, with TLS: what the library is handed
  StationStore queue_;
  std::thread thread_;
  std::thread loop_;  // the library's network traffic and connecting again
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::chrono::steady_clock::time_point stopBy_;  // the last of "offline" and the disconnect
  bool connected_ = false;
  bool refused_ = false;
  bool announced_ = false;  // discovery and "online" sent on this connection
  bool wasConnected_ = false;
  bool saidAway_ = false;
  bool certificateRefused_ = false;  // the last TLS handshake found the broker's untrusted
  std::set<int> acknowledged_;       // message ids the broker acknowledged, not yet looked at
  bool published_ = false;           // a reading was queued since the queue was last looked at
  std::string serial_, doseUnit_, will_;
  OutputCounts counts_;
};

}  // namespace dravion
