#include <io.h>
#include <windows.h>
// After windows.h.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>

#include "cli/console_cancel.h"
#include "cli/interrupt.h"
#include "cli/terminal.h"
#include "services/wide_text_win32.h"

namespace dravion::cli {
namespace {

// The console's code pages before PrepareConsole, put back at exit; 0 while not changed.
UINT savedInputCodePage = 0;
UINT savedOutputCodePage = 0;

void RestoreConsole() {
  if (savedOutputCodePage != 0) ::SetConsoleOutputCP(savedOutputCodePage);
  if (savedInputCodePage != 0) ::SetConsoleCP(savedInputCodePage);
}

// The stop of a read waiting in ReadConsoleW, from another thread: CancelSynchronousIo on the
// reading thread (a handle of it, registered while it reads).
ConsoleReadCancel& ReadCancel() {
  static ConsoleReadCancel cancel(
      [](void* thread) { return ::CancelSynchronousIo(static_cast<HANDLE>(thread)) != 0; });
  return cancel;
}

}  // namespace

bool IsTerminal(int stream) {
  return ::_isatty(stream) != 0;
}

void PrepareConsole() {
  const UINT input = ::GetConsoleCP();
  const UINT output = ::GetConsoleOutputCP();
  if (input == 0 && output == 0) return;  // no console
  savedInputCodePage = input;
  savedOutputCodePage = output;
  std::atexit(RestoreConsole);
  ::SetConsoleOutputCP(CP_UTF8);
  ::SetConsoleCP(CP_UTF8);
}

ConsoleRead ReadConsoleLine(std::string& line) {
  line.clear();
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (input == nullptr || input == INVALID_HANDLE_VALUE || !::GetConsoleMode(input, &mode))
    return ConsoleRead::NotConsole;
  HANDLE self = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &self,
                         0, FALSE, DUPLICATE_SAME_ACCESS))
    return ConsoleRead::End;
  // A stop holds while its signal does: a new watch starts without one.
  if (InterruptWatch::Signal() == 0) ReadCancel().Reset();
  if (!ReadCancel().Begin(self)) {
    ::CloseHandle(self);
    return ConsoleRead::End;
  }
  std::wstring text;
  bool ended = false;
  for (;;) {
    wchar_t chunk[256];
    DWORD got = 0;
    if (ReadCancel().Stopped() ||
        !::ReadConsoleW(input, chunk, static_cast<DWORD>(std::size(chunk)), &got, nullptr) ||
        got == 0) {
      ended = true;  // cancelled, or the console went away
      break;
    }
    text.append(chunk, got);
    if (text.back() == L'\n') break;
  }
  if (ReadCancel().End()) ended = true;
  ::CloseHandle(self);
  // Ctrl+Z at the start of a line is the console's end of input.
  if (ended || (!text.empty() && text.front() == L'\x1A')) return ConsoleRead::End;
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r'))
    text.pop_back();
  line = Utf8FromWide(text.data(), static_cast<int>(text.size()));
  return ConsoleRead::Line;
}

void CancelConsoleRead() {
  ReadCancel().Cancel();
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) {
    args.push_back(Utf8FromWide(wide[i]));
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
