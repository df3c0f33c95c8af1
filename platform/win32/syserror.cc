#include "platform/syserror.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace platform {

namespace {

bool blank(char c) { return c == ' ' || c == '\r' || c == '\n'; }

}  // namespace

std::size_t system_error_text(int code, char* out, std::size_t capacity) {
  if (capacity == 0) return 0;
  // The whole text first (FormatMessage refuses a buffer it does not fit), then cut.
  char* text = nullptr;
  const DWORD n = code < 0 ? 0
                           : FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                                FORMAT_MESSAGE_IGNORE_INSERTS,
                                            nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text),
                                            0, nullptr);
  std::size_t len = 0;
  if (n != 0 && text != nullptr) {
    // The system's texts end in a line end; a text is one line here.
    std::size_t whole = n;
    while (whole > 0 && blank(text[whole - 1])) --whole;
    len = whole < capacity - 1 ? whole : capacity - 1;
    std::memcpy(out, text, len);
  }
  if (text != nullptr) LocalFree(text);
  if (len == 0) {
    const int m = std::snprintf(out, capacity, "Unknown error code (value = %d decimal)", code);
    len = m < 0 ? 0 : static_cast<std::size_t>(m);
    if (len >= capacity) len = capacity - 1;
  }
  while (len > 0 && blank(out[len - 1])) --len;
  out[len] = '\0';
  return len;
}

}  // namespace platform
