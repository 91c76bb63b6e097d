#include "monitor/metrics_server.h"

#include <httplib.h>

#ifndef _WIN32
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>

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

namespace {

// What one client may take of the listener. A scrape is one short request and a small answer,
// sent at once; a client that sends more, or slower, or holds a connection idle, is cut off, so
// that neither memory nor descriptors nor the stop depend on what clients do.
constexpr size_t kConnectionsAtOnce = 32;        // more: the oldest is closed
constexpr size_t kRequestMaxBytes = 8192;        // request line, headers and body together
constexpr std::chrono::seconds kRequestTime{5};  // from the connection to the whole request
constexpr std::chrono::seconds kAnswerTime{5};   // to send the answer
constexpr std::chrono::seconds kClosingTime{1};  // for the client to end after the answer
constexpr int kAcceptsAtOnce = 64;               // per turn of the loop
constexpr int kBacklog = 64;  // connections the system holds until taken (the library asks 5)

#ifdef _WIN32
using PollEntry = WSAPOLLFD;
int PollSockets(std::vector<PollEntry>& entries, int milliseconds) {
  return ::WSAPoll(entries.data(), static_cast<ULONG>(entries.size()), milliseconds);
}
void CloseSocket(socket_t sock) {
  ::closesocket(sock);
}
bool SetNonBlocking(socket_t sock) {
  u_long on = 1;
  return ::ioctlsocket(sock, FIONBIO, &on) == 0;
}
bool WouldBlock() {
  return ::WSAGetLastError() == WSAEWOULDBLOCK;
}
constexpr int kSendFlags = 0;
constexpr int kShutdownSend = SD_SEND;
#else
using PollEntry = pollfd;
int PollSockets(std::vector<PollEntry>& entries, int milliseconds) {
  return ::poll(entries.data(), entries.size(), milliseconds);
}
void CloseSocket(socket_t sock) {
  ::close(sock);
}
bool SetNonBlocking(socket_t sock) {
  const int flags = ::fcntl(sock, F_GETFL);
  return flags >= 0 && ::fcntl(sock, F_SETFL, flags | O_NONBLOCK) == 0 &&
         ::fcntl(sock, F_SETFD, FD_CLOEXEC) == 0;
}
bool WouldBlock() {
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}
constexpr int kSendFlags = MSG_NOSIGNAL;
constexpr int kShutdownSend = SHUT_WR;
#endif

// Bytes taken from a socket that does not block: the count, 0 when none are there yet, -1 when
// the connection has ended or failed.
long ReceiveSome(socket_t sock, char* data, size_t size) {
  const auto n = ::recv(sock, data, static_cast<int>(size), 0);
  if (n > 0) return static_cast<long>(n);
  if (n < 0 && WouldBlock()) return 0;
  return -1;
}

long SendSome(socket_t sock, const char* data, size_t size) {
  const auto n = ::send(sock, data, static_cast<int>(size), kSendFlags);
  if (n >= 0) return static_cast<long>(n);
  return WouldBlock() ? 0 : -1;
}

void AddressText(const sockaddr_storage& address, socklen_t size, std::string& ip, int& port) {
  char host[NI_MAXHOST] = {}, service[NI_MAXSERV] = {};
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), size, host, sizeof host, service,
                    sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
    ip = host;
    port = std::atoi(service);
  }
}

// A whole request held in memory, handed to the HTTP library as its stream: the library reads
// the request from it (parsing it by its own rules) and writes the answer into it.
class HeldExchange : public httplib::Stream {
 public:
  HeldExchange(const std::string& request, socket_t sock, const std::string& ip, int port)
      : request_(request), sock_(sock), ip_(ip), port_(port) {}

  bool is_readable() const override { return read_ < request_.size(); }
  bool is_writable() const override { return true; }
  ssize_t read(char* data, size_t size) override {
    const size_t n = std::min(size, request_.size() - read_);
    std::copy_n(request_.data() + read_, n, data);
    read_ += n;
    return static_cast<ssize_t>(n);
  }
  ssize_t write(const char* data, size_t size) override {
    answer.append(data, size);
    return static_cast<ssize_t>(size);
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = ip_;
    port = port_;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (::getsockname(sock_, reinterpret_cast<sockaddr*>(&address), &size) == 0)
      AddressText(address, size, ip, port);
  }
  socket_t socket() const override { return sock_; }

  std::string answer;

 private:
  const std::string& request_;
  size_t read_ = 0;
  socket_t sock_;
  std::string ip_;
  int port_;
};

