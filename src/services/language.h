#pragma once

#include <string>
#include <string_view>

namespace dravion {

// The interface language: every user-visible text is a (Russian, English) pair chosen when shown.
enum class Lang { Russian = 1, English = 2 };

class Language {
 public:
  Lang Current() const { return current_; }
  void Set(Lang lang) { current_ = lang; }
  // The stored option value 2 means English; anything else Russian.
  void SetFromOption(long long value) { current_ = value == 2 ? Lang::English : Lang::Russian; }
  int OptionValue() const { return static_cast<int>(current_); }
  // The text of the pair in the current language, as a copy: the pair may be temporaries.
  std::string Text(std::string_view russian, std::string_view english) const {
    return std::string(current_ == Lang::Russian ? russian : english);
  }

 private:
  Lang current_ = Lang::Russian;
};

}  // namespace dravion
