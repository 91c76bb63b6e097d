#include "monitor/network_output.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "services/number_text.h"

namespace dravion {
namespace {

std::string Why(const HttpAnswer& answer) {
  return answer.reached ? "HTTP status " + std::to_string(answer.status) : answer.error;
}

bool Contains(const std::string& text, const char* what) {
  return text.find(what) != std::string::npos;
}

// An answer's text without the blanks and line breaks around it.
std::string Trimmed(const std::string& text) {
  const char* blanks = " \t\r\n";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) + 1 - first);
}

// Readings a service may refuse in a row, each dropped as one it will never take; after them it
// is taken as refusing everything (a service failing, or a page that is not the service's), and
// what is queued waits for it.
constexpr int kRejectionsInARow = 3;

// radmon.org: the documented GET submit, the reading in CPM with its UTC time.
class RadmonOutput : public NetworkOutput {
 public:
  explicit RadmonOutput(const MonitorConfig& config)
      : NetworkOutput("radmon", false),
        url_(config.Get("radmon", "url", "https://radmon.org/radmon.php")),
        user_(config.Get("radmon", "user")),
        password_(config.Get("radmon", "password")) {}

  HttpExchange Request(const StationReading& r) const override {
    HttpExchange exchange;
    exchange.url = url_ + "?function=submit&user=" + UrlEncoded(user_) +
                   "&password=" + UrlEncoded(password_) +
                   "&value=" + std::to_string(std::lround(r.cpm)) +
                   "&unit=CPM&datetime=" + UrlEncoded(UtcText(r.time, false));
    return exchange;
  }
  Delivery Judge(const HttpAnswer& answer, std::string& why) const override {
    why = Why(answer);
    if (!answer.reached) return Delivery::Retry;
    // The service answers its one word, "OK", or says why not; any other page (a proxy's, a
    // captive portal's) is not its answer, whatever words it holds.
    const std::string text = Trimmed(answer.body);
    if (text.starts_with("Incorrect login")) {
      why = "the user name or the data sending password was refused";
      return Delivery::Refused;
    }
    if (answer.status == 200 && text == "OK") return Delivery::Delivered;
    if (answer.status == 200) why = "the answer was not the service's OK";
    return Delivery::Retry;
  }

 private:
  std::string url_, user_, password_;
};

// GMCmap: the documented GET log call with the CPM (whole), its average and the dose rate.
class GmcmapOutput : public NetworkOutput {
 public:
  explicit GmcmapOutput(const MonitorConfig& config)
      : NetworkOutput("gmcmap", false),
        url_(config.Get("gmcmap", "url", "http://www.gmcmap.com/log2.asp")),
        account_(config.Get("gmcmap", "account")),
        device_(config.Get("gmcmap", "device")) {}

  HttpExchange Request(const StationReading& r) const override {
    HttpExchange exchange;
    exchange.url = url_ + "?AID=" + UrlEncoded(account_) + "&GID=" + UrlEncoded(device_) +
                   "&CPM=" + std::to_string(std::lround(r.cpm)) + "&ACPM=" + FixedDecimal(r.cpm, 2);
    if (r.microSievertPerHour) exchange.url += "&uSV=" + FixedDecimal(*r.microSievertPerHour, 4);
    return exchange;
  }
  Delivery Judge(const HttpAnswer& answer, std::string& why) const override {
    why = Why(answer);
    if (!answer.reached || answer.status != 200) return Delivery::Retry;
    // The service answers 200 whatever happened; the outcome is its ERRn.
    if (Contains(answer.body, "ERR0")) return Delivery::Delivered;
    if (Contains(answer.body, "ERR1") || Contains(answer.body, "ERR2")) {
      why = "the account or the device identifier was not found";
      return Delivery::Refused;
    }
    if (Contains(answer.body, "ERR")) {
      why = "the reading's values were refused";
      return Delivery::Rejected;
    }
    return Delivery::Retry;
  }

