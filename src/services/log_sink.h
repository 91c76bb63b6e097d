#pragma once

#include <string>

namespace dravion {

// Where every step and error of the run is written, one text line at a time (UTF-8).
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void LogLine(const std::string& text) = 0;
  // # ERROR: "text"
  void LogError(const std::string& text) { LogLine("# ERROR: \"" + text + "\""); }
  // ERROR=[code]-"text"
  void LogCodedError(const std::string& text, int code) {
    LogLine("ERROR=[" + std::to_string(code) + "]-\"" + text + "\"");
  }
};

}  // namespace dravion
