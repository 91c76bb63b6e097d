#include "monitor/monitor_config.h"

#include <curl/curl.h>

// The parser's text is UTF-8 as it is: no wide-character conversion (nor its library), and its
// functions compiled here, from the header alone (Debian's header keeps them behind
// SI_IMPLEMENTATION for its shared library).
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <limits>
#include <memory>
#include <set>
#include <vector>

#include "log/run_log_file.h"
#include "services/text_encoding.h"

namespace dravion {
namespace {

const std::map<std::string, std::set<std::string>>& KnownKeys() {
  static const std::map<std::string, std::set<std::string>> keys = {
      {"radmon", {"user", "password", "url", "ca"}},
      {"gmcmap", {"account", "device", "url", "ca"}},
      {"safecast", {"api_key", "latitude", "longitude", "device_id", "url", "ca"}},
      {"mqtt", {"host", "port", "user", "password", "tls", "ca", "topic", "discovery"}},
      {"prometheus", {"listen"}},
      {"station", {"keep_days", "queue_max"}},
  };
  return keys;
}

// Whether `text` is well-formed UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool IsUtf8(const std::string& text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    const unsigned char c = *p++;
    if (c < 0x80) continue;
    int more = 0;
    uint32_t code = 0, least = 0;
    if ((c & 0xE0) == 0xC0) {
      more = 1, code = c & 0x1F, least = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      more = 2, code = c & 0x0F, least = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      more = 3, code = c & 0x07, least = 0x10000;
    } else {
      return false;
    }
    if (end - p < more) return false;
    for (int i = 0; i < more; ++i, ++p) {
      if ((*p & 0xC0) != 0x80) return false;
      code = (code << 6) | (*p & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
  }
  return true;
}

// A file saved as UTF-16 (little-endian, with its byte-order mark, as Windows' Notepad saves
// "Unicode") as UTF-8; false when it is not well-formed.
bool Utf8FromUtf16File(const std::string& bytes, std::string& text) {
  text.clear();
  if (bytes.size() % 2 != 0) return false;
  auto unit = [&](size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8;
  };
  for (size_t at = 2; at < bytes.size(); at += 2) {
    uint32_t code = unit(at);
    if (code >= 0xDC00 && code <= 0xDFFF) return false;
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (at + 3 >= bytes.size()) return false;
      const uint32_t low = unit(at + 2);
      if (low < 0xDC00 || low > 0xDFFF) return false;
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      at += 2;
    }
    AppendUtf8(text, static_cast<char32_t>(code));
  }
  return true;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// One line as the INI parser reads it: a section, a key with its value, or nothing it knows
// (a comment, a blank line, or a line that is neither: the caller tells these apart).
struct IniLine {
  enum Kind { Nothing, Section, Entry } kind = Nothing;
  std::string section, key, value;
};

IniLine ParseIniLine(const std::string& line) {
  IniLine parsed;
  // Case-sensitive names, one value a key, no multi-line values, quotation marks kept.
  CSimpleIniCaseA ini(true, false, false);
  if (ini.LoadData(line.data(), line.size()) < 0) return parsed;
  CSimpleIniCaseA::TNamesDepend sections;
  ini.GetAllSections(sections);
  for (const auto& section : sections) {
    CSimpleIniCaseA::TNamesDepend keys;
    ini.GetAllKeys(section.pItem, keys);
    if (!keys.empty()) {
      parsed.kind = IniLine::Entry;
      parsed.key = keys.front().pItem;
      const char* value = ini.GetValue(section.pItem, parsed.key.c_str());
      parsed.value = value ? value : "";
      return parsed;
    }
    if (section.pItem[0] != '\0') {
      parsed.kind = IniLine::Section;
      parsed.section = section.pItem;
    }
  }
  return parsed;
}

// A whole number of the configuration in [low, high], whatever the locale.
bool WholeNumber(const std::string& text, int64_t low, int64_t high, int64_t& value) {
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size() &&
         value >= low && value <= high;
}

bool Degrees(const std::string& text, double low, double high) {
  double value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size() &&
         value >= low && value <= high;
}

struct CurlUrl {
  CURLU* handle = curl_url();
  ~CurlUrl() { curl_url_cleanup(handle); }
  // A part, or empty when there is none.
  std::string Part(CURLUPart part) const {
    char* text = nullptr;
    if (curl_url_get(handle, part, &text, 0) != CURLUE_OK || text == nullptr) return {};
    std::string copy = text;
    curl_free(text);
    return copy;
  }
};

// Why `url` cannot be a service's address, or empty: an http or https URL with a host, a port in
// range, and no query or fragment (the outputs add their own query).
std::string UrlProblem(const std::string& url) {
  CurlUrl parsed;
  if (parsed.handle == nullptr) return "could not be checked";
  if (curl_url_set(parsed.handle, CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
    return "is not a URL (https://host/path)";
  const std::string scheme = parsed.Part(CURLUPART_SCHEME);
  if (scheme != "http" && scheme != "https") return "must begin with https:// or http://";
  if (parsed.Part(CURLUPART_HOST).empty()) return "names no host";
  const std::string port = parsed.Part(CURLUPART_PORT);
  int64_t number = 0;
  if (!port.empty() && !WholeNumber(port, 1, 65535, number)) return "has a port outside 1 to 65535";
  if (!parsed.Part(CURLUPART_QUERY).empty() || url.find('#') != std::string::npos)
    return "must not hold a query (?) or a fragment (#)";
  return {};
}

// Why `host` cannot be a host name or address, or empty.
std::string HostProblem(const std::string& host) {
  if (host.empty()) return "is empty";
  CurlUrl parsed;
  if (parsed.handle == nullptr) return "could not be checked";
  // An IPv6 address is a host in brackets; a name or IPv4 address as it is.
  const std::string asHost =
      host.find(':') != std::string::npos && host.front() != '[' ? "[" + host + "]" : host;
  if (curl_url_set(parsed.handle, CURLUPART_URL, ("http://" + asHost + "/").c_str(), 0) !=
          CURLUE_OK ||
      parsed.Part(CURLUPART_HOST).empty() || !parsed.Part(CURLUPART_PORT).empty() ||
      !parsed.Part(CURLUPART_USER).empty())
    return "is not a host name or address";
  return {};
}

// Why `listen` cannot be the metrics listener's host:port, or empty.
std::string ListenProblem(const std::string& listen) {
  CurlUrl parsed;
  if (parsed.handle == nullptr) return "could not be checked";
  if (listen.find_first_of("/?#@") != std::string::npos ||
      curl_url_set(parsed.handle, CURLUPART_URL, ("http://" + listen + "/").c_str(), 0) !=
          CURLUE_OK ||
      parsed.Part(CURLUPART_HOST).empty())
    return "is not host:port (127.0.0.1:9750, [::1]:9750)";
  int64_t port = 0;
  if (!WholeNumber(parsed.Part(CURLUPART_PORT), 1, 65535, port))
    return "needs a port from 1 to 65535 after the host (127.0.0.1:9750)";
  return {};
}

}  // namespace

std::string MonitorConfig::Get(const std::string& section, const std::string& key,
                               const std::string& fallback) const {
  const auto s = sections.find(section);
  if (s == sections.end()) return fallback;
  const auto k = s->second.find(key);
  return k == s->second.end() ? fallback : k->second;
}

int MonitorConfig::LineOf(const std::string& section, const std::string& key) const {
  const auto s = lines.find(section);
  if (s == lines.end()) return 0;
  auto k = s->second.find(key);
  if (k == s->second.end()) k = s->second.find("");  // a key not given: its section's line
  return k == s->second.end() ? 0 : k->second;
}

std::string MonitorConfig::Where(const std::string& section, const std::string& key) const {
  const std::string where = "[" + section + "]" + (key.empty() ? "" : " " + key);
  const int line = LineOf(section, key);
  return line > 0 ? "line " + std::to_string(line) + ": " + where : where;
}

bool IsSecretKey(const std::string& key) {
  return key == "password" || key == "api_key";
}

bool ParseMonitorConfig(const std::string& file, MonitorConfig& config, std::string& error) {
  config.sections.clear();
  config.lines.clear();
  std::string text;
  if (file.size() >= 2 && file[0] == '\xFF' && file[1] == '\xFE') {
    if (!Utf8FromUtf16File(file, text)) {
      error = "it is not well-formed UTF-16 text";
      return false;
    }
  } else {
    text = file.compare(0, 3, "\xEF\xBB\xBF") == 0 ? file.substr(3) : file;
  }
  if (text.find('\0') != std::string::npos) {
    error = "it holds a zero byte: not a text file";
    return false;
  }
  std::string section;
  int number = 0;
  for (size_t start = 0; start < text.size();) {
    const size_t end = std::min(text.find('\n', start), text.size());
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    auto refuse = [&](const std::string& why) {
      error = "line " + std::to_string(number) + ": " + why;
      config.sections.clear();
      config.lines.clear();
      return false;
    };
    if (line.size() > kMonitorConfigMaxLine)
      return refuse("longer than " + std::to_string(kMonitorConfigMaxLine) + " characters");
    if (!IsUtf8(line)) return refuse("not UTF-8 text");
    const std::string content = Trimmed(line);
    if (content.empty() || content[0] == ';' || content[0] == '#') continue;
    const IniLine parsed = ParseIniLine(content);
    if (parsed.kind == IniLine::Section) {
      section = parsed.section;
      if (KnownKeys().count(section) == 0) return refuse("unknown section [" + section + "]");
      if (config.sections.count(section) != 0)
        return refuse("[" + section + "] is given twice (line " +
                      std::to_string(config.lines[section][""]) + " began it)");
      config.sections[section];
      config.lines[section][""] = number;
      continue;
    }
    if (parsed.kind != IniLine::Entry) return refuse("not a [section] or a key = value line");
    const auto known = KnownKeys().find(section);
    if (section.empty()) return refuse("\"" + parsed.key + "\" stands before any [section]");
    if (known->second.count(parsed.key) == 0)
      return refuse("unknown key \"" + parsed.key + "\" in [" + section + "]");
    // A ";" after a blank begins a comment.
    std::string value = parsed.value;
    for (size_t at = 1; at < value.size(); ++at) {
      if (value[at] == ';' && (value[at - 1] == ' ' || value[at - 1] == '\t')) {
        value = Trimmed(value.substr(0, at));
        break;
      }
    }
    if (!config.sections[section].emplace(parsed.key, value).second)
      return refuse("\"" + parsed.key + "\" is given twice in [" + section + "]");
    config.lines[section][parsed.key] = number;
  }
  return true;
}

std::string MqttTopicProblem(const std::string& topic) {
  if (topic.empty()) return "is empty";
  if (topic.size() > 65535) return "is longer than 65535 bytes";
  if (!IsUtf8(topic) || topic.find('\0') != std::string::npos) return "is not UTF-8 text";
  if (topic.find_first_of("+#") != std::string::npos) return "must not hold + or #";
  return {};
}

bool CheckMonitorConfig(const MonitorConfig& config, std::string& error) {
  // Every mistake is looked for; the one on the first line is named.
  int first = 0;
  auto note = [&](const std::string& section, const std::string& key, const std::string& why) {
    int line = config.LineOf(section, key);
    if (line <= 0) line = std::numeric_limits<int>::max();
    if (first != 0 && line >= first) return;
    first = line;
    error = config.Where(section, key) + " " + why;
  };
  const std::map<std::string, std::vector<std::string>> required = {
      {"radmon", {"user", "password"}},
      {"gmcmap", {"account", "device"}},
      {"safecast", {"api_key", "latitude", "longitude"}},
  };
  for (const auto& [section, keys] : config.sections) {
    if (const auto r = required.find(section); r != required.end()) {
      for (const std::string& key : r->second) {
        if (config.Get(section, key).empty()) note(section, "", "needs " + key + " = ...");
      }
    }
    for (const auto& [key, value] : keys) {
      std::string why;
      int64_t number = 0;
      if (key == "url") {
        why = UrlProblem(value);
      } else if (section == "safecast" && (key == "latitude" || key == "longitude")) {
        const int range = key == "latitude" ? 90 : 180;
        if (!Degrees(value, -range, range))
          why = "is degrees from -" + std::to_string(range) + " to " + std::to_string(range) +
                " with a decimal point (51.5, -0.12)";
      } else if (section == "safecast" && key == "device_id") {
        // Written into the JSON as a number: digits without a leading zero.
        if (!value.empty() && (value[0] == '0' || !WholeNumber(value, 1, 999999999, number)))
          why = "is a whole number from 1 to 999999999 without leading zeros";
      } else if (section == "mqtt" && key == "host") {
        why = HostProblem(value);
      } else if (section == "mqtt" && key == "port") {
        if (!WholeNumber(value, 1, 65535, number)) why = "is a number from 1 to 65535";
      } else if (section == "mqtt" && key == "tls") {
        if (value != "yes" && value != "no") why = "is yes or no";
      } else if (section == "mqtt" && key == "topic") {
        why = MqttTopicProblem(value);
      } else if (section == "mqtt" && key == "discovery") {
        if (!value.empty()) why = MqttTopicProblem(value);
      } else if (section == "prometheus" && key == "listen") {
        why = ListenProblem(value);
      } else if (section == "station" && key == "keep_days") {
        if (!WholeNumber(value, 0, 100000, number))
          why = "is a number of days from 0 (kept for ever) to 100000";
      } else if (section == "station" && key == "queue_max") {
        if (!WholeNumber(value, 100, 10000000, number))
          why = "is a number of readings from 100 to 10000000";
      }
      if (!why.empty()) note(section, key, why);
    }
  }
  return first == 0;
}

StationLimits StationLimitsOf(const MonitorConfig& config) {
  StationLimits limits;
  int64_t number = 0;
  if (WholeNumber(config.Get("station", "keep_days"), 0, 100000, number))
    limits.keepDays = static_cast<int>(number);
  if (WholeNumber(config.Get("station", "queue_max"), 100, 10000000, number))
    limits.queueMax = static_cast<int>(number);
  return limits;
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
