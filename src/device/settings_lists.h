#pragma once

#include <string>
#include <vector>

#include "device/settings_controller.h"
#include "services/language.h"

namespace dravion {

// The items of a settings list in the interface language, in their order: an item's position is
// the value the device stores. The threshold lists are those of `unit` (see value_tables.h);
// the other lists do not depend on it.
std::vector<std::string> SettingsListItems(SettingsList list, int unit, const Language& language);

}  // namespace dravion
