#pragma once

namespace dravion {

class Language;
class OptionStore;

// Pages of the main window; the hidden log page counts.
constexpr int kPageCount = 5;
// The log page, the last one; its tab is hidden at every start.
constexpr int kLogPage = kPageCount - 1;

// PAGENUM: the page active at the last exit. Missing, unreadable or negative gives 0; a value
// past the last page gives the last page.
int LoadPageOption(OptionStore& options);
// Failures are ignored: the option keeps its old value.
void SavePageOption(OptionStore& options, int page);

// LANGUAGE: 2 is English, anything else (or nothing) Russian.
void LoadLanguageOption(OptionStore& options, Language& language);
void SaveLanguageOption(OptionStore& options, const Language& language);

// HISTORYSYNC: 1 reads the new history records in the background once a device is identified;
// anything else (or nothing) does not.
bool LoadHistorySyncOption(OptionStore& options);
void SaveHistorySyncOption(OptionStore& options, bool on);

}  // namespace dravion
