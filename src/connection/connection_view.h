#pragma once

#include <cstdint>
#include <string>

namespace dravion {

// Styles of the device line in the status bar.
enum class StatusStyle : int { Neutral = 0, Recognised = 1, Unknown = 2, Progress = 3 };

// Style numbers above 3 (and below 0) are shown as Neutral.
StatusStyle StatusStyleFromNumber(int style);

// How a status style is painted. Neutral uses the system's own button-face and window-text
// colours (systemColours true, the RGB values then unused).
struct StatusLook {
  bool systemColours = false;
  uint32_t background = 0;  // 0xRRGGBB
  uint32_t text = 0;        // 0xRRGGBB
  bool bold = false;
};
StatusLook LookOfStatus(StatusStyle style);

// The link indicator of the status bar.
enum class LinkState { OK, ERR, NOK };
uint32_t ColourOfLink(LinkState state);               // 0xRRGGBB
std::string TextOfLink(LinkState state, bool blink);  // "= OK =" while blinking, else "OK"

// What the connection manager shows; the window implements it with its widgets.
class ConnectionView {
 public:
  virtual ~ConnectionView() = default;
  // Panel_Bottom_Info_Text.
  virtual void ShowStatus(const std::string& text, StatusStyle style) = 0;
  // Panel_Connection: colour and text of the indicator.
  virtual void ShowLink(LinkState state, uint32_t colour, const std::string& text) = 0;
  // Panel_COM: "COM 7" while the port is open, "----" otherwise.
  virtual void ShowPortPanel(const std::string& text) = 0;
  // BitBtn_ReNewDeviceInfo.
  virtual void SetUpdateButtonEnabled(bool enabled) = 0;
  // The Connection menu's radio group: the automatic action checked, or the manual one.
  virtual void SetAutoChecked(bool checked) = 0;
  virtual void SetManualCaption(const std::string& caption) = 0;
  // Empties Memo_Info.
  virtual void ClearDeviceInformation() = 0;
};

// A connection view that shows nothing: for programs without a status bar (the terminal tool,
// benchmarks) and tests that do not look at it.
class SilentConnectionView : public ConnectionView {
 public:
  void ShowStatus(const std::string&, StatusStyle) override {}
  void ShowLink(LinkState, uint32_t, const std::string&) override {}
  void ShowPortPanel(const std::string&) override {}
  void SetUpdateButtonEnabled(bool) override {}
  void SetAutoChecked(bool) override {}
  void SetManualCaption(const std::string&) override {}
  void ClearDeviceInformation() override {}
};

}  // namespace dravion
