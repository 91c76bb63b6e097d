#pragma once

#include <string>

#include "serial/port_fault.h"

namespace dravion {

class Language;

// One line, in the interface language, that says why port `number` could not be opened and what
// the user can do about it; empty when nothing is known (fault None).
std::string PortFailureText(int number, const PortOpenFailure& failure, const Language& language);

}  // namespace dravion
