#pragma once
// The system's name for an open file, as the classes of this folder keep it: a descriptor on
// POSIX, a HANDLE (held as an integer) on Win32. Code above platform/ never looks inside one.

#include <cstdint>

namespace platform {

#ifdef _WIN32
using NativeHandle = std::intptr_t;
#else
using NativeHandle = int;
#endif

// No file (a descriptor of -1; INVALID_HANDLE_VALUE).
inline constexpr NativeHandle kNoHandle = -1;

}  // namespace platform
