#include "connection/connection_view.h"

namespace dravion {

StatusStyle StatusStyleFromNumber(int style) {
  return style >= 0 && style <= 3 ? static_cast<StatusStyle>(style) : StatusStyle::Neutral;
}

StatusLook LookOfStatus(StatusStyle style) {
  switch (style) {
    case StatusStyle::Recognised:
      return {false, 0x008000, 0xFFFFFF, true};
    case StatusStyle::Unknown:
      return {false, 0xFF0000, 0xFFFF00, true};
    case StatusStyle::Progress:
      return {false, 0xFFFF00, 0x0000FF, true};
    case StatusStyle::Neutral:
      break;
  }
  return {true, 0, 0, false};
}

uint32_t ColourOfLink(LinkState state) {
  switch (state) {
    case LinkState::OK:
      return 0x00FF00;
    case LinkState::ERR:
      return 0xFF0000;
    case LinkState::NOK:
      break;
  }
  return 0xFFFFFF;
}

std::string TextOfLink(LinkState state, bool blink) {
  const char* name = state == LinkState::OK ? "OK" : state == LinkState::ERR ? "ERR" : "NOK";
  return blink ? std::string("= ") + name + " =" : std::string(name);
}

}  // namespace dravion
