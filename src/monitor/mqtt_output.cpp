#include "monitor/mqtt_output.h"

#include <mosquitto.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#ifdef _WIN32
#include <openssl/ssl.h>

#include "monitor/tls_client_context.h"
#endif

#include "archive/station_store.h"
#include "device/measurement.h"
#include "services/number_text.h"

struct ssl_ctx_st;

namespace dravion {
namespace {

// The whole stop: "offline" and the disconnect out, the threads ended.
constexpr std::chrono::seconds kStopWait{2};

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

// The accumulated dose in µSv, from the device's text and its unit (which changes prefix as the
// dose grows: 799 uR, then 1.097 mR); 1 µSv = 100 µR, as for the rates. None for pulses or a unit
// not known.
std::optional<double> DoseMicrosieverts(const std::string& dose, const std::string& unit) {
  static const std::pair<const char*, double> kUnits[] = {
      {"uSv", 1},  {"\xC2\xB5Sv", 1}, {"мкЗв", 1},  {"mSv", 1e3},        {"мЗв", 1e3},
      {"Sv", 1e6}, {"Зв", 1e6},       {"uR", 1e-2}, {"\xC2\xB5R", 1e-2}, {"мкР", 1e-2},
      {"mR", 10},  {"мР", 10},        {"R", 1e4},   {"Р", 1e4}};
  const size_t first = unit.find_first_not_of(' ');
  const std::string name =
      first == std::string::npos ? "" : unit.substr(first, unit.find_last_not_of(' ') + 1 - first);
  const std::optional<double> value = DeviceNumber(dose);
  if (!value) return std::nullopt;
  for (const auto& [text, factor] : kUnits) {
    // Rounded to a millionth of a µSv, so that 1.097 mR reads 10.97 and not 10.969999999999999.
    if (name == text) return std::round(*value * factor * 1e6) / 1e6;
  }
  return std::nullopt;
}

}  // namespace

// What the output's threads share. The output holds it, and so does each of its threads: a
// thread that a stop leaves behind (waiting on a look-up of the broker's name) keeps what it uses.
// The library calls the callbacks on its thread holding a lock of its own: they take the session's
// lock only briefly and call the library only once it is let go, and the session's threads never
// call the library while holding the session's lock (the two locks are never taken in the other
// order).
struct MqttOutput::Session : std::enable_shared_from_this<MqttOutput::Session> {
  explicit Session(const MonitorConfig& config) : config_(config) {
    host_ = config.Get("mqtt", "host", "localhost");
    topic_ = config.Get("mqtt", "topic", "dravion/<serial>");
    discovery_ = config.Get("mqtt", "discovery", "homeassistant");
  }
  ~Session() {
    if (client_ != nullptr) mosquitto_destroy(client_);
#ifdef _WIN32
    SSL_CTX_free(tlsContext_);
#endif
  }

  std::string StateTopic(const std::string& serial) const {
    return Replaced(topic_, "<serial>", serial) + "/state";
  }
  std::string AvailabilityTopic(const std::string& serial) const {
    return Replaced(topic_, "<serial>", serial) + "/availability";
  }
  std::vector<std::pair<std::string, std::string>> Discovery(const std::string& serial) const;
  static std::string StatePayload(const StationReading& reading);

  void Begin() {
    std::lock_guard<std::mutex> lock(mutex_);
    workRunning_ = true;
    thread_ = std::thread([self = shared_from_this()] {
      self->Work();
      std::lock_guard<std::mutex> lock(self->mutex_);
      self->workRunning_ = false;
      self->wake_.notify_all();
    });
  }
  void Publish(const StationReading& reading) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (serial_.empty()) serial_ = reading.serial;
    published_ = true;
    wake_.notify_all();
  }
  void Stop();

