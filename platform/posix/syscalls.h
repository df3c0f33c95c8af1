#pragma once
// The system calls of the file layer, each passed through the fault seam (faults.h) before it
// is made. For platform/posix/*.cc only: they take and return what the calls of the same names do
// (-1 and errno on failure), so a caller's loops and checks read as they would without the seam.

#include <sys/types.h>
#include <sys/uio.h>

#include <cerrno>
#include <cstddef>

namespace platform::sys {

int open(const char* name, int flags, mode_t mode = 0);
int mkstemps(char* pattern, int suffix_bytes);
ssize_t read(int fd, void* data, std::size_t bytes);
ssize_t pread(int fd, void* data, std::size_t bytes, off_t offset);
ssize_t write(int fd, const void* data, std::size_t bytes);
ssize_t pwrite(int fd, const void* data, std::size_t bytes, off_t offset);
ssize_t pwritev(int fd, const struct iovec* pieces, int count, off_t offset);
int ftruncate(int fd, off_t bytes);
int fallocate(int fd, int mode, off_t offset, off_t bytes);
int fsync(int fd);
int fdatasync(int fd);
int link(const char* from, const char* to);
int rename(const char* from, const char* to);
// renameat2(AT_FDCWD, from, AT_FDCWD, to, flags); ENOSYS where the system has none.
int rename_with_flags(const char* from, const char* to, unsigned flags);
int unlink(const char* name);
int close(int fd);

// Repeats a call that an interruption stopped before it had done anything (EINTR). Not for
// close: Linux has released the descriptor even then.
template <typename Call>
auto again_if_interrupted(Call call) {
  decltype(call()) result;
  do {
    result = call();
  } while (result < 0 && errno == EINTR);
  return result;
}

}  // namespace platform::sys
