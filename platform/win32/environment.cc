#include "platform/environment.h"

#include <windows.h>

namespace platform {

std::optional<std::string> environment_variable(const char* name) {
  std::string value(256, '\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD n = GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
    if (n == 0) {
      // 0 is both "not set" and "set to nothing"; the last error tells them apart.
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    if (n < value.size()) {
      value.resize(n);
      return value;
    }
    value.resize(n);  // the room it needs, NUL included; it may have grown meanwhile
  }
}

}  // namespace platform
