#include <io.h>
#include <windows.h>
// After windows.h.
#include <shellapi.h>

#include <cstdio>

#include "cli/terminal.h"

namespace dravion::cli {

bool IsTerminal(int stream) {
  return ::_isatty(stream) != 0;
}

void PrepareConsole() {
  ::SetConsoleOutputCP(CP_UTF8);
  ::SetConsoleCP(CP_UTF8);
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string text(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
      ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, text.data(), size, nullptr, nullptr);
    args.push_back(text);
  }
  ::LocalFree(wide);
  return args;
}

int AnswerDescriptor() {
  return -1;
}

int ReadAnswerLine(int, std::string& line) {
  line.clear();
  return 0;
}

}  // namespace dravion::cli
