#pragma once
// System error numbers and their texts.
//
// The system's error numbers are the errno values; they are small positive numbers, well apart
// from the block I/O library's own codes 6000 to 6032, so a caller can tell the two kinds apart.

#include <cstddef>

namespace platform {

// Copies the system's one-line text for `code` into `out` (capacity bytes, NUL included), cut to
// fit and without trailing blanks, and returns its length. A code the system has no text for
// gives "Unknown error code (value = <code> decimal)".
std::size_t system_error_text(int code, char* out, std::size_t capacity);

}  // namespace platform
