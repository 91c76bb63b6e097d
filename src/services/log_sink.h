#pragma once

#include <string>

namespace dravion {

// Where every step and error of the run is written, one text line at a time (UTF-8).
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void LogLine(const std::string& text) = 0;
  // Overwrites the last line in place (progress reports), bypassing LogLine's rules. A sink that
  // cannot overwrite adds the line instead.
  virtual void ReplaceLastLine(const std::string& text) { LogLine(text); }
  // # ERROR: "text"
  void LogError(const std::string& text) { LogLine("# ERROR: \"" + text + "\""); }
  // ERROR=[code]-"text"
  void LogCodedError(const std::string& text, int code) {
    LogLine("ERROR=[" + std::to_string(code) + "]-\"" + text + "\"");
  }
};

}  // namespace dravion
