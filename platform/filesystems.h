#pragma once
// Names and file systems: the absolute form of a file name, and which kind of file system holds
// a directory. The block I/O library limits the record numbers of a file by the kind of file
// system it lies on; the FAT family cannot hold files of 4 GB or more.

#include <cstddef>
#include <cstdint>

namespace platform {

// Copies the absolute form of `name` into `out` (capacity bytes, NUL included): a name that
// does not begin with "/" is taken from the current directory. The file need not exist; the
// name is not otherwise normalised. Returns the length, or 0 when the current directory cannot
// be had or the result does not fit.
std::size_t full_path_name(const char* name, char* out, std::size_t capacity);

// What the system tells about the file system that holds a path.
struct FileSystemInfo {
  std::uint32_t serial = 0;        // the file system's identifier (low word)
  std::int32_t max_component = 0;  // longest name in a directory
  std::uint32_t flags = 0;         // mount flags
  char name[32] = {};              // "FAT32" for the FAT family, "ext4", "tmpfs", ... or "0x%x";
                                   // on Win32 the system's own name ("NTFS", "FAT32", "FAT", ...)
};

// Fills `info` for the file system holding `path`. Returns 0 or an errno.
int file_system_of(const char* path, FileSystemInfo* info);

}  // namespace platform
