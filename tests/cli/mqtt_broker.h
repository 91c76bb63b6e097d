#pragma once

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli_process.h"

namespace dravion::cli_test {

// A free TCP port of the loopback interface (taken from the system, then let go).
inline int FreePort() {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(s);
  return ntohs(address.sin_port);
}

// A TLS listener of the broker: its port and its server certificate's PEM files.
struct TlsListener {
  int port;
  std::string certificate, key;
};

// Debian's mosquitto broker on a port of loopback, started and stopped by the test, with TLS
// listeners beside it when asked.
class Broker {
 public:
  // `passwords`: a file of mosquitto_passwd that logins are checked against; empty: anyone.
  Broker(const std::string& folder, int port, const std::string& passwords = {},
         const std::vector<TlsListener>& tls = {})
      : folder_(folder), port_(port) {
    std::ofstream conf(folder + "/mosquitto.conf");
    conf << "log_type all\n"
         << (passwords.empty() ? "allow_anonymous true\n" : "password_file " + passwords + "\n")
         << "persistence true\npersistence_location " << folder
         << "/\n"
         // Started by root, the broker would run as the user mosquitto, who cannot write the
         // test's folder (its sessions would not survive the restart): it stays who started it.
         << "user " << ::getpwuid(::geteuid())->pw_name << "\n"
         << "listener " << port << " 127.0.0.1\n";
    for (const TlsListener& listener : tls) {
      conf << "listener " << listener.port << " 127.0.0.1\ncertfile " << listener.certificate
           << "\nkeyfile " << listener.key << "\n";
    }
  }
  ~Broker() { Stop(); }
  bool Start() {
    pid_ = SpawnProgram({"/usr/sbin/mosquitto", "-c", folder_ + "/mosquitto.conf"}, -1,
                        folder_ + "/broker.log", {}, true);
    // Ready once it takes connections.
    for (int i = 0; i < 400; ++i) {
      const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(static_cast<uint16_t>(port_));
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      const bool up = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
      ::close(s);
      if (up) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
  }
  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ExitStatus(pid_);
    pid_ = -1;
  }

 private:
  std::string folder_;
  int port_;
  pid_t pid_ = -1;
};

// A subscriber to everything, reconnecting by itself; its session (and the messages that come for
// it while it is away) outlives a restart of the broker, which keeps its sessions on disk.
class Subscriber {
 public:
  explicit Subscriber(int port) {
    mosquitto_lib_init();
    client_ = mosquitto_new("dravion-test-subscriber", false, this);
    mosquitto_connect_callback_set(client_, [](mosquitto* m, void*, int rc) {
      if (rc == 0) mosquitto_subscribe(m, nullptr, "#", 1);
    });
    mosquitto_message_callback_set(
        client_, [](mosquitto*, void* self, const mosquitto_message* message) {
          auto* s = static_cast<Subscriber*>(self);
          std::lock_guard<std::mutex> lock(s->mutex_);
          s->messages_.push_back(
              {message->topic,
               std::string(static_cast<const char*>(message->payload), message->payloadlen),
               message->retain});
          s->changed_.notify_all();
        });
    mosquitto_reconnect_delay_set(client_, 1, 1, false);
    mosquitto_connect_async(client_, "127.0.0.1", port, 30);
    mosquitto_loop_start(client_);
  }
  ~Subscriber() {
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
  }
  struct Message {
    std::string topic, payload;
    bool retained;
  };
  // Waits until `done` holds for the messages so far (false after a long time).
  template <typename Done>
  bool WaitFor(Done done) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return done(messages_); });
  }
  std::vector<Message> Messages() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }

 private:
  mosquitto* client_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Message> messages_;
};

inline size_t Count(const std::vector<Subscriber::Message>& messages, const std::string& topic,
                    const std::string& payload = {}) {
  return std::count_if(messages.begin(), messages.end(), [&](const Subscriber::Message& m) {
    return m.topic == topic && (payload.empty() || m.payload == payload);
  });
}

// `dravion-cli monitor --interval 1` on the emulator's port 7 in a process of its own, its
// configuration folder/monitor.ini (the user's alone) holding the [mqtt] section's `keys` lines;
// standard error to `err`.
inline pid_t SpawnMqttMonitor(const std::string& folder, const std::string& keys,
                              const std::string& err) {
  const std::string config = folder + "/monitor.ini";
  std::ofstream(config) << "[mqtt]\n" << keys;
  ::chmod(config.c_str(), 0600);
  return SpawnCli({"--port", "7", "monitor", "--interval", "1", "--config", config}, -1, err);
}

// The station that monitor is: its queue's key in the archive (its configuration's path).
inline std::string MqttMonitorStation(const std::string& folder) {
  return std::filesystem::weakly_canonical(folder + "/monitor.ini").string();
}

}  // namespace dravion::cli_test
