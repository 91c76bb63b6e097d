#pragma once

#include <map>
#include <string>

namespace dravion {

// The largest configuration file read, and the longest line in it.
inline constexpr size_t kMonitorConfigMaxBytes = 64 * 1024;
inline constexpr size_t kMonitorConfigMaxLine = 198;

// The monitoring station's configuration: which outputs run and how they reach their service.
// One INI file; each section names an output ([radmon], [gmcmap], [safecast], [mqtt],
// [prometheus], and [station] for the station's own data) and holds its keys. It holds secrets
// (passwords, API keys): their values never appear in a message of this program.
struct MonitorConfig {
  std::string path;
  // Which station this is, for the archive that several stations may share: the configuration
  // file's absolute path (what a station's outputs deliver to is set there). Readings queued by
  // one station are delivered by that station only.
  std::string station;
  std::map<std::string, std::map<std::string, std::string>> sections;
  // The line each key was read from, and each section's own line under the key "".
  std::map<std::string, std::map<std::string, int>> lines;

  bool Has(const std::string& section) const { return sections.count(section) != 0; }
  // The key's value, or `fallback` when the section or the key is absent.
  std::string Get(const std::string& section, const std::string& key,
                  const std::string& fallback = {}) const;
  // The line of a key, else of its section; 0 when not known.
  int LineOf(const std::string& section, const std::string& key) const;
  // "line 7: [safecast] device_id", or without the line when it is not known.
  std::string Where(const std::string& section, const std::string& key) const;
};

// Whether a key's value is a secret (a password, an API key).
bool IsSecretKey(const std::string& key);

// Reads the text of a configuration file (UTF-8, or UTF-16 with its byte-order mark) into
// `config`: known sections and keys only, each section and each key once, every line a
// [section], a key = value, a comment (";" or "#" first) or blank, none longer than
// kMonitorConfigMaxLine, the text valid UTF-8. Leading blanks are ignored; a ";" after a blank
// ends a value. False with `error` naming the first wrong line, never a value.
bool ParseMonitorConfig(const std::string& text, MonitorConfig& config, std::string& error);

// Checks every value of a parsed configuration, so that a station starts only with outputs that
// can work: required keys, URLs (http or https with a host), numbers and ports in range, the
// metrics listener's host:port, the broker's name, MQTT topics (UTF-8, no wildcard), Safecast's
// device id (a JSON number), the station's own limits. False with `error` naming the line and the
// key of the first mistake, never a value.
bool CheckMonitorConfig(const MonitorConfig& config, std::string& error);

// Why `topic` (after <serial> was replaced) cannot be published to, or empty when it can: MQTT
// wants UTF-8 without a zero, without the wildcards + and #, at most 65535 bytes.
std::string MqttTopicProblem(const std::string& topic);

// The station's own limits ([station]): readings older than keep_days are removed (0: kept for
// ever), and an output's queue holds at most queue_max readings (the oldest go first).
inline constexpr int kDefaultQueueMax = 100000;
struct StationLimits {
  int keepDays = 0;
  int queueMax = kDefaultQueueMax;
};
StationLimits StationLimitsOf(const MonitorConfig& config);

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

// Reads the configuration file at `path`, parses it and checks it (ParseMonitorConfig,
// CheckMonitorConfig). The file must be the user's alone (it holds secrets): on Linux its owner
// and mode, on Windows its access list (nobody but the user, the system and the administrators
// may read or change it); one that others can use is refused, saying how to mend it. False with
// `error` naming the file and what is wrong, never a value; `missing` true when there is no such
// file.
bool LoadMonitorConfig(const std::string& path, MonitorConfig& config, std::string& error,
                       bool& missing);

// A configuration to fill in, every output commented out.
const std::string& MonitorConfigTemplate();
// Writes `text` as a new file at `path` that only its owner can read and write (on Linux mode
// 0600; on Windows an access list of the user alone), its folders made as needed; never over an
// existing file. False with `error`.
bool WritePrivateFile(const std::string& path, const std::string& text, std::string& error);

}  // namespace dravion
