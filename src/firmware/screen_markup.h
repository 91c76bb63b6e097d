#pragma once

#include <string>
#include <vector>

namespace dravion {

// The texts, in the device's screen markup, that draw the progress screen of the data-flash
// write on the device's display (sent with PC_PRINT, byte for byte as composed here).

// Fills the screen in colour g.
std::string ScreenFillText();  // {X0|Y0|Cg|RA}
// Font 02, background g, colour W, left alignment.
std::string ScreenStyleText();  // {F02|Bg|CW|AL|T0}
// The title line at Y 1.
std::string ScreenTitleText();  // {Y1|AS|*}PC CONNECT
// The port line at Y 21: "COM-" and the port number.
std::string ScreenPortText(int portNumber);
// A 106 x 16 frame in colour B at (11, 60) around a 100 x 10 track in colour b at (14, 63).
std::string ScreenFrameText();
// The progress bar over the track: percent (kept within 0-100) pixels wide in colour Y.
std::string ScreenProgressText(int percent);
// The spinner character at Y 83, drawn as text after the group.
std::string ScreenSpinnerText(char spinner);
// Clears the band Y 60-79 across the full width.
std::string ScreenClearBandText();  // #{X0|Y60|Cg|Bg|RF128:20|F02}
// "END OF" at Y 83 and "WRITE" 20 pixels below, in colour Y.
std::string ScreenEndText();

// The four spinner characters in turning order, and the one for an index (taken modulo 4).
inline constexpr char kSpinnerCharacters[] = {'|', '/', '-', '\\'};
char SpinnerCharacter(int index);

// The five texts that open the progress screen, in sending order.
std::vector<std::string> OpeningScreenTexts(int portNumber);
// The progress bar and the spinner of one progress report.
std::vector<std::string> ProgressScreenTexts(int percent, char spinner);
// The two texts that close a successful write.
std::vector<std::string> ClosingScreenTexts();

}  // namespace dravion