  void Work();
  void Connect();
  void Loop();
  void EndConnection();
  void Abandon(std::unique_lock<std::mutex>& lock);
  // With the lock held.
  void Say(const std::string& text) {
    if (note) note("mqtt: " + text);
  }
  void PublishFailed(int rc);
  static void OnConnect(mosquitto*, void* self, int rc);
  static void OnDisconnect(mosquitto*, void* self, int rc);
  static void OnPublish(mosquitto*, void* self, int mid);
  static void OnLog(mosquitto*, void* self, int level, const char* text);
  // Why a connection failed, in words: `rc`'s, unless the broker's certificate was refused.
  std::string FailureWords(const std::string& libraryWords) const {
    return certificateRefused_
               ? "the broker's certificate is not trusted: certificate verify failed"
               : libraryWords;
  }

  const MonitorConfig config_;
  std::string host_;
  int port_ = 1883;
  std::string topic_;      // may hold <serial>
  std::string discovery_;  // the discovery prefix; empty: none
  std::function<void(const std::string&)> note;
  std::function<void(const OutputCounts&)> counted;
  mosquitto* client_ = nullptr;
  ssl_ctx_st* tlsContext_ = nullptr;  // Windows, with TLS: what the library is handed
  StationStore queue_;
  std::thread thread_;
  std::thread loop_;  // the library's network traffic and connecting again
  std::mutex mutex_;
  std::condition_variable wake_;
  bool workRunning_ = false, loopRunning_ = false;
  bool stopping_ = false;
  bool stopped_ = false;
  bool closing_ = false;                          // the connection ends for another device's
  std::chrono::steady_clock::time_point stopBy_;  // the last of "offline" and the disconnect
  bool connected_ = false;
  bool refused_ = false;
  bool announced_ = false;  // discovery and "online" sent on this connection
  bool saidAway_ = false;
  bool publishFailing_ = false;      // a publish failed, said, and none succeeded since
  bool certificateRefused_ = false;  // the last TLS handshake found the broker's untrusted
  std::set<int> acknowledged_;       // message ids the broker acknowledged, not yet looked at
  bool published_ = false;           // a reading was queued since the queue was last looked at
  std::string serial_, will_;
  OutputCounts counts_;
};

std::string MqttOutput::Session::StatePayload(const StationReading& r) {
  std::string payload = "{\"time\":\"" + UtcText(r.time, true) + "\"";
  payload +=
      ",\"usvh\":" + (r.microSievertPerHour ? ShortestDecimal(*r.microSievertPerHour) : "null");
  payload += ",\"cpm\":" + ShortestDecimal(r.cpm);
  const std::optional<double> dose = DeviceNumber(r.dose);
  payload += ",\"dose\":" + (dose ? ShortestDecimal(*dose) : "null");
  payload += ",\"dose_unit\":" + JsonString(r.doseUnit);
  const std::optional<double> microsieverts = DoseMicrosieverts(r.dose, r.doseUnit);
  payload += ",\"dose_usv\":" + (microsieverts ? ShortestDecimal(*microsieverts) : "null");
  payload += ",\"seconds\":" + std::to_string(r.seconds) +
             ",\"samples\":" + std::to_string(r.samples) + "}";
  return payload;
}

std::vector<std::pair<std::string, std::string>> MqttOutput::Session::Discovery(
    const std::string& serial) const {
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
    const char* unit;
    const char* field;
    const char* stateClass;
  };
  // The accumulated dose in one unit whatever prefix the device shows it with: a total that only
  // grows must keep its unit.
  const Sensor sensors[] = {
      {"dose_rate", "Dose rate", "\xC2\xB5Sv/h", "usvh", "measurement"},
      {"cpm", "Count rate", "CPM", "cpm", "measurement"},
      {"dose", "Accumulated dose", "\xC2\xB5Sv", "dose_usv", "total_increasing"},
  };
  for (const Sensor& s : sensors) {
    const std::string payload =
        "{\"name\":" + JsonString(s.name) + ",\"unique_id\":" + JsonString(id + "_" + s.key) +
        ",\"state_topic\":" + JsonString(StateTopic(serial)) +
        ",\"value_template\":" + JsonString(std::string("{{ value_json.") + s.field + " }}") +
        ",\"availability_topic\":" + JsonString(AvailabilityTopic(serial)) +
        ",\"unit_of_measurement\":" + JsonString(s.unit) +
        ",\"state_class\":" + JsonString(s.stateClass) + ",\"device\":" + device + "}";
    configs.emplace_back(discovery_ + "/sensor/" + id + "/" + s.key + "/config", payload);
  }
  return configs;
}

