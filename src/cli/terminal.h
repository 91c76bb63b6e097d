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
// The descriptor a question's answer is read from so that Ctrl+C ends the wait (standard input),
// or -1 where the standard stream's own read ends at Ctrl+C (Windows).
int AnswerDescriptor();
// One line from `fd` without its line end, unless a signal comes first: 1 a line, 0 the input
// ended (a last line without its end is still given as a line), -1 a signal arrived.
int ReadAnswerLine(int fd, std::string& line);

}  // namespace dravion::cli
