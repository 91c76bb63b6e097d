#include "log/ftp_account.h"

#include <gtest/gtest.h>

#include <map>

#ifdef _WIN32
#include <stdlib.h>
#endif

#include "support/fakes.h"

namespace dravion {
namespace {

TEST(FtpAccount, EnvironmentOverridesTheStoredOptionsValueByValue) {
  test::MemoryOptionStore options;
  options.texts = {{"FTPHOST", "reports.example"}, {"FTPUSER", "stored"}, {"FTPPASSWORD", "pw"}};
  options.ints = {{"FTPPORT", 2121}, {"FTPTLS", 1}};
  std::map<std::string, std::string> env;
  auto reader = [&](const char* name) -> std::optional<std::string> {
    auto it = env.find(name);
    if (it == env.end()) return std::nullopt;
    return it->second;
  };

  FtpAccount account = LoadFtpAccount(&options, reader);
  EXPECT_EQ(account.host, "reports.example");
  EXPECT_EQ(account.port, 2121);
  EXPECT_EQ(account.user, "stored");
  EXPECT_EQ(account.password, "pw");
  EXPECT_TRUE(account.explicitTls);

  env = {{"DRAVION_FTP_USER", "admin"}, {"DRAVION_FTP_PORT", "21000"}, {"DRAVION_FTP_TLS", "0"}};
  account = LoadFtpAccount(&options, reader);
  EXPECT_EQ(account.host, "reports.example");
  EXPECT_EQ(account.user, "admin");
  EXPECT_EQ(account.port, 21000);
  EXPECT_FALSE(account.explicitTls);

  env = {{"DRAVION_FTP_HOST", ""}, {"DRAVION_FTP_PORT", "70000"}};  // an empty host turns it off
  account = LoadFtpAccount(&options, reader);
  EXPECT_FALSE(account.Configured());
  EXPECT_EQ(account.port, 2121);  // an unusable port falls back

  env.clear();
  account = LoadFtpAccount(nullptr, reader);
  EXPECT_FALSE(account.Configured());
  EXPECT_EQ(account.port, 21);
  EXPECT_EQ(account.connectTimeoutMs, 3000);
}

#ifdef _WIN32
// A password with letters outside the ANSI code page (Cyrillic on a Western Windows, the euro
// sign) reaches the account whole.
TEST(FtpAccount, TheEnvironmentIsReadAsUnicode) {
  ASSERT_EQ(
      ::_wputenv_s(L"DRAVION_FTP_TEST_PASSWORD", L"\u043f\u0430\u0440\u043e\u043b\u044c\u20ac"), 0);
  EXPECT_EQ(ReadEnvironment("DRAVION_FTP_TEST_PASSWORD"), "пароль€");
  ::_wputenv_s(L"DRAVION_FTP_TEST_PASSWORD", L"");
  EXPECT_FALSE(ReadEnvironment("DRAVION_FTP_TEST_MISSING").has_value());
}
#endif

}  // namespace
}  // namespace dravion
