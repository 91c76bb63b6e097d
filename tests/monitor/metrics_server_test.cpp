#include <gtest/gtest.h>
#include <httplib.h>

#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <atomic>
#include <charconv>
#include <future>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "monitor/metrics_server.h"
#include "support/comma_locale.h"

namespace dravion {
namespace {

struct Sample {
  std::string labels;
  double value = 0;
};

// A scrape read by the text format's rules: every line a HELP, a TYPE or a sample; a family's
// HELP and TYPE once each, before its samples; names and labels of the allowed characters; values
// that parse as numbers. Fails the test at the first line that breaks a rule.
std::map<std::string, std::vector<Sample>> ParseScrape(const std::string& text) {
  const std::regex help(R"(# HELP ([a-zA-Z_:][a-zA-Z0-9_:]*) .+)");
  const std::regex type(R"(# TYPE ([a-zA-Z_:][a-zA-Z0-9_:]*) (gauge|counter))");
  const std::regex sample(
      R"(([a-zA-Z_:][a-zA-Z0-9_:]*)\{((?:[a-zA-Z_][a-zA-Z0-9_]*="(?:[^"\\\n]|\\.)*",?)*)\} (\S+))");
  std::map<std::string, std::vector<Sample>> families;
  std::set<std::string> helped, typed;
  std::istringstream lines(text);
  std::string line;
  std::smatch m;
  while (std::getline(lines, line)) {
    if (std::regex_match(line, m, help)) {
      EXPECT_TRUE(helped.insert(m[1]).second) << line;
    } else if (std::regex_match(line, m, type)) {
      EXPECT_TRUE(typed.insert(m[1]).second) << line;
      if (m[2] == "counter") {
        EXPECT_TRUE(m[1].str().ends_with("_total")) << line;
      }
    } else if (std::regex_match(line, m, sample)) {
      EXPECT_TRUE(helped.count(m[1]) && typed.count(m[1])) << "no HELP/TYPE before: " << line;
      Sample s{m[2], 0};
      const std::string value = m[3];
      const auto parsed = std::from_chars(value.data(), value.data() + value.size(), s.value);
      EXPECT_TRUE(parsed.ec == std::errc() && parsed.ptr == value.data() + value.size()) << line;
      families[m[1]].push_back(s);
    } else {
      ADD_FAILURE() << "not a line of the text format: " << line;
    }
  }
  for (const auto& [name, samples] : families)
    EXPECT_TRUE(name.starts_with("dravion_")) << name;
  return families;
}

TEST(MetricsServer, AScrapeOverLoopbackFollowsTheTextFormatInAnyLocale) {
  test::CommaDecimalLocale comma;  // numbers must not follow the process's locale
  MetricsServer server;
  std::string error;
  ASSERT_TRUE(server.Start("127.0.0.1:0", error)) << error;
  httplib::Client client("127.0.0.1", server.Port());
  httplib::Result before = client.Get("/metrics");
  ASSERT_TRUE(before) << httplib::to_string(before.error());
  EXPECT_EQ(before->status, 200);
  EXPECT_EQ(before->get_header_value("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
  auto families = ParseScrape(before->body);
  ASSERT_EQ(families["dravion_readings_total"].size(), 1u);
  EXPECT_EQ(families["dravion_readings_total"][0].value, 0);
  EXPECT_EQ(families.count("dravion_count_rate_cpm"), 0u);  // no reading yet

  StationReading reading;
  reading.serial = "214-36587";
  reading.time = 1796741887;
  reading.rate = 25.5;
  reading.rateUnit = "uR/h";
  reading.microSievertPerHour = 0.255;
  reading.cpm = 61.25;
  reading.dose = "0,0052";
  // A unit text with a quote, a backslash and a line feed: each escaped in its label, so that the
  // sample stays one line and the label value reads back as it was.
  reading.doseUnit = "m\"S\\v\nX";
  server.Publish(reading);
  server.Publish(reading);
  server.Count("radmon", {3, 1, 1796741800});
  httplib::Result after = client.Get("/metrics");
  ASSERT_TRUE(after);
  families = ParseScrape(after->body);
  const std::string device = "serial=\"214-36587\"";
  EXPECT_EQ(families["dravion_dose_rate_microsieverts_per_hour"][0].labels, device);
  EXPECT_DOUBLE_EQ(families["dravion_dose_rate_microsieverts_per_hour"][0].value, 0.255);
  EXPECT_DOUBLE_EQ(families["dravion_count_rate_cpm"][0].value, 61.25);
  EXPECT_EQ(families["dravion_accumulated_dose"][0].labels, device + ",unit=\"m\\\"S\\\\v\\nX\"");
  EXPECT_DOUBLE_EQ(families["dravion_accumulated_dose"][0].value, 0.0052);
  EXPECT_EQ(families["dravion_reading_timestamp_seconds"][0].value, 1796741887);
  EXPECT_EQ(families["dravion_readings_total"][0].value, 2);
  EXPECT_EQ(families["dravion_output_deliveries_total"][0].labels, device + ",output=\"radmon\"");
  EXPECT_EQ(families["dravion_output_deliveries_total"][0].value, 3);
  EXPECT_EQ(families["dravion_output_failures_total"][0].value, 1);
  EXPECT_EQ(families["dravion_output_last_success_timestamp_seconds"][0].value, 1796741800);
  EXPECT_EQ(client.Get("/")->status, 404);

  // A second server cannot take the same port: said, not hidden.
  MetricsServer second;
  EXPECT_FALSE(second.Start("127.0.0.1:" + std::to_string(server.Port()), error));
  EXPECT_NE(error.find("could not listen"), std::string::npos) << error;
  server.Stop();
  EXPECT_FALSE(client.Get("/metrics"));
}

#ifdef _WIN32
using PollEntry = WSAPOLLFD;
int PollFor(PollEntry* entry, std::chrono::milliseconds wait) {
  return ::WSAPoll(entry, 1, static_cast<int>(wait.count()));
}
void CloseConnection(socket_t sock) {
  ::closesocket(sock);
}
constexpr int kSendFlags = 0;
#else
using PollEntry = pollfd;
int PollFor(PollEntry* entry, std::chrono::milliseconds wait) {
  return ::poll(entry, 1, static_cast<int>(wait.count()));
}
void CloseConnection(socket_t sock) {
  ::close(sock);
}
constexpr int kSendFlags = MSG_NOSIGNAL;
#endif

// A TCP connection to the listener on loopback, as a hostile or slow client makes it: it sends
// what it is told, and sees whether the server has closed it.
class RawConnection {
 public:
  explicit RawConnection(int port) {
    sock_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(sock_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    // A server that neither reads nor closes fails a send after a while instead of holding the
    // test.
#ifdef _WIN32
    const DWORD limit = 10'000;
#else
    const timeval limit{10, 0};
#endif
    ::setsockopt(sock_, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit),
                 sizeof limit);
  }
  ~RawConnection() {
    CloseConnection(sock_);
  }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool Connected() const {
    return connected_;
  }
  // False once the server no longer takes what is sent.
  bool Send(const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
      const auto n =
          ::send(sock_, data.data() + sent, static_cast<int>(data.size() - sent), kSendFlags);
      if (n <= 0) return false;
      sent += static_cast<size_t>(n);
    }
    return true;
  }
  // Whether the server has closed the connection (an end or a reset), waiting until `by` for it;
  // what it answered before is read and kept in `answer`.
  bool ClosedByServer(std::chrono::steady_clock::time_point by) {
    for (;;) {
      PollEntry entry{};
      entry.fd = sock_;
      entry.events = POLLIN;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          by - std::chrono::steady_clock::now());
      if (PollFor(&entry, std::max(left, std::chrono::milliseconds(0))) <= 0) return false;
      char buffer[4096];
      const auto n = ::recv(sock_, buffer, sizeof buffer, 0);
      if (n <= 0) return true;
      answer.append(buffer, static_cast<size_t>(n));
    }
  }
  std::string answer;

 private:
  socket_t sock_;
  bool connected_ = false;
};

// Clients that would push the listener over: endless request lines, headers and bodies are cut
// off after a few kilobytes; a slow client that sends a header line now and then is cut off;
// hundreds of idle connections hold only a few of the listener's sockets (the oldest are closed);
// a scrape still gets its answer meanwhile, and the listener stops at once with a slow client
// still sending.
TEST(MetricsServer, FloodsSlowAndIdleClientsNeitherGrowItNorHoldItsScrapesOrItsStop) {
  using namespace std::chrono_literals;
  MetricsServer server;
  std::string error;
  ASSERT_TRUE(server.Start("127.0.0.1:0", error)) << error;
  const int port = server.Port();

  const std::string filler(64 * 1024, 'a');
  std::string headerLines;
  while (headerLines.size() < filler.size())
    headerLines += "X-Filler: aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\r\n";
  const struct {
    const char* beginning;
    const std::string& more;
  } floods[] = {
      {"GET /", filler},
      {"GET /metrics HTTP/1.1\r\n", headerLines},
      {"POST /metrics HTTP/1.1\r\nContent-Length: 1000000000\r\n\r\n", filler},
  };
  for (const auto& flood : floods) {
    RawConnection connection(port);
    ASSERT_TRUE(connection.Connected());
    size_t sent = 0;
    if (connection.Send(flood.beginning)) {
      while (sent < (64u << 20) && connection.Send(flood.more))
        sent += flood.more.size();
    }
    // What the socket buffers hold aside, the server stopped taking it after a few kilobytes.
    EXPECT_LT(sent, 16u << 20) << flood.beginning;
    EXPECT_TRUE(connection.ClosedByServer(std::chrono::steady_clock::now() + 10s))
        << flood.beginning;
  }

  // A client sending a header line every 300 ms (each within any read time-out) is cut off. (It
  // gives up after a minute by itself, so that a failing test ends.)
  std::atomic<bool> done{false};
  auto dribble = [&done](RawConnection& connection) {
    if (!connection.Send("GET /metrics HTTP/1.1\r\n")) return;
    for (int line = 0; line < 200 && !done && connection.Send("X-Slow: 1\r\n"); ++line)
      std::this_thread::sleep_for(300ms);
  };
  RawConnection slow(port);
  auto cutOff = std::async(std::launch::async, [&] { dribble(slow); });

  // Idle connections: all but the newest few are closed by the server as more come.
  std::vector<std::unique_ptr<RawConnection>> idle;
  for (int i = 0; i < 300; ++i) {
    idle.push_back(std::make_unique<RawConnection>(port));
    EXPECT_TRUE(idle.back()->Connected()) << i;
  }
  const auto by = std::chrono::steady_clock::now() + 10s;
  size_t closed = 0;
  for (size_t i = 0; i + 64 < idle.size(); ++i)
    closed += idle[i]->ClosedByServer(by) ? 1 : 0;
  EXPECT_EQ(closed, idle.size() - 64);

  // A scrape meanwhile gets its answer.
  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(10, 0);
  httplib::Result scrape = client.Get("/metrics");
  EXPECT_TRUE(scrape) << httplib::to_string(scrape.error());
  if (scrape) {
    EXPECT_EQ(scrape->status, 200);
    EXPECT_NE(scrape->body.find("dravion_readings_total"), std::string::npos);
  }
  client.stop();

  EXPECT_EQ(cutOff.wait_for(20s), std::future_status::ready) << "a slow client was not cut off";

  // The stop, with a slow client sending and a request half sent.
  RawConnection slowAtStop(port), half(port);
  EXPECT_TRUE(half.Send("GET /metr"));
  auto dribbling = std::async(std::launch::async, [&] { dribble(slowAtStop); });
  std::this_thread::sleep_for(100ms);  // not needed for the outcome: lets the slow client begin
  auto stopping = std::async(std::launch::async, [&] { server.Stop(); });
  EXPECT_EQ(stopping.wait_for(5s), std::future_status::ready) << "the stop waited on a client";
  done = true;
  stopping.wait();
  dribbling.wait();
  cutOff.wait();
}

TEST(MetricsServer, ListenTakesHostColonPortAndTheSocketIsNotShared) {
  EXPECT_EQ(ListenSocketOptions(true),
            std::vector<ListenOption>{ListenOption::ExclusiveAddressUse});
  EXPECT_EQ(ListenSocketOptions(false), std::vector<ListenOption>{ListenOption::ReuseAddress});
  std::string host;
  int port = 0;
  EXPECT_TRUE(SplitHostPort("127.0.0.1:9750", host, port));
  EXPECT_EQ(host, "127.0.0.1");
  EXPECT_EQ(port, 9750);
  EXPECT_TRUE(SplitHostPort("[::1]:9750", host, port));
  EXPECT_EQ(host, "::1");
  for (const char* bad : {"9750", "::1:9750", "host:", ":9750", "host:99999", "host:9a", "[::1:80"})
    EXPECT_FALSE(SplitHostPort(bad, host, port)) << bad;
  MetricsServer server;
  std::string error;
  EXPECT_FALSE(server.Start("localhost", error));
  EXPECT_NE(error.find("is not host:port"), std::string::npos);
}

}  // namespace
}  // namespace dravion
