#pragma once

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "support/scratch_folder.h"

namespace dravion::test {

// The process in a locale that writes numbers with a decimal comma (Russian, as the manager's
// users run it; Qt sets the C locale from the environment on Linux) for the object's life, then
// back in the locale it had. Where no such locale is installed, a Russian one is built with
// localedef into a folder of its own and found through LOCPATH.
class CommaDecimalLocale {
 public:
  CommaDecimalLocale() {
    const char* current = std::setlocale(LC_ALL, nullptr);
    previous_ = current != nullptr ? current : "C";
    active_ = Choose();
  }
  ~CommaDecimalLocale() { std::setlocale(LC_ALL, previous_.c_str()); }
  CommaDecimalLocale(const CommaDecimalLocale&) = delete;
  CommaDecimalLocale& operator=(const CommaDecimalLocale&) = delete;

  // Whether the process now writes 0.5 as "0,5".
  bool Active() const { return active_; }

 private:
  static bool CommaNow() {
    const std::lconv* conventions = std::localeconv();
    return conventions != nullptr && std::strcmp(conventions->decimal_point, ",") == 0;
  }
  bool Choose() {
    for (const char* name :
         {"ru_RU.UTF-8", "ru_RU.utf8", "Russian_Russia.1251", "de_DE.UTF-8", "fr_FR.UTF-8"}) {
      if (std::setlocale(LC_ALL, name) != nullptr && CommaNow()) return true;
    }
#ifndef _WIN32
    built_ = std::make_unique<ScratchFolder>("dravion-locale");
    const std::string target = (built_->path() / "ru_RU.UTF-8").string();
    const std::string command = "localedef -i ru_RU -f UTF-8 '" + target + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) == 0 && std::filesystem::exists(target)) {
      ::setenv("LOCPATH", built_->path().c_str(), 1);
      const bool set = std::setlocale(LC_ALL, "ru_RU.UTF-8") != nullptr && CommaNow();
      ::unsetenv("LOCPATH");  // the locale stays loaded
      if (set) return true;
    }
#endif
    std::setlocale(LC_ALL, previous_.c_str());
    return false;
  }

  std::string previous_;
  bool active_ = false;
  std::unique_ptr<ScratchFolder> built_;
};

}  // namespace dravion::test
