#pragma once

#include <string>
#include <vector>

namespace dravion::cli {

// Whether standard input (0), output (1) or error (2) is a terminal.
bool IsTerminal(int stream);
// Sets the console up for UTF-8 text where the system needs it (Windows) until the program ends,
// when the console's own settings come back (the console belongs to the shell that started us).
void PrepareConsole();

// How a line was read from the console.
enum class ConsoleRead {
  NotConsole,  // standard input is no console (or the system reads it as a stream): use the stream
  Line,        // `line` holds the line, in UTF-8, without its end
  End,         // end of input, or the read was cancelled (CancelConsoleRead)
};
// Reads one line where the console must be read in its own terms (Windows: as UTF-16, since
// non-ASCII input read as bytes under code page 65001 comes back as NUL bytes).
ConsoleRead ReadConsoleLine(std::string& line);
// Ends a ReadConsoleLine under way on another thread (a stop request while a question waits).
// Safe from any thread; does nothing when no read waits.
void CancelConsoleRead();

// The program's arguments after its name, in UTF-8.
std::vector<std::string> CommandLineArguments(int argc, char** argv);
// The descriptor a question's answer is read from so that Ctrl+C ends the wait (standard input),
// or -1 where the standard stream's own read ends at Ctrl+C (Windows).
int AnswerDescriptor();
// One line from `fd` without its line end, unless a signal comes first: 1 a line, 0 the input
// ended (a last line without its end is still given as a line), -1 a signal arrived.
int ReadAnswerLine(int fd, std::string& line);

}  // namespace dravion::cli
