#pragma once

#include <functional>
#include <optional>
#include <string>

namespace dravion {

class OptionStore;

// The report server's account. Never built into the program: it comes from the option store
// (FTPHOST, FTPPORT, FTPUSER, FTPPASSWORD, FTPTLS) and environment variables (DRAVION_FTP_HOST,
// DRAVION_FTP_PORT, DRAVION_FTP_USER, DRAVION_FTP_PASSWORD, DRAVION_FTP_TLS), which take
// precedence value by value.
struct FtpAccount {
  std::string host;  // empty: no report server, the upload is skipped
  int port = 21;
  std::string user;  // empty: anonymous
  std::string password;
  bool explicitTls = false;  // AUTH TLS on the control and data connections (FTPS, explicit)
  int connectTimeoutMs = 3000;

  bool Configured() const { return !host.empty(); }
};

// Reads an environment variable; nullopt when unset.
using EnvironmentReader = std::function<std::optional<std::string>(const char* name)>;
std::optional<std::string> ReadEnvironment(const char* name);

// The account from `options` (may be null) and the environment.
FtpAccount LoadFtpAccount(OptionStore* options, const EnvironmentReader& env = ReadEnvironment);

}  // namespace dravion
