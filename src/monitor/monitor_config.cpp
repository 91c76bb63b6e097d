#include "monitor/monitor_config.h"

#include <fstream>
#include <set>

#include "log/run_log_file.h"

namespace dravion {
namespace {

const std::map<std::string, std::set<std::string>>& KnownKeys() {
  static const std::map<std::string, std::set<std::string>> keys = {
      {"radmon", {"user", "password", "url", "ca"}},
      {"gmcmap", {"account", "device", "url", "ca"}},
      {"safecast", {"api_key", "latitude", "longitude", "device_id", "url", "ca"}},
      {"mqtt", {"host", "port", "user", "password", "tls", "ca", "topic", "discovery"}},
      {"prometheus", {"listen"}},
  };
  return keys;
}

}  // namespace

std::string MonitorConfig::Get(const std::string& section, const std::string& key,
                               const std::string& fallback) const {
  const auto s = sections.find(section);
  if (s == sections.end()) return fallback;
  const auto k = s->second.find(key);
  return k == s->second.end() ? fallback : k->second;
}

bool IsSecretKey(const std::string& key) {
  return key == "password" || key == "api_key";
}

bool AddConfigSection(MonitorConfig& config, const std::string& section, std::string& error) {
  if (KnownKeys().count(section) == 0) {
    error = "unknown section [" + section + "]";
    return false;
  }
  config.sections[section];
  return true;
}

bool AddConfigEntry(MonitorConfig& config, const std::string& section, const std::string& key,
                    const std::string& value, std::string& error) {
  const auto known = KnownKeys().find(section);
  if (section.empty()) {
    error = "\"" + key + "\" stands before any [section]";
  } else if (known == KnownKeys().end()) {
    error = "unknown section [" + section + "]";
  } else if (known->second.count(key) == 0) {
    error = "unknown key \"" + key + "\" in [" + section + "]";
  } else if (!config.sections[section].emplace(key, value).second) {
    error = "\"" + key + "\" is given twice in [" + section + "]";
  } else {
    return true;
  }
  return false;
}

bool ReadConfigAuthorities(const MonitorConfig& config, const std::string& section,
                           std::string& pem, std::string& error) {
  pem.clear();
  const std::string path = config.Get(section, "ca");
  if (path.empty()) return true;
  std::ifstream file(PathFromUtf8(path), std::ios::binary);
  if (file) {
    // One byte more than the largest: a file that fills it is too large.
    pem.resize(kAuthoritiesFileMaxBytes + 1);
    file.read(pem.data(), static_cast<std::streamsize>(pem.size()));
    pem.resize(static_cast<size_t>(file.gcount()));
  }
  const std::string where = "[" + section + "] ca: " + path;
  if (!file.is_open() || file.bad()) {
    error = where + " cannot be read";
  } else if (pem.size() > kAuthoritiesFileMaxBytes) {
    error = where + " is larger than a file of certificate authorities can be";
  } else if (pem.find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
    error = where + " holds no certificate (a PEM file is wanted)";
  } else {
    return true;
  }
  pem.clear();
  return false;
}

const std::string& MonitorConfigTemplate() {
  static const std::string text =
      "; The monitoring station of dravion-cli (dravion-cli monitor). Each [section] below that\n"
      "; is not commented out turns an output on. This file holds passwords and keys: keep it\n"
      "; readable by you alone. A \";\" after a space starts a comment.\n"
      "\n"
      ";[radmon]\n"
      ";user = \n"
      ";password = \n"
      "\n"
      ";[gmcmap]\n"
      ";account = \n"
      ";device = \n"
      "\n"
      ";[safecast]\n"
      ";api_key = \n"
      ";latitude = \n"
      ";longitude = \n"
      "\n"
      ";[mqtt]\n"
      ";host = localhost\n"
      ";port = 1883\n"
      ";user = \n"
      ";password = \n"
      "\n"
      ";[prometheus]\n"
      ";listen = 127.0.0.1:9750\n";
  return text;
}

}  // namespace dravion
