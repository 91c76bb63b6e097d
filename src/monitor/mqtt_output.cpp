#include "monitor/mqtt_output.h"

#include <mosquitto.h>

#include <charconv>
#ifdef _WIN32
#include <openssl/ssl.h>

#include "monitor/tls_client_context.h"
#endif

#include "device/measurement.h"
#include "services/number_text.h"

namespace dravion {
namespace {

// A JSON string: quotes, backslashes and control characters escaped.
std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      quoted += escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::string Replaced(std::string text, const std::string& what, const std::string& with) {
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
  return text;
}

}  // namespace

MqttOutput::MqttOutput(const MonitorConfig& config) : config_(config) {
  host_ = config.Get("mqtt", "host", "localhost");
  topic_ = config.Get("mqtt", "topic", "dravion/<serial>");
  discovery_ = config.Get("mqtt", "discovery", "homeassistant");
}

MqttOutput::~MqttOutput() {
  Stop();
}

std::string MqttOutput::StateTopic(const std::string& serial) const {
  return Replaced(topic_, "<serial>", serial) + "/state";
}

std::string MqttOutput::AvailabilityTopic(const std::string& serial) const {
  return Replaced(topic_, "<serial>", serial) + "/availability";
}

std::string MqttOutput::StatePayload(const StationReading& r) {
  std::string payload = "{\"time\":\"" + UtcText(r.time, true) + "\"";
  payload +=
      ",\"usvh\":" + (r.microSievertPerHour ? ShortestDecimal(*r.microSievertPerHour) : "null");
  payload += ",\"cpm\":" + ShortestDecimal(r.cpm);
  const std::optional<double> dose = DeviceNumber(r.dose);
  payload += ",\"dose\":" + (dose ? ShortestDecimal(*dose) : "null");
  payload += ",\"dose_unit\":" + JsonString(r.doseUnit);
  payload += ",\"seconds\":" + std::to_string(r.seconds) +
             ",\"samples\":" + std::to_string(r.samples) + "}";
  return payload;
}

std::vector<std::pair<std::string, std::string>> MqttOutput::Discovery(
    const std::string& serial, const std::string& doseUnit) const {
  std::vector<std::pair<std::string, std::string>> configs;
  if (discovery_.empty()) return configs;
  std::string id = "dravion_";
  for (const char c : serial) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) id += c;
  }
  const std::string device = "{\"identifiers\":[" + JsonString(id) +
                             "],\"name\":" + JsonString("Dravion " + serial) +
                             ",\"model\":\"Dravion\",\"serial_number\":" + JsonString(serial) + "}";
  struct Sensor {
    const char* key;
    const char* name;
    std::string unit;
    const char* field;
    const char* stateClass;
  };
  const Sensor sensors[] = {
      {"dose_rate", "Dose rate", "\xC2\xB5Sv/h", "usvh", "measurement"},
      {"cpm", "Count rate", "CPM", "cpm", "measurement"},
      {"dose", "Accumulated dose", doseUnit, "dose", "total_increasing"},
  };
  for (const Sensor& s : sensors) {
    std::string payload =
        "{\"name\":" + JsonString(s.name) + ",\"unique_id\":" + JsonString(id + "_" + s.key) +
        ",\"state_topic\":" + JsonString(StateTopic(serial)) +
        ",\"value_template\":" + JsonString(std::string("{{ value_json.") + s.field + " }}") +
        ",\"availability_topic\":" + JsonString(AvailabilityTopic(serial));
    if (!s.unit.empty()) payload += ",\"unit_of_measurement\":" + JsonString(s.unit);
    payload += ",\"state_class\":" + JsonString(s.stateClass) + ",\"device\":" + device + "}";
    configs.emplace_back(discovery_ + "/sensor/" + id + "/" + s.key + "/config", payload);
  }
  return configs;
}

