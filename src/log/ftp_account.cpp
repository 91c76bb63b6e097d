#include "log/ftp_account.h"

#include <cstdlib>

#include "services/option_store.h"

#ifdef _WIN32
#include "services/wide_text_win32.h"
#endif

namespace dravion {

namespace {

std::optional<long long> ParseInt(const std::string& text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

bool ValidPort(long long port) {
  return port >= 1 && port <= 65535;
}

}  // namespace

std::optional<std::string> ReadEnvironment(const char* name) {
#ifdef _WIN32
  // As UTF-16: the narrow environment is in the ANSI code page, which loses what it cannot spell
  // (a Cyrillic password on a Western system).
  const wchar_t* value = ::_wgetenv(WideFromUtf8(name).c_str());
  if (!value) return std::nullopt;
  return Utf8FromWide(value);
#else
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
#endif
}

FtpAccount LoadFtpAccount(OptionStore* options, const EnvironmentReader& env) {
  FtpAccount account;
  auto text = [&](const char* envName, const char* optionName, std::string& field) {
    if (auto value = env(envName)) {
      field = *value;
    } else if (options) {
      if (auto stored = options->ReadText(optionName)) field = *stored;
    }
  };
  text("DRAVION_FTP_HOST", "FTPHOST", account.host);
  text("DRAVION_FTP_USER", "FTPUSER", account.user);
  text("DRAVION_FTP_PASSWORD", "FTPPASSWORD", account.password);

  // Numbers: an unusable environment value falls back to the stored one, then to the default.
  std::optional<long long> port;
  if (auto value = env("DRAVION_FTP_PORT")) port = ParseInt(*value);
  if ((!port || !ValidPort(*port)) && options) {
    if (auto stored = options->ReadInt("FTPPORT")) port = *stored;
  }
  if (port && ValidPort(*port)) account.port = static_cast<int>(*port);

  std::optional<long long> tls;
  if (auto value = env("DRAVION_FTP_TLS")) tls = ParseInt(*value);
  if (!tls && options) {
    if (auto stored = options->ReadInt("FTPTLS")) tls = *stored;
  }
  account.explicitTls = tls && *tls != 0;
  return account;
}

}  // namespace dravion
