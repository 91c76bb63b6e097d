#include <gtest/gtest.h>
#include <httplib.h>

#include <charconv>
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
  reading.doseUnit = "m\"Sv";  // escaped in its label
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
  EXPECT_EQ(families["dravion_accumulated_dose"][0].labels, device + ",unit=\"m\\\"Sv\"");
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