bool MqttOutput::Start(const std::string& archivePath, std::string& error) {
  const std::string port = config_.Get("mqtt", "port", "1883");
  const auto parsed = std::from_chars(port.data(), port.data() + port.size(), port_);
  if (parsed.ec != std::errc() || parsed.ptr != port.data() + port.size() || port_ < 1 ||
      port_ > 65535) {
    error = "[mqtt] port is a number from 1 to 65535";
    return false;
  }
  const std::string tls = config_.Get("mqtt", "tls", "no");
  if (tls != "yes" && tls != "no") {
    error = "[mqtt] tls is yes or no";
    return false;
  }
  if (tls == "yes") {
    std::string authorities;
    if (!ReadConfigAuthorities(config_, "mqtt", authorities, error)) return false;
#ifdef _WIN32
    // OpenSSL finds no certificate authorities of Windows by itself, nor opens a file by a name
    // outside the system's code page: the library is handed a context that trusts the `ca` file
    // as read here, or else the system's root store, and checks the broker's name.
    std::string why;
    tlsContext_ = NewTlsClientContext(host_, authorities, why);
    if (tlsContext_ == nullptr) {
      error = "[mqtt] tls: " + why;
      return false;
    }
#endif
  }
  if (topic_.empty() || topic_.find_first_of("+#") != std::string::npos) {
    error = "[mqtt] topic must not be empty nor hold + or #";
    return false;
  }
  if (!queue_.Open(archivePath, config_.station)) {
    error = "mqtt: " + queue_.Error();
    return false;
  }
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
  thread_ = std::thread([this] { Work(); });
  return true;
}

void MqttOutput::Publish(const StationReading& reading) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (serial_.empty()) {
    serial_ = reading.serial;
    doseUnit_ = reading.doseUnit;
  }
  published_ = true;
  wake_.notify_all();
}

void MqttOutput::Say(const std::string& text) {
  if (note) note("mqtt: " + text);
}

// The library calls these on its thread holding a lock of its own: they take the output's lock
// only briefly and call the library only once it is let go, and the output's thread never calls
// the library while holding its own lock (the two locks are never taken in the other order).
void MqttOutput::OnConnect(mosquitto* client, void* self, int rc) {
  auto* output = static_cast<MqttOutput*>(self);
  std::unique_lock<std::mutex> lock(output->mutex_);
  if (rc == 0) {
    output->connected_ = true;
    output->certificateRefused_ = false;
    output->announced_ = false;
    if (output->saidAway_) output->Say("connected to the broker again");
    output->saidAway_ = false;
  } else if (rc == 4 || rc == 5) {
    // Bad user name or password, not authorised: not tried again.
    output->refused_ = true;
    output->Say(
        "the broker refused the login; nothing more is sent until the monitor is "
        "started again");
    output->wake_.notify_all();
    lock.unlock();
    mosquitto_disconnect(client);
    return;
  } else if (!output->saidAway_) {
    output->saidAway_ = true;
    output->Say(std::string("the broker refused the connection (") + mosquitto_connack_string(rc) +
                "); trying again, less and less often");
  }
  output->wake_.notify_all();
}

void MqttOutput::OnDisconnect(mosquitto*, void* self, int rc) {
  auto* output = static_cast<MqttOutput*>(self);
  std::lock_guard<std::mutex> lock(output->mutex_);
  // A message waiting for its acknowledgement is sent again by the library once connected (it
  // keeps its outgoing messages across a disconnect), and acknowledged then; the reading stays
  // queued until it is.
  output->connected_ = false;
  if (rc != 0 && !output->stopping_ && !output->refused_ && !output->saidAway_) {
    output->saidAway_ = true;
    output->Say(output->certificateRefused_
                    ? "no connection to the broker (" + output->FailureWords({}) +
                          "); trying again, less and less often"
                    : "the broker went away; connecting again, less and less often");
  }
  output->wake_.notify_all();
}

void MqttOutput::OnPublish(mosquitto*, void* self, int mid) {
  auto* output = static_cast<MqttOutput*>(self);
  std::lock_guard<std::mutex> lock(output->mutex_);
  output->acknowledged_.insert(mid);
  output->wake_.notify_all();
}

