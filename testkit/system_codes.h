#pragma once
// The system error numbers that tests expect beside the ones platform/syserror.h names: errno
// values on POSIX, the codes of GetLastError on Windows, which the platform passes on unchanged.

#include <cerrno>
#include <string>

namespace support {

#ifdef _WIN32
inline constexpr int kErrorHeld = 32;         // ERROR_SHARING_VIOLATION: another opener holds the file
inline constexpr int kErrorNoDirectory = 3;   // ERROR_PATH_NOT_FOUND: a directory of the name is missing
inline constexpr int kErrorNameTooLong = 206; // ERROR_FILENAME_EXCED_RANGE
// The variable that names the directory of temporary files (GetTempPath reads it first).
inline constexpr const char* kTemporaryDirectoryVariable = "TMP";
#else
inline constexpr int kErrorHeld = EBUSY;      // our share lock is held by another opener
inline constexpr int kErrorNoDirectory = ENOENT;
inline constexpr int kErrorNameTooLong = ENAMETOOLONG;
inline constexpr const char* kTemporaryDirectoryVariable = "TMPDIR";
#endif

// The code a call made to fail by the fault seam (platform/faults.h) returns for the plan's
// errno: the errno itself on POSIX, the Win32 code that the Win32 layer puts in its place.
int planned_failure_code(int error);

// The system's own one-line text for an error number, without its line end: strerror on POSIX,
// FormatMessage on Windows (whose texts differ between the system's versions and languages).
std::string system_message(int code);

}  // namespace support