void MqttOutput::Session::PublishFailed(int rc) {
  // A lost connection is said as such (OnDisconnect); anything else once, until a publish works.
  if (rc == MOSQ_ERR_SUCCESS || rc == MOSQ_ERR_NO_CONN || publishFailing_) return;
  publishFailing_ = true;
  Say(std::string("could not publish (") + mosquitto_strerror(rc) + "); trying again every second");
}

void MqttOutput::Session::OnConnect(mosquitto* client, void* self, int rc) {
  auto* session = static_cast<Session*>(self);
  std::unique_lock<std::mutex> lock(session->mutex_);
  if (rc == 0) {
    session->connected_ = true;
    session->certificateRefused_ = false;
    session->announced_ = false;
    if (session->saidAway_) session->Say("connected to the broker again");
    session->saidAway_ = false;
  } else if (rc == 4 || rc == 5) {
    // Bad user name or password, not authorised: not tried again.
    session->refused_ = true;
    session->Say(
        "the broker refused the login; nothing more is sent until the monitor is "
        "started again");
    session->wake_.notify_all();
    lock.unlock();
    mosquitto_disconnect(client);
    return;
  } else if (!session->saidAway_) {
    session->saidAway_ = true;
    session->Say(std::string("the broker refused the connection (") + mosquitto_connack_string(rc) +
                 "); trying again, less and less often");
  }
  session->wake_.notify_all();
}

void MqttOutput::Session::OnDisconnect(mosquitto*, void* self, int rc) {
  auto* session = static_cast<Session*>(self);
  std::lock_guard<std::mutex> lock(session->mutex_);
  // A message waiting for its acknowledgement is sent again by the library once connected (it
  // keeps its outgoing messages across a disconnect), and acknowledged then; the reading stays
  // queued until it is.
  session->connected_ = false;
  if (rc != 0 && !session->stopping_ && !session->closing_ && !session->refused_ &&
      !session->saidAway_) {
    session->saidAway_ = true;
    session->Say(session->certificateRefused_
                     ? "no connection to the broker (" + session->FailureWords({}) +
                           "); trying again, less and less often"
                     : "the broker went away; connecting again, less and less often");
  }
  session->wake_.notify_all();
}

void MqttOutput::Session::OnPublish(mosquitto*, void* self, int mid) {
  auto* session = static_cast<Session*>(self);
  std::lock_guard<std::mutex> lock(session->mutex_);
  session->acknowledged_.insert(mid);
  session->wake_.notify_all();
}

void MqttOutput::Session::OnLog(mosquitto*, void* self, int level, const char* text) {
  // The library says why a TLS handshake failed only in its log: OpenSSL's words for a
  // certificate that is not trusted or does not name the host.
  if (level != MOSQ_LOG_ERR || text == nullptr ||
      std::string(text).find("certificate verify failed") == std::string::npos)
    return;
  auto* session = static_cast<Session*>(self);
  std::lock_guard<std::mutex> lock(session->mutex_);
  session->certificateRefused_ = true;
}

void MqttOutput::Session::Connect() {
  // On the work thread, the session's lock not held.
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
  const int willSet = mosquitto_will_set(client_, will_.c_str(), 7, "offline", 1, true);
  if (willSet != MOSQ_ERR_SUCCESS) {
    std::lock_guard<std::mutex> lock(mutex_);
    PublishFailed(willSet);
  }
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
  // The session runs the library's loop on a thread of its own (Loop).
  mosquitto_threaded_set(client_, true);
  mosquitto_connect_callback_set(client_, OnConnect);
  mosquitto_disconnect_callback_set(client_, OnDisconnect);
  mosquitto_publish_callback_set(client_, OnPublish);
  mosquitto_log_callback_set(client_, OnLog);
  // Looks the broker's name up on this thread, for as long as the name server takes.
  const int rc = mosquitto_connect_async(client_, host_.c_str(), port_, 60);
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_) return;  // the stop may have left this thread behind: no loop begins now
  loopRunning_ = true;
  loop_ = std::thread([self = shared_from_this()] {
    self->Loop();
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->loopRunning_ = false;
    self->wake_.notify_all();
  });
  if (rc != MOSQ_ERR_SUCCESS && !saidAway_) {
    saidAway_ = true;
    Say("no connection to the broker (" + FailureWords(mosquitto_strerror(rc)) +
        "); trying again, less and less often");
  }
}

