#include "platform/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {

namespace {

int descriptor(StandardStream stream) { return stream == StandardStream::error ? STDERR_FILENO : STDOUT_FILENO; }

}  // namespace

bool is_terminal(StandardStream stream) { return ::isatty(descriptor(stream)) == 1; }

int terminal_columns(StandardStream stream) {
  struct winsize size {};
  if (::ioctl(descriptor(stream), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

}  // namespace platform