void MqttOutput::OnLog(mosquitto*, void* self, int level, const char* text) {
  // The library says why a TLS handshake failed only in its log: OpenSSL's words for a
  // certificate that is not trusted or does not name the host.
  if (level != MOSQ_LOG_ERR || text == nullptr ||
      std::string(text).find("certificate verify failed") == std::string::npos)
    return;
  auto* output = static_cast<MqttOutput*>(self);
  std::lock_guard<std::mutex> lock(output->mutex_);
  output->certificateRefused_ = true;
}

std::string MqttOutput::FailureWords(const std::string& libraryWords) const {
  return certificateRefused_ ? "the broker's certificate is not trusted: certificate verify failed"
                             : libraryWords;
}

void MqttOutput::Connect() {
  // On this thread, the output's lock not held.
  client_ = mosquitto_new(nullptr, true, this);
  if (client_ == nullptr) {
    std::lock_guard<std::mutex> lock(mutex_);
    Say("the MQTT library could not start");
    refused_ = true;
    return;
  }
  mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  const std::string user = config_.Get("mqtt", "user");
  const std::string password = config_.Get("mqtt", "password");
  if (!user.empty())
    mosquitto_username_pw_set(client_, user.c_str(), password.empty() ? nullptr : password.c_str());
  mosquitto_will_set(client_, will_.c_str(), 7, "offline", 1, true);
#ifdef _WIN32
  if (tlsContext_ != nullptr) {
    // The context as it is, without the library's defaults (which would want a file to trust);
    // the library takes a reference of its own.
    if (mosquitto_int_option(client_, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0) != MOSQ_ERR_SUCCESS ||
        mosquitto_void_option(client_, MOSQ_OPT_SSL_CTX, tlsContext_) != MOSQ_ERR_SUCCESS) {
      std::lock_guard<std::mutex> lock(mutex_);
      Say("the MQTT library has no TLS");
      refused_ = true;
      return;
    }
  }
#else
  if (config_.Get("mqtt", "tls", "no") == "yes") {
    const std::string ca = config_.Get("mqtt", "ca");
    if (mosquitto_tls_set(client_, ca.empty() ? nullptr : ca.c_str(),
                          ca.empty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr,
                          nullptr) != MOSQ_ERR_SUCCESS) {
      std::lock_guard<std::mutex> lock(mutex_);
      Say("TLS could not be set up with the certificate authority " + ca);
      refused_ = true;
      return;
    }
  }
#endif
  // The output runs the library's loop on a thread of its own (Loop).
  mosquitto_threaded_set(client_, true);
  mosquitto_connect_callback_set(client_, OnConnect);
  mosquitto_disconnect_callback_set(client_, OnDisconnect);
  mosquitto_publish_callback_set(client_, OnPublish);
  mosquitto_log_callback_set(client_, OnLog);
  const int rc = mosquitto_connect_async(client_, host_.c_str(), port_, 60);
  loop_ = std::thread([this] { Loop(); });
  std::lock_guard<std::mutex> lock(mutex_);
  if (rc != MOSQ_ERR_SUCCESS && !saidAway_) {
    saidAway_ = true;
    Say("no connection to the broker (" + FailureWords(mosquitto_strerror(rc)) +
        "); trying again, less and less often");
  }
}

// The library's network loop, and connecting again after 2 s, then twice as long each time up
// to 2 minutes. Not the library's own loop thread: that one ends for good when a TLS handshake
// fails (an untrusted certificate), while the output goes on trying, and says why once.
void MqttOutput::Loop() {
  constexpr std::chrono::seconds kFirstWait{2}, kLongestWait{120};
  std::chrono::seconds wait = kFirstWait;
  for (;;) {
    // Sleeps until traffic, a message to send (the library wakes it) or a second has passed.
    const int rc = mosquitto_loop(client_, 1000, 1);
    std::unique_lock<std::mutex> lock(mutex_);
    // Stopping: once "offline" and the disconnect are out (the library then says it is
    // disconnected), or when the broker does not take them in time.
    if (stopping_ &&
        (!connected_ || rc != MOSQ_ERR_SUCCESS || std::chrono::steady_clock::now() > stopBy_))
      return;
    if (rc == MOSQ_ERR_SUCCESS) {
      if (connected_) wait = kFirstWait;
      continue;
    }
    if (refused_) {
      wake_.wait(lock, [&] { return stopping_; });
      return;
    }
    if (!saidAway_) {
      saidAway_ = true;
      Say("no connection to the broker (" + FailureWords(mosquitto_strerror(rc)) +
          "); trying again, less and less often");
    }
    wake_.wait_for(lock, wait, [&] { return stopping_; });
    if (stopping_) return;
    wait = std::min(wait * 2, kLongestWait);
    lock.unlock();
    mosquitto_reconnect_async(client_);
  }
}

