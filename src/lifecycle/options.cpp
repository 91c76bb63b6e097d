#include "lifecycle/options.h"

#include "services/language.h"
#include "services/option_store.h"

namespace dravion {

int LoadPageOption(OptionStore& options) {
  const auto value = options.ReadInt("PAGENUM");
  if (!value || *value < 0) return 0;
  if (*value >= kPageCount) return kPageCount - 1;
  return static_cast<int>(*value);
}

void SavePageOption(OptionStore& options, int page) {
  options.WriteInt("PAGENUM", page);
}

void LoadLanguageOption(OptionStore& options, Language& language) {
  const auto value = options.ReadInt("LANGUAGE");
  language.SetFromOption(value ? *value : 0);
}

void SaveLanguageOption(OptionStore& options, const Language& language) {
  options.WriteInt("LANGUAGE", language.OptionValue());
}

bool LoadHistorySyncOption(OptionStore& options) {
  return options.ReadInt("HISTORYSYNC").value_or(0) == 1;
}

void SaveHistorySyncOption(OptionStore& options, bool on) {
  options.WriteInt("HISTORYSYNC", on ? 1 : 0);
}

}  // namespace dravion
