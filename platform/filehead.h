#pragma once
// Looking at a file without opening it for the block I/O library: whether it exists, its size,
// and the bytes at a given offset. Nothing here takes a lock, so looking never waits for, or
// disturbs, a process that holds the file.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/handle.h"

namespace platform {

// 0 when the name's attributes can be read (it exists), else the errno.
int file_attributes(const std::string& name);

// A file opened read-only for looking at it.
class FileHead {
 public:
  FileHead() = default;
  ~FileHead();
  FileHead(const FileHead&) = delete;
  FileHead& operator=(const FileHead&) = delete;

  int open(const std::string& name);  // 0 or errno
  // Reads up to `bytes` at `offset`; returns the count read (-1 on a read error).
  long read_at(void* data, std::size_t bytes, std::uint64_t offset) const;
  // The file's size in bytes; 0 when it cannot be determined.
  std::uint64_t size() const;

 private:
  NativeHandle handle_ = kNoHandle;
};

// Creates `name` as a new empty file, failing with EEXIST when any file of that name exists.
int create_new_file(const std::string& name);

}  // namespace platform