// Whether the head of a request has come whole (up to its empty line).
bool HeadComplete(const std::string& data) {
  return data.find("\r\n\r\n") != std::string::npos || data.find("\n\n") != std::string::npos;
}

const char kTooLarge[] =
    "HTTP/1.1 431 Request Header Fields Too Large\r\nConnection: close\r\n"
    "Content-Length: 0\r\n\r\n";

}  // namespace

// cpp-httplib parses each request and writes its answer; the sockets are this class's own: one
// thread waits on all of them at once (never on one client), reads each request whole within its
// limits, and ends when told, whatever the clients are doing. (The library's own listener reads a
// request line or headers of any length, waits on a client as long as it sends something now and
// then, and takes connections without limit.)
struct MetricsServer::Server : httplib::Server {
  struct Client {
    enum class State { Reading, Writing, Closing };
    socket_t sock;
    State state = State::Reading;
    std::string data;  // the request so far; then the answer
    size_t sent = 0;   // of the answer; while closing, what was read and let go
    std::chrono::steady_clock::time_point began, by;
    std::string ip;
    int port = 0;
  };

  ~Server() override { CloseAll(); }

  // Every socket closed: the clients', the wake's, and the listening one (the port is free).
  void CloseAll() {
    for (const Client& client : clients)
      CloseSocket(client.sock);
    clients.clear();
    if (wake != INVALID_SOCKET) CloseSocket(wake);
    wake = INVALID_SOCKET;
    const socket_t listening = svr_sock_.exchange(INVALID_SOCKET);
    if (listening != INVALID_SOCKET) CloseSocket(listening);
  }