 private:
  std::string url_, account_, device_;
};

// Safecast: the documented JSON POST of a measurement (CPM) with its place and time.
class SafecastOutput : public NetworkOutput {
 public:
  SafecastOutput(const MonitorConfig& config, double latitude, double longitude)
      : NetworkOutput("safecast", true),
        url_(config.Get("safecast", "url", "https://api.safecast.org/measurements.json")),
        key_(config.Get("safecast", "api_key")),
        device_(config.Get("safecast", "device_id")),
        latitude_(latitude),
        longitude_(longitude) {}

  HttpExchange Request(const StationReading& r) const override {
    HttpExchange exchange;
    exchange.method = "POST";
    exchange.url = url_ + "?api_key=" + UrlEncoded(key_);
    exchange.contentType = "application/json";
    exchange.body = "{\"measurement\":{\"latitude\":" + FixedDecimal(latitude_, 6) +
                    ",\"longitude\":" + FixedDecimal(longitude_, 6) +
                    ",\"value\":" + FixedDecimal(r.cpm, 2) +
                    ",\"unit\":\"cpm\",\"captured_at\":\"" + UtcText(r.time, true) + "\"" +
                    (device_.empty() ? "" : ",\"device_id\":" + device_) + "}}";
    return exchange;
  }
  Delivery Judge(const HttpAnswer& answer, std::string& why) const override {
    why = Why(answer);
    if (!answer.reached) return Delivery::Retry;
    if (answer.status == 200 || answer.status == 201) return Delivery::Delivered;
    if (answer.status == 401 || answer.status == 403) {
      why = "the API key was refused";
      return Delivery::Refused;
    }
    if (answer.status == 400 || answer.status == 422) return Delivery::Rejected;
    return Delivery::Retry;
  }

 private:
  std::string url_, key_, device_;
  double latitude_, longitude_;
};

// A number of the configuration, whatever the locale; false when it is not one in [low, high].
bool ConfigNumber(const std::string& text, double low, double high, double& value) {
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size() &&
         value >= low && value <= high;
}

}  // namespace

NetworkOutput::NetworkOutput(std::string name, bool replays)
    : name_(std::move(name)), replays_(replays) {}

NetworkOutput::~NetworkOutput() {
  Stop();
}

bool NetworkOutput::Start(const std::string& archivePath, std::string& error) {
  // The archive holds the queue of an output that replays, and where every reading went.
  if (!queue_.Open(archivePath, station)) {
    error = name_ + ": " + queue_.Error();
    return false;
  }
  thread_ = std::thread([this] { Work(); });
  return true;
}

void NetworkOutput::Publish(const StationReading& reading) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!replays_) newest_ = reading;
  published_ = true;
  wake_.notify_all();
}

void NetworkOutput::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    abort_ = true;
    wake_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
}

void NetworkOutput::Say(const std::string& text) {
  if (note) note(name_ + ": " + text);
}