// The library's network loop, and connecting again after 2 s, then twice as long each time up
// to 2 minutes. Not the library's own loop thread: that one ends for good when a TLS handshake
// fails (an untrusted certificate), while the output goes on trying, and says why once.
void MqttOutput::Session::Loop() {
  constexpr std::chrono::seconds kFirstWait{2}, kLongestWait{120};
  std::chrono::seconds wait = kFirstWait;
  for (;;) {
    // Sleeps until traffic, a message to send (the library wakes it) or a second has passed.
    const int rc = mosquitto_loop(client_, 1000, 1);
    std::unique_lock<std::mutex> lock(mutex_);
    // Ending: once "offline" and the disconnect are out (the library then says it is
    // disconnected), or when the broker does not take them in time.
    if ((stopping_ || closing_) &&
        (!connected_ || rc != MOSQ_ERR_SUCCESS || std::chrono::steady_clock::now() > stopBy_))
      return;
    if (rc == MOSQ_ERR_SUCCESS) {
      if (connected_) wait = kFirstWait;
      continue;
    }
    if (refused_) {
      wake_.wait(lock, [&] { return stopping_ || closing_; });
      return;
    }
    if (!saidAway_) {
      saidAway_ = true;
      Say("no connection to the broker (" + FailureWords(mosquitto_strerror(rc)) +
          "); trying again, less and less often");
    }
    wake_.wait_for(lock, wait, [&] { return stopping_ || closing_; });
    if (stopping_ || closing_) return;
    wait = std::min(wait * 2, kLongestWait);
    lock.unlock();
    mosquitto_reconnect_async(client_);  // looks the name up again
  }
}

// On the work thread, for another device: the device before is said "offline" and the
// connection ended, so that the next is made with the new device's last will (a connection has
// one). The connection stays when the station stops meanwhile (the stop ends it).
void MqttOutput::Session::EndConnection() {
  std::unique_lock<std::mutex> lock(mutex_);
  const bool connected = connected_;
  closing_ = true;
  stopBy_ = std::chrono::steady_clock::now() + kStopWait;
  lock.unlock();
  if (connected) mosquitto_publish(client_, nullptr, will_.c_str(), 7, "offline", 1, true);
  mosquitto_disconnect(client_);
  lock.lock();
  wake_.notify_all();
  wake_.wait(lock, [&] { return !loopRunning_ || stopping_; });
  if (loopRunning_) return;  // stopping: the stop ends the connection
  lock.unlock();
  if (loop_.joinable()) loop_.join();
  mosquitto_destroy(client_);
  lock.lock();
  client_ = nullptr;
  closing_ = false;
  connected_ = false;
  announced_ = false;
  acknowledged_.clear();  // the next client numbers its messages anew
}

void MqttOutput::Session::Work() {
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
      const auto discovery = Discovery(serial_);
      lock.unlock();
      int rc = mosquitto_publish(client_, nullptr, will_.c_str(), 6, "online", 1, true);
      for (const auto& [topic, payload] : discovery) {
        const int sent =
            mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                              payload.data(), 1, true);
        if (rc == MOSQ_ERR_SUCCESS) rc = sent;
      }
      lock.lock();
      PublishFailed(rc);
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
    lock.lock();
    if (oldest.empty()) {
      wake_.wait(lock, [&] { return stopping_ || published_; });
      continue;
    }
    const StationReading& reading = oldest.front().second;
    if (reading.serial != serial_) {
      // Another device on the station's port: announced in turn, once connected again.
      lock.unlock();
      EndConnection();
      lock.lock();
      if (client_ == nullptr) serial_ = reading.serial;
      continue;
    }
    lock.unlock();
    const std::string payload = StatePayload(reading);
    const std::string topic = StateTopic(reading.serial);
    int mid = 0;
    const int rc = mosquitto_publish(client_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                                     payload.data(), 1, false);
    lock.lock();
    if (rc == MOSQ_ERR_SUCCESS) {
      inFlight = mid;
      inFlightId = oldest.front().first;
      if (publishFailing_) Say("publishing again");
      publishFailing_ = false;
    } else {
      ++counts_.failed;
      if (counted) counted(counts_);
      PublishFailed(rc);
      wake_.wait_for(lock, std::chrono::seconds(1), [&] { return stopping_; });
    }
  }
}

