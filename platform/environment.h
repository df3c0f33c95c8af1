#pragma once
// The process's environment variables (GetEnvironmentVariableA on Win32, getenv elsewhere).

#include <optional>
#include <string>

namespace platform {

// The value of the variable `name`, or nothing when it is not set. A set but empty variable
// gives an empty string.
std::optional<std::string> environment_variable(const char* name);

}  // namespace platform
