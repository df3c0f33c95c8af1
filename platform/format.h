#pragma once
// Fixed-column fields of the formatted text layer: an integer right-aligned in w columns
// (FORMAT Iw). A number wider than its field is printed whole rather than cut or starred, so
// that no message ever hides a value.

#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

inline std::string iw(int64_t value, int width) {
  char text[32];
  int n = std::snprintf(text, sizeof text, "%*lld", width, static_cast<long long>(value));
  return std::string(text, n > 0 ? static_cast<std::size_t>(n) : 0);
}

}  // namespace platform