// Threads still waiting (on a look-up of the broker's name) are left to end by themselves: they
// keep the session alive, say nothing more, and the library's client goes with the session.
void MqttOutput::Session::Abandon(std::unique_lock<std::mutex>& lock) {
  note = nullptr;
  counted = nullptr;
  lock.unlock();
  if (thread_.joinable()) thread_.detach();
  if (loop_.joinable()) loop_.detach();
}

void MqttOutput::Session::Stop() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (stopped_) return;
  stopped_ = true;
  stopping_ = true;
  const auto by = std::chrono::steady_clock::now() + kStopWait;
  stopBy_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(800);
  wake_.notify_all();
  if (!wake_.wait_until(lock, by, [&] { return !workRunning_; })) return Abandon(lock);
  lock.unlock();
  if (thread_.joinable()) thread_.join();
  // The work thread has ended: the client is this thread's now, but for the loop's traffic.
  if (client_ == nullptr) return;
  lock.lock();
  const bool connected = connected_;
  lock.unlock();
  // A clean end sends no last will: the station says it is offline itself, then disconnects.
  if (connected) mosquitto_publish(client_, nullptr, will_.c_str(), 7, "offline", 1, true);
  mosquitto_disconnect(client_);
  lock.lock();
  if (!wake_.wait_until(lock, by, [&] { return !loopRunning_; })) return Abandon(lock);
  lock.unlock();
  if (loop_.joinable()) loop_.join();
}

MqttOutput::MqttOutput(const MonitorConfig& config) : session_(std::make_shared<Session>(config)) {}

MqttOutput::~MqttOutput() {
  Stop();
}

bool MqttOutput::Start(const std::string& archivePath, std::string& error) {
  Session& s = *session_;
  const std::string port = s.config_.Get("mqtt", "port", "1883");
  const auto parsed = std::from_chars(port.data(), port.data() + port.size(), s.port_);
  if (parsed.ec != std::errc() || parsed.ptr != port.data() + port.size() || s.port_ < 1 ||
      s.port_ > 65535) {
    error = "[mqtt] port is a number from 1 to 65535";
    return false;
  }
  const std::string tls = s.config_.Get("mqtt", "tls", "no");
  if (tls != "yes" && tls != "no") {
    error = "[mqtt] tls is yes or no";
    return false;
  }
  if (tls == "yes") {
    std::string authorities;
    if (!ReadConfigAuthorities(s.config_, "mqtt", authorities, error)) return false;
#ifdef _WIN32
    // OpenSSL finds no certificate authorities of Windows by itself, nor opens a file by a name
    // outside the system's code page: the library is handed a context that trusts the `ca` file
    // as read here, or else the system's root store, and checks the broker's name.
    std::string why;
    s.tlsContext_ = NewTlsClientContext(s.host_, authorities, why);
    if (s.tlsContext_ == nullptr) {
      error = "[mqtt] tls: " + why;
      return false;
    }
#endif
  }
  if (s.topic_.empty() || s.topic_.find_first_of("+#") != std::string::npos) {
    error = "[mqtt] topic must not be empty nor hold + or #";
    return false;
  }
  if (!s.queue_.Open(archivePath, s.config_.station)) {
    error = "mqtt: " + s.queue_.Error();
    return false;
  }
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
  s.note = note;
  s.counted = counted;
  s.Begin();
  return true;
}

void MqttOutput::Publish(const StationReading& reading) {
  session_->Publish(reading);
}

void MqttOutput::Stop() {
  session_->Stop();
}

}  // namespace dravion
