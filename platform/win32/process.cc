#include "platform/process.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace platform {

std::optional<std::string> raw_command_line() {
  const char* line = GetCommandLineA();
  if (line == nullptr) return std::nullopt;
  return std::string(line);
}

std::string search_program(const std::string& name) {
  if (name.empty()) return name;
  std::string found(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = SearchPathA(nullptr, name.c_str(), ".exe", static_cast<DWORD>(found.size()), found.data(), nullptr);
    if (n == 0) return name;
    if (n < found.size()) {
      found.resize(n);
      return found;
    }
    found.resize(n);  // the room it needs, NUL included
  }
}

void prepare_standard_streams() {
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
}

}  // namespace platform