void MqttOutput::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  int inFlight = -1;       // the message id of the reading waiting for its acknowledgement
  int64_t inFlightId = 0;  // and the reading's row
  while (!stopping_) {
    if (refused_) {
      wake_.wait(lock, [&] { return stopping_; });
      break;
    }
    if (serial_.empty()) {
      // The first queued reading names the device (the topics and the last will need it).
      lock.unlock();
      auto oldest = queue_.Queued("mqtt", 1);
      lock.lock();
      if (!oldest.empty()) {
        serial_ = oldest.front().second.serial;
        doseUnit_ = oldest.front().second.doseUnit;
      } else {
        wake_.wait(lock, [&] { return stopping_ || !serial_.empty(); });
      }
      continue;
    }
    if (client_ == nullptr) {
      will_ = AvailabilityTopic(serial_);
      lock.unlock();
      Connect();
      lock.lock();
      continue;
    }
    if (!connected_) {
      wake_.wait(lock, [&] { return stopping_ || connected_ || refused_; });
      continue;
    }
    if (!announced_) {
      announced_ = true;
      const auto discovery = Discovery(serial_, doseUnit_);
      lock.unlock();
      mosquitto_publish(client_, nullptr, will_.c_str(), 6, "online", 1, true);
      for (const auto& [topic, payload] : discovery)
        mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), 1, true);
      lock.lock();
      continue;
    }
    if (inFlight >= 0) {
      // Kept by the library across a disconnect and sent again once connected: the reading
      // stays queued until the broker has it.
      if (acknowledged_.count(inFlight) == 0) {
        wake_.wait(lock, [&] { return stopping_ || acknowledged_.count(inFlight) != 0; });
        continue;
      }
      acknowledged_.clear();
      inFlight = -1;
      lock.unlock();
      queue_.Dequeue("mqtt", inFlightId, true);
      lock.lock();
      ++counts_.delivered;
      counts_.lastSuccess = std::chrono::duration_cast<std::chrono::seconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count();
      if (counted) counted(counts_);
      continue;
    }
    published_ = false;
    lock.unlock();
    auto oldest = queue_.Queued("mqtt", 1);
    int mid = 0;
    int rc = MOSQ_ERR_SUCCESS;
    if (!oldest.empty()) {
      const std::string payload = StatePayload(oldest.front().second);
      const std::string topic = StateTopic(oldest.front().second.serial);
      rc = mosquitto_publish(client_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                             payload.data(), 1, false);
    }
    lock.lock();
    if (oldest.empty()) {
      wake_.wait(lock, [&] { return stopping_ || published_; });
    } else if (rc == MOSQ_ERR_SUCCESS) {
      inFlight = mid;
      inFlightId = oldest.front().first;
    } else {
      ++counts_.failed;
      if (counted) counted(counts_);
      wake_.wait_for(lock, std::chrono::seconds(1), [&] { return stopping_; });
    }
  }
}

void MqttOutput::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ && !thread_.joinable()) return;
    stopping_ = true;
    stopBy_ = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    wake_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
  if (client_ != nullptr) {
    // A clean end sends no last will: the station says it is offline itself, then disconnects.
    bool connected;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      connected = connected_;
    }
    if (connected) mosquitto_publish(client_, nullptr, will_.c_str(), 7, "offline", 1, true);
    mosquitto_disconnect(client_);
    if (loop_.joinable()) loop_.join();
    mosquitto_destroy(client_);
    client_ = nullptr;
  }
#ifdef _WIN32
  SSL_CTX_free(tlsContext_);
  tlsContext_ = nullptr;
#endif
}

}  // namespace dravion
