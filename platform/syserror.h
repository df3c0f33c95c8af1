#pragma once
// System error numbers and their texts.
//
// The system's error numbers are the errno values on POSIX and the codes of GetLastError on
// Win32. A caller compares them only with the named constants below; everything else it passes
// on, or prints with system_error_text.

#include <cerrno>
#include <cstddef>

namespace platform {

// The errors that callers above this folder tell apart.
#ifdef _WIN32
inline constexpr int kErrorFileNotFound = 2;    // ERROR_FILE_NOT_FOUND
inline constexpr int kErrorFileExists = 80;     // ERROR_FILE_EXISTS (the Win32 layer reports
                                                // ERROR_ALREADY_EXISTS as this one too)
inline constexpr int kErrorIsDirectory = 5;     // ERROR_ACCESS_DENIED, what opening a directory gives
#else
inline constexpr int kErrorFileNotFound = ENOENT;
inline constexpr int kErrorFileExists = EEXIST;
inline constexpr int kErrorIsDirectory = EISDIR;
#endif

// Copies the system's one-line text for `code` into `out` (capacity bytes, NUL included), cut to
// fit and without trailing blanks, and returns its length. A code the system has no text for
// gives "Unknown error code (value = <code> decimal)".
std::size_t system_error_text(int code, char* out, std::size_t capacity);

}  // namespace platform
