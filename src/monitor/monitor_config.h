#pragma once

#include <map>
#include <string>

namespace dravion {

// The largest configuration file read, and the longest line in it.
inline constexpr size_t kMonitorConfigMaxBytes = 64 * 1024;
inline constexpr size_t kMonitorConfigMaxLine = 198;

// The monitoring station's configuration: which outputs run and how they reach their service.
// One INI file; each section names an output ([radmon], [gmcmap], [safecast], [mqtt],
// [prometheus]) and holds its keys. It holds secrets (passwords, API keys): their values never
// appear in a message of this program.
struct MonitorConfig {
  std::string path;
  std::map<std::string, std::map<std::string, std::string>> sections;

  bool Has(const std::string& section) const { return sections.count(section) != 0; }
  // The key's value, or `fallback` when the section or the key is absent.
  std::string Get(const std::string& section, const std::string& key,
                  const std::string& fallback = {}) const;
};

// Whether a key's value is a secret (a password, an API key).
bool IsSecretKey(const std::string& key);

// A section, and a key of a section, as read: known ones only, each key once. False with `error`
// saying what is wrong (never a value).
bool AddConfigSection(MonitorConfig& config, const std::string& section, std::string& error);
bool AddConfigEntry(MonitorConfig& config, const std::string& section, const std::string& key,
                    const std::string& value, std::string& error);

// The certificate authorities that the section's `ca` names (a PEM file, at most
// kAuthoritiesFileMaxBytes), read into `pem`; empty when the section has none. False with
// `error` naming the section and the file when it cannot be read or holds no certificate.
inline constexpr size_t kAuthoritiesFileMaxBytes = 1024 * 1024;
bool ReadConfigAuthorities(const MonitorConfig& config, const std::string& section,
                           std::string& pem, std::string& error);

// Where the configuration lives unless --config names a file: monitor.ini in the user's
// configuration folder ($XDG_CONFIG_HOME/dravion-manager/, by default
// ~/.config/dravion-manager/; on Windows %APPDATA%\Dravion Manager\). Empty when there is none.
std::string DefaultMonitorConfigPath();

// Reads the configuration file at `path` (inih on Linux, the system's profile functions on
// Windows): known sections and keys only, each key once; a section line alone turns its output on
// with every default. On Linux the file must be the user's own and readable by nobody else (it
// holds secrets): one that others can read is refused, saying how to mend it. False with `error`
// naming the file and what is wrong, never a value; `missing` true when there is no such file.
bool LoadMonitorConfig(const std::string& path, MonitorConfig& config, std::string& error,
                       bool& missing);

// A configuration to fill in, every output commented out.
const std::string& MonitorConfigTemplate();
// Writes `text` as a new file at `path` that only its owner can read and write (on Linux mode
// 0600), its folders made as needed; never over an existing file. False with `error`.
bool WritePrivateFile(const std::string& path, const std::string& text, std::string& error);

}  // namespace dravion
