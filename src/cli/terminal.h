#pragma once

#include <string>
#include <vector>

namespace dravion::cli {

// Whether standard input (0), output (1) or error (2) is a terminal.
bool IsTerminal(int stream);
// Sets the console up for UTF-8 text where the system needs it (Windows).
void PrepareConsole();
// The program's arguments after its name, in UTF-8.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

}  // namespace dravion::cli
