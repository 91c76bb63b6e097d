#pragma once

#include <QString>
#include <memory>

#include "services/language.h"

class QTranslator;

namespace dravion::ui {

// Qt's own texts (file dialogs, standard buttons, context menus of text fields) in the interface
// language: Qt's Russian translation is installed while the interface speaks Russian and removed
// for English, Qt's own language. The translation comes from the program's resources when the
// build found it (Debian's qt6-translations-l10n), else from Qt's translations folder; without
// either, Qt speaks English.
class QtTranslations {
 public:
  QtTranslations();
  ~QtTranslations();
  QtTranslations(const QtTranslations&) = delete;
  QtTranslations& operator=(const QtTranslations&) = delete;

  // Installs or removes the translation for `language`; false when Russian was asked for and no
  // translation could be loaded.
  bool Use(const Language& language);
  // Where the installed translation came from (empty while none is installed).
  QString Source() const { return source_; }

 private:
  std::unique_ptr<QTranslator> translator_;
  bool installed_ = false;
  QString source_;
};

}  // namespace dravion::ui
