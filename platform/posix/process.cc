#include "platform/process.h"

#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace platform {

std::optional<std::string> raw_command_line() { return std::nullopt; }

std::string search_program(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return name;
  const char* path = std::getenv("PATH");
  if (path == nullptr) return name;
  std::string_view rest(path);
  while (true) {
    const std::size_t colon = rest.find(':');
    std::string dir(rest.substr(0, colon));
    if (dir.empty()) dir = ".";
    const std::string candidate = dir + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    if (colon == std::string_view::npos) return name;
    rest.remove_prefix(colon + 1);
  }
}

// POSIX streams carry bytes unchanged already.
void prepare_standard_streams() {}

}  // namespace platform
