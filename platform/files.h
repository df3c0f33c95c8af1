#pragma once
// Files of fixed-length records, as the block I/O library needs them.
//
// A File is one open descriptor of a regular file. It is opened with an access (read, write or
// both), a share mode (what other openers may do at the same time), a disposition (create or
// replace, open an existing file, open or create) and a set of attribute flags. The share mode
// is kept with advisory whole-file locks taken when the file is opened:
//
//   handle that can write, or shares nothing   exclusive lock (no other opener at all)
//   read-only handle that shares reading       shared lock (other readers only)
//
// so that two writers can never hold one file at once, in one process or in two. A lock that
// cannot be had fails the open with EBUSY. A file that is replaced is emptied only after its
// lock is held, so a failed open never damages a file that someone else holds.
//
// Transfers are positioned (pread/pwrite) and repeated until the whole count has moved: a read
// that meets the end of the file first returns kEndOfFile, every other failure its errno.
//
// A file opened with kFileDeleteOnClose is removed when it is closed (or at once, through
// unlink_now, when nobody needs its name any more). Every function returns 0 or the system
// error number (errno) of the call that failed; none of them throws.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/handle.h"

namespace platform {

enum class Access { kRead, kWrite, kReadWrite };
enum class Share { kNone, kRead };
enum class Disposition { kCreateAlways, kOpenExisting, kOpenAlways };

// Attribute flags of an open (a bit set; the block I/O debug output prints it as a number).
inline constexpr std::uint32_t kFileNormal = 0x80;
inline constexpr std::uint32_t kFileDeleteOnClose = 0x04000000;
inline constexpr std::uint32_t kFileWriteThrough = 0x08000000;  // every write reaches the disk
inline constexpr std::uint32_t kFileRandomAccess = 0x10000000;  // no read-ahead

// Results beside errno values (which are all positive).
inline constexpr int kNotDiskFile = -1;  // open: the name is not a regular file
inline constexpr int kEndOfFile = -2;    // read_at: the file ended before the count was read

class File {
 public:
  File() = default;
  ~File() { close(); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens `name`. Returns 0, an errno, or kNotDiskFile (the descriptor is then closed again).
  // REQUIRES: nothing is open.
  int open(const char* name, Access access, Share share, Disposition disposition,
           std::uint32_t flags);
  bool is_open() const { return handle_ != kNoHandle; }
  int descriptor() const { return static_cast<int>(handle_); }

  // REQUIRES: is_open(). `bytes` may be any size; the transfer is split as the system needs.
  int read_at(void* data, std::size_t bytes, std::uint64_t offset) const;
  int write_at(const void* data, std::size_t bytes, std::uint64_t offset) const;
  // Writes at the current position and advances it (the trace file is written this way).
  int write(const void* data, std::size_t bytes) const;
  int seek_end() const;
  int truncate(std::uint64_t bytes) const;
  // Makes the file at least `needed` bytes long with the space behind it allocated, so that
  // later writes up to there cannot fail for want of room (disk full, quota, file-size limit);
  // the new bytes read as zeros. When there is room, the file grows to `wanted` (>= needed) at
  // once, so that a file growing record by record asks the system only now and then. A system
  // that cannot allocate ahead gets the size alone. Returns 0 or the errno of the growth to
  // `needed` that failed; a file already that long is left alone.
  int reserve(std::uint64_t needed, std::uint64_t wanted) const;
  // Writes `count` pieces of `piece_bytes` bytes each, pieces[i] at offset + i * piece_bytes,
  // with as few calls as the system allows.
  int write_pieces_at(const void* const* pieces, std::size_t count, std::size_t piece_bytes,
                      std::uint64_t offset) const;
  int size(std::uint64_t* bytes) const;
  int flush() const;

  // Removes a delete-on-close file's name now; its data stay until the descriptor is closed.
  // When that fails, close() tries again.
  int unlink_now();
  // Closes the descriptor and removes a delete-on-close file. Returns the first failure. Closing
  // a File that is not open does nothing.
  int close();

 private:
  NativeHandle handle_ = kNoHandle;
  std::string remove_at_close_;  // name of a delete-on-close file whose name still exists
};

// Deletes a file by name. A file that another opener holds (its lock cannot be taken) is not
// deleted: EBUSY. A missing file gives ENOENT.
int remove_file(const char* name);

// Makes a new empty file with a unique name "<directory>/<prefix>XXXXXX.tmp" in the temporary
// directory (TMPDIR, else /tmp) and copies the name into `name` (capacity bytes, NUL
// included). Returns 0 or an errno (ENAMETOOLONG when the name does not fit).
int make_temporary_file(const char* prefix, char* name, std::size_t capacity);

}  // namespace platform
