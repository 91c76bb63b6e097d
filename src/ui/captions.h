#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "services/language.h"

class QObject;
class QWidget;

namespace dravion::ui {

// The title of the main window in the current language.
QString WindowTitle(const Language& language);

// A caption pair of a control, addressed by the control's object name.
struct CaptionPair {
  const char* object;
  const char* russian;
  const char* english;
};

// The captions set on each change of language, in their order: those before the settings
// lists, then those after them. "Form1" is the main window's title.
const std::vector<CaptionPair>& CaptionsBeforeLists();
const std::vector<CaptionPair>& CaptionsAfterLists();

// The items of the fixed settings lists, by the list's object name, in the current language.
// Their positions are the values written to the device.
struct ListItems {
  const char* object;
  QStringList (*items)(const Language& language);
};
const std::vector<ListItems>& SettingsListsBeforeThresholds();  // device language, units
const std::vector<ListItems>& SettingsListsAfterThresholds();   // brightness ... alarm minute

// Sets / reads the caption of a named object below `root` (or of `root` itself): the text of an
// action, the title of a menu or group box, the text of a button or label, the tab text of a page
// of a tab widget. "Form1" addresses the window title. False / empty when there is no such
// object.
// Menus and actions are read without their mnemonic marks ("&File" reads "File").
bool SetCaption(QWidget* root, const QString& object, const QString& text);
QString CaptionOf(QWidget* root, const QString& object);
// A caption without its mnemonic marks: each "&" goes, "&&" stays one "&".
QString WithoutMnemonic(const QString& caption);

}  // namespace dravion::ui