  // A datagram socket of loopback that sends to itself: what wakes the loop for the stop.
  bool MakeWake() {
    wake = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (wake == INVALID_SOCKET) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    return ::bind(wake, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
           ::getsockname(wake, reinterpret_cast<sockaddr*>(&address), &size) == 0 &&
           ::connect(wake, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
           SetNonBlocking(wake) && SetNonBlocking(svr_sock_) &&
           // A longer queue of connections to take, so that a burst does not make the system
           // drop a scrape's (Windows keeps the first backlog, which is harmless).
           ::listen(svr_sock_, kBacklog) == 0;
  }

  void Wake() { ::send(wake, "x", 1, 0); }

  void Run() {
    std::vector<PollEntry> entries;
    while (!stopping) {
      entries.assign(2 + clients.size(), PollEntry{});
      entries[0].fd = wake;
      entries[0].events = POLLIN;
      // While no connection could be taken (no descriptor left), the listening socket rests.
      const bool accepting = std::chrono::steady_clock::now() >= acceptAgain;
      entries[1].fd = accepting ? svr_sock_.load() : INVALID_SOCKET;
      entries[1].events = POLLIN;
      auto next = accepting ? std::chrono::steady_clock::time_point::max() : acceptAgain;
      for (size_t i = 0; i < clients.size(); ++i) {
        entries[2 + i].fd = clients[i].sock;
        entries[2 + i].events = clients[i].state == Client::State::Writing ? POLLOUT : POLLIN;
        next = std::min(next, clients[i].by);
      }
      int wait = -1;
      if (next != std::chrono::steady_clock::time_point::max()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            next - std::chrono::steady_clock::now());
        wait = static_cast<int>(std::clamp<int64_t>(left.count() + 1, 0, 60'000));
      }
      if (PollSockets(entries, wait) < 0 && !WouldBlock()) break;
      if (stopping) break;
      if (entries[0].revents != 0) {
        char drained[64];
        while (ReceiveSome(wake, drained, sizeof drained) > 0) {
        }
      }
      const auto now = std::chrono::steady_clock::now();
      for (size_t i = 0; i < clients.size(); ++i) {
        Client& client = clients[i];
        const bool going = (entries[2 + i].revents != 0 && !Serve(client, now)) || now >= client.by;
        if (going) {
          CloseSocket(client.sock);
          client.sock = INVALID_SOCKET;
        }
      }
      std::erase_if(clients, [](const Client& c) { return c.sock == INVALID_SOCKET; });
      if (entries[1].revents != 0) Accept(now);
    }
  }

  void Accept(std::chrono::steady_clock::time_point now) {
    for (int i = 0; i < kAcceptsAtOnce; ++i) {
      sockaddr_storage address{};
      socklen_t size = sizeof address;
#ifdef __linux__
      const socket_t sock = ::accept4(svr_sock_, reinterpret_cast<sockaddr*>(&address), &size,
                                      SOCK_NONBLOCK | SOCK_CLOEXEC);
#else
      const socket_t sock = ::accept(svr_sock_, reinterpret_cast<sockaddr*>(&address), &size);
      if (sock != INVALID_SOCKET && !SetNonBlocking(sock)) {
        CloseSocket(sock);
        continue;
      }
#endif
      if (sock == INVALID_SOCKET) {
#ifdef _WIN32
        const bool aborted = ::WSAGetLastError() == WSAECONNRESET;
#else
        const bool aborted = errno == ECONNABORTED;
#endif
        if (aborted) continue;
        if (!WouldBlock()) acceptAgain = now + std::chrono::milliseconds(250);
        return;
      }
      if (clients.size() >= kConnectionsAtOnce) {
        // The oldest goes: one still sending its request if there is one (the client that
        // connects now is most likely a scrape that sends at once).
        auto oldest = std::min_element(clients.begin(), clients.end(), [](auto& a, auto& b) {
          const bool aReading = a.state == Client::State::Reading;
          const bool bReading = b.state == Client::State::Reading;
          return aReading != bReading ? aReading : a.began < b.began;
        });
        CloseSocket(oldest->sock);
        clients.erase(oldest);
      }
      Client client;
      client.sock = sock;
      client.began = now;
      client.by = now + kRequestTime;
      AddressText(address, size, client.ip, client.port);
      clients.push_back(std::move(client));
    }
  }

  // A client's socket is ready; false when the connection is to be closed.
  bool Serve(Client& client, std::chrono::steady_clock::time_point now) {
    switch (client.state) {
      case Client::State::Reading: {
        // At most one byte past the limit is ever read (the request so far is within it).
        char buffer[4096];
        const size_t room = std::min(sizeof buffer, kRequestMaxBytes + 1 - client.data.size());
        const long n = ReceiveSome(client.sock, buffer, room);
        if (n < 0) return false;
        client.data.append(buffer, static_cast<size_t>(n));
        if (!HeadComplete(client.data)) {
          if (client.data.size() <= kRequestMaxBytes) return true;
          SendSome(client.sock, kTooLarge, sizeof kTooLarge - 1);
          return false;
        }
        // A body beyond what came with the head is not waited for: a scrape has none.
        HeldExchange exchange(client.data, client.sock, client.ip, client.port);
        bool closed = false;
        process_request(exchange, true, closed, nullptr);
        client.data = std::move(exchange.answer);
        client.state = Client::State::Writing;
        client.by = now + kAnswerTime;
        return true;
      }
      case Client::State::Writing: {
        const long n = SendSome(client.sock, client.data.data() + client.sent,
                                client.data.size() - client.sent);
        if (n < 0) return false;
        client.sent += static_cast<size_t>(n);
        if (client.sent < client.data.size()) return true;
        // All sent: the client ends the connection, so that the answer is not lost to a reset.
        ::shutdown(client.sock, kShutdownSend);
        client.data.clear();
        client.sent = 0;  // now what is read and let go
        client.state = Client::State::Closing;
        client.by = now + kClosingTime;
        return true;
      }
      case Client::State::Closing: {
        // What the client still sends is read and let go, up to a request's worth.
        char buffer[4096];
        const long n = ReceiveSome(client.sock, buffer, sizeof buffer);
        client.sent += static_cast<size_t>(std::max(n, 0L));
        return n >= 0 && client.sent <= kRequestMaxBytes;
      }
    }
    return false;
  }

  std::vector<Client> clients;
  std::chrono::steady_clock::time_point acceptAgain;
  socket_t wake = INVALID_SOCKET;
  std::atomic<bool> stopping{false};
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
  Server& http = *server_;
  http.set_payload_max_length(kRequestMaxBytes);
#ifdef _WIN32
  constexpr bool windows = true;
#else
  constexpr bool windows = false;
#endif
  http.set_socket_options([](socket_t sock) {
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
  if (!http.MakeWake()) {
    error = "[prometheus] could not listen on " + listen + " (the system refused a socket)";
    return false;
  }
  thread_ = std::thread([this] { server_->Run(); });
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
  // The loop waits on nothing but its sockets: woken, it ends within its turn.
  server_->stopping = true;
  server_->Wake();
  thread_.join();
  server_->CloseAll();
}

}  // namespace dravion
