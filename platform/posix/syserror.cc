#include "platform/syserror.h"

#include <cstdio>
#include <cstring>

namespace platform {

std::size_t system_error_text(int code, char* out, std::size_t capacity) {
  if (capacity == 0) return 0;
  // strerrordesc_np answers null for a number the system does not know, where strerror would
  // make up a text of its own.
  const char* text = ::strerrordesc_np(code);
  int n = text != nullptr
              ? std::snprintf(out, capacity, "%s", text)
              : std::snprintf(out, capacity, "Unknown error code (value = %d decimal)", code);
  std::size_t len = n < 0 ? 0 : static_cast<std::size_t>(n);
  if (len >= capacity) len = capacity - 1;
  while (len > 0 && out[len - 1] == ' ') --len;
  out[len] = '\0';
  return len;
}

}  // namespace platform
