#include "firmware/screen_markup.h"

#include <algorithm>

namespace dravion {

std::string ScreenFillText() {
  return "{X0|Y0|Cg|RA}";
}

std::string ScreenStyleText() {
  return "{F02|Bg|CW|AL|T0}";
}

std::string ScreenTitleText() {
  return "{Y1|AS|*}PC CONNECT";
}

std::string ScreenPortText(int portNumber) {
  return "{Y21|AS|*}COM-" + std::to_string(portNumber);
}

std::string ScreenFrameText() {
  return "{Y60|X11|CB|RF106:16|x3|y3|Cb|RF100:10}";
}

std::string ScreenProgressText(int percent) {
  // The track is exactly 100 pixels wide: a bar wider than it would draw over the frame.
  return "{X14|Y63|CY|RF" + std::to_string(std::clamp(percent, 0, 100)) + ":10}";
}

std::string ScreenSpinnerText(char spinner) {
  return std::string("{Y83|CC|F02|AS|*}") + spinner;
}

std::string ScreenClearBandText() {
  return "#{X0|Y60|Cg|Bg|RF128:20|F02}";
}

std::string ScreenEndText() {
  return "{Y83|CY|T0|AS|*}END OF#{y20|AS|*}WRITE";
}

char SpinnerCharacter(int index) {
  return kSpinnerCharacters[static_cast<unsigned>(index) & 3u];
}

std::vector<std::string> OpeningScreenTexts(int portNumber) {
  return {ScreenFillText(), ScreenStyleText(), ScreenTitleText(), ScreenPortText(portNumber),
          ScreenFrameText()};
}

std::vector<std::string> ProgressScreenTexts(int percent, char spinner) {
  return {ScreenProgressText(percent), ScreenSpinnerText(spinner)};
}

std::vector<std::string> ClosingScreenTexts() {
  return {ScreenClearBandText(), ScreenEndText()};
}

}  // namespace dravion