void NetworkOutput::Work() {
  enum class State { Delivering, Failing, Refused } state = State::Delivering;
  int failures = 0;
  int rejections = 0;  // readings refused in a row
  auto nextTry = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    // What goes next: the oldest queued reading, or the newest one.
    std::optional<std::pair<int64_t, StationReading>> next;
    if (state != State::Refused) {
      if (replays_) {
        published_ = false;
        lock.unlock();
        auto queued = queue_.Queued(name_, 1);
        lock.lock();
        if (!queued.empty()) next = std::move(queued.front());
      } else if (newest_) {
        next.emplace(0, *newest_);
      }
    }
    if (!next) {
      wake_.wait(lock, [&] { return stopping_ || (published_ && state != State::Refused); });
      published_ = false;
      continue;
    }
    if (std::chrono::steady_clock::now() < nextTry) {
      wake_.wait_until(lock, nextTry, [&] { return stopping_; });
      continue;
    }
    lock.unlock();
    HttpExchange exchange = Request(next->second);
    exchange.authoritiesPem = authoritiesPem;
    const HttpAnswer answer = RunHttpExchange(exchange, abort_);
    std::string why;
    Delivery delivery = Judge(answer, why);
    const bool refusingAll = delivery == Delivery::Rejected && rejections >= kRejectionsInARow;
    if (refusingAll) delivery = Delivery::Retry;
    lock.lock();
    if (stopping_) break;
    if (delivery == Delivery::Delivered || delivery == Delivery::Rejected) {
      if (replays_) {
        lock.unlock();
        queue_.Dequeue(name_, next->first, delivery == Delivery::Delivered);
        lock.lock();
      } else {
        if (newest_ && newest_->time == next->second.time) newest_.reset();
        if (delivery == Delivery::Delivered && next->second.id != 0) {
          lock.unlock();
          queue_.MarkSent(name_, next->second.id);
          lock.lock();
        }
      }
    }
    const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    switch (delivery) {
      case Delivery::Delivered:
        ++counts_.delivered;
        counts_.lastSuccess = now;
        if (state == State::Failing) Say("delivered again");
        state = State::Delivering;
        failures = 0;
        rejections = 0;
        break;
      case Delivery::Rejected:
        ++counts_.failed;
        ++rejections;
        Say("a reading was refused and is dropped (" + why + ")");
        break;
      case Delivery::Refused:
        ++counts_.failed;
        Say(why + "; nothing more is sent until the monitor is started again");
        state = State::Refused;
        break;
      case Delivery::Retry: {
        ++counts_.failed;
        const auto wait =
            std::min(retries.longest, retries.first * (int64_t{1} << std::min(failures, 20)));
        ++failures;
        nextTry = std::chrono::steady_clock::now() + wait;
        if (state != State::Failing) {
          Say(refusingAll ? "the service refuses every reading (" + why +
                                "); they stay queued and are tried again, less and less often"
                          : "not delivered (" + why + "); trying again, less and less often");
        }
        state = State::Failing;
        break;
      }
    }
    if (counted) counted(counts_);
  }
}

bool MakeNetworkOutputs(const MonitorConfig& config,
                        std::vector<std::unique_ptr<NetworkOutput>>& outputs, std::string& error) {
  auto needs = [&](const char* section, std::initializer_list<const char*> keys) {
    for (const char* key : keys) {
      if (config.Get(section, key).empty()) {
        error = std::string("[") + section + "] needs " + key;
        return false;
      }
    }
    return true;
  };
  if (config.Has("radmon")) {
    if (!needs("radmon", {"user", "password"})) return false;
    outputs.push_back(std::make_unique<RadmonOutput>(config));
  }
  if (config.Has("gmcmap")) {
    if (!needs("gmcmap", {"account", "device"})) return false;
    outputs.push_back(std::make_unique<GmcmapOutput>(config));
  }
  if (config.Has("safecast")) {
    if (!needs("safecast", {"api_key", "latitude", "longitude"})) return false;
    double latitude = 0, longitude = 0;
    if (!ConfigNumber(config.Get("safecast", "latitude"), -90, 90, latitude) ||
        !ConfigNumber(config.Get("safecast", "longitude"), -180, 180, longitude)) {
      error = "[safecast] latitude and longitude are degrees with a decimal point (51.5, -0.12)";
      return false;
    }
    const std::string device = config.Get("safecast", "device_id");
    if (device.find_first_not_of("0123456789") != std::string::npos || device.size() > 9) {
      error = "[safecast] device_id is a number";
      return false;
    }
    outputs.push_back(std::make_unique<SafecastOutput>(config, latitude, longitude));
  }
  for (auto& output : outputs) {
    output->station = config.station;
    if (!ReadConfigAuthorities(config, output->Name(), output->authoritiesPem, error)) return false;
  }
  return true;
}

}  // namespace dravion
