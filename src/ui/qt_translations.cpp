#include "ui/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace dravion::ui {

QtTranslations::QtTranslations() : translator_(std::make_unique<QTranslator>()) {}

QtTranslations::~QtTranslations() {
  if (installed_ && QCoreApplication::instance())
    QCoreApplication::removeTranslator(translator_.get());
}

bool QtTranslations::Use(const Language& language) {
  if (installed_) {
    QCoreApplication::removeTranslator(translator_.get());
    installed_ = false;
    source_.clear();
  }
  if (language.Current() != Lang::Russian) return true;
  const QLocale russian(QLocale::Russian, QLocale::Russia);
  for (const QString& folder :
       {QStringLiteral(":/translations"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)}) {
    if (translator_->load(russian, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
      installed_ = QCoreApplication::installTranslator(translator_.get());
      if (installed_) source_ = translator_->filePath();
      return installed_;
    }
  }
  return false;
}

}  // namespace dravion::ui
