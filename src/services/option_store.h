#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace dravion {

// Named options kept between runs (the registry or the platform's settings file in the GUI).
class OptionStore {
 public:
  virtual ~OptionStore() = default;
  // Missing or unreadable values read as nullopt.
  virtual std::optional<int64_t> ReadInt(const std::string& name) = 0;
  virtual bool WriteInt(const std::string& name, int64_t value) = 0;
  virtual std::optional<std::string> ReadText(const std::string& name) = 0;
  // A store that keeps no texts refuses them.
  virtual bool WriteText(const std::string& name, const std::string& value) {
    (void)name;
    (void)value;
    return false;
  }
};

}  // namespace dravion
