#include "platform/terminal.h"

#include <windows.h>

namespace platform {

namespace {

HANDLE handle_of(StandardStream stream) {
  return GetStdHandle(stream == StandardStream::error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
}

}  // namespace

// A console counts as a terminal only when it takes the escape sequences the progress line is
// drawn with; a console that cannot be switched to them (older Windows) shows no line at all,
// rather than a line of escape characters.
bool is_terminal(StandardStream stream) {
  const HANDLE h = handle_of(stream);
  DWORD mode = 0;
  if (h == INVALID_HANDLE_VALUE || h == nullptr || !GetConsoleMode(h, &mode)) return false;
  if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
  return SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int terminal_columns(StandardStream stream) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(handle_of(stream), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

}  // namespace platform
