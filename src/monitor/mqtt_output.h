#pragma once

#include <functional>
#include <memory>
#include <string>

#include "monitor/monitor_config.h"
#include "monitor/station_output.h"

namespace dravion {

// The station's readings on an MQTT broker (libmosquitto), for home automation: Home Assistant's
// discovery configs (retained) for the dose rate, the count rate and the accumulated dose, a state
// message per reading (QoS 1), and the device's availability ("online", and "offline" as the
// broker's last will). Readings are queued in the archive and published in the order taken, the
// next only once the broker has acknowledged the one before; a broker away or restarting is
// reconnected to by itself (growing waits) and gets what waited. Another device on the station
// is announced in turn, and the one before is said "offline". A refused login is said once and
// not tried again; so is a failing publish, while it is tried again.
class MqttOutput : public StationOutput {
 public:
  explicit MqttOutput(const MonitorConfig& config);
  ~MqttOutput() override;

  // Checks the section (false with `error` naming the key), opens the queue and connects.
  bool Start(const std::string& archivePath, std::string& error);
  std::string Name() const override { return "mqtt"; }
  bool Replays() const override { return true; }
  void Publish(const StationReading& reading) override;
  // Says "offline", disconnects cleanly and ends its threads, within two seconds whatever the
  // broker or the name server do: a thread still waiting on a look-up of the broker's name is left
  // to end by itself (it says nothing more).
  void Stop() override;

  // Set before Start; called on the output's threads.
  std::function<void(const std::string&)> note;
  std::function<void(const OutputCounts&)> counted;

 private:
  struct Session;
  std::shared_ptr<Session> session_;  // shared with its threads, which may outlive the output
};

}  // namespace dravion
