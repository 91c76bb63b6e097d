#pragma once

// The main window and its two secondary windows as the program builds them, in English, for the
// benchmarks that measure the real window.

#include "services/language.h"
#include "ui/main_window.h"
#include "ui/secondary_windows.h"

namespace dravion::bench {

struct BenchWindow {
  explicit BenchWindow(OptionStore& options) : form(English(language), options) {
    form.SetSecondaryWindows(&busy, &about);
  }

  Language language;
  ui::MainWindow form;
  ui::BusyWindow busy{&form};
  ui::AboutWindow about{&form, language};

 private:
  static Language& English(Language& language) {
    language.Set(Lang::English);
    return language;
  }
};

}  // namespace dravion::bench
