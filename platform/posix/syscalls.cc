// The system calls of the POSIX layer, each asking the fault seam first (fault_seam.h).

#include "platform/posix/syscalls.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>

#include "platform/fault_seam.h"

namespace platform {

namespace {

using seam::decide;
using seam::Decision;
using seam::shortened;
using seam::Verdict;

// Fails the call the way the system does: -1 with errno (EINTR for an interruption).
int refuse(const Decision& d) {
  errno = d.interrupted ? EINTR : d.error;
  return -1;
}

}  // namespace

namespace sys {

int open(const char* name, int flags, mode_t mode) {
  if (const Decision d = decide(FaultCall::kOpen); d.verdict == Verdict::kFail) return refuse(d);
  return ::open(name, flags, mode);
}

int mkstemps(char* pattern, int suffix_bytes) {
  if (const Decision d = decide(FaultCall::kOpen); d.verdict == Verdict::kFail) return refuse(d);
  return ::mkstemps(pattern, suffix_bytes);
}

ssize_t read(int fd, void* data, std::size_t bytes) {
  const Decision d = decide(FaultCall::kRead);
  if (d.verdict == Verdict::kFail) return refuse(d);
  return ::read(fd, data, d.verdict == Verdict::kShort ? shortened(bytes) : bytes);
}

ssize_t pread(int fd, void* data, std::size_t bytes, off_t offset) {
  const Decision d = decide(FaultCall::kRead);
  if (d.verdict == Verdict::kFail) return refuse(d);
  return ::pread(fd, data, d.verdict == Verdict::kShort ? shortened(bytes) : bytes, offset);
}

ssize_t write(int fd, const void* data, std::size_t bytes) {
  const Decision d = decide(FaultCall::kWrite);
  if (d.verdict == Verdict::kFail) return refuse(d);
  return ::write(fd, data, d.verdict == Verdict::kShort ? shortened(bytes) : bytes);
}

ssize_t pwrite(int fd, const void* data, std::size_t bytes, off_t offset) {
  const Decision d = decide(FaultCall::kWrite);
  if (d.verdict == Verdict::kFail) return refuse(d);
  return ::pwrite(fd, data, d.verdict == Verdict::kShort ? shortened(bytes) : bytes, offset);
}

ssize_t pwritev(int fd, const struct iovec* pieces, int count, off_t offset) {
  const Decision d = decide(FaultCall::kWrite);
  if (d.verdict == Verdict::kFail) return refuse(d);
  if (d.verdict == Verdict::kShort && count > 0) {
    // Half of the whole transfer, which mostly ends inside a piece.
    std::size_t total = 0;
    for (int i = 0; i < count; ++i) total += pieces[i].iov_len;
    std::size_t left = shortened(total);
    int used = 0;
    struct iovec cut[IOV_MAX];
    while (used < count && used < IOV_MAX && left > 0) {
      cut[used] = pieces[used];
      cut[used].iov_len = std::min(left, pieces[used].iov_len);
      left -= cut[used].iov_len;
      ++used;
    }
    return ::pwritev(fd, cut, used, offset);
  }
  return ::pwritev(fd, pieces, count, offset);
}

int ftruncate(int fd, off_t bytes) {
  if (const Decision d = decide(FaultCall::kTruncate); d.verdict == Verdict::kFail) return refuse(d);
  return ::ftruncate(fd, bytes);
}

int fallocate(int fd, int mode, off_t offset, off_t bytes) {
  if (const Decision d = decide(FaultCall::kTruncate); d.verdict == Verdict::kFail) return refuse(d);
  return ::fallocate(fd, mode, offset, bytes);
}

int fsync(int fd) {
  if (const Decision d = decide(FaultCall::kSync); d.verdict == Verdict::kFail) return refuse(d);
  return ::fsync(fd);
}

int fdatasync(int fd) {
  if (const Decision d = decide(FaultCall::kSync); d.verdict == Verdict::kFail) return refuse(d);
  return ::fdatasync(fd);
}

int link(const char* from, const char* to) {
  if (const Decision d = decide(FaultCall::kRename); d.verdict == Verdict::kFail) return refuse(d);
  return ::link(from, to);
}

int rename(const char* from, const char* to) {
  if (const Decision d = decide(FaultCall::kRename); d.verdict == Verdict::kFail) return refuse(d);
  return ::rename(from, to);
}

int rename_with_flags(const char* from, const char* to, unsigned flags) {
  if (const Decision d = decide(FaultCall::kRename); d.verdict == Verdict::kFail) return refuse(d);
#ifdef RENAME_NOREPLACE
  return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, flags);
#else
  (void)from, (void)to, (void)flags;
  errno = ENOSYS;
  return -1;
#endif
}

int unlink(const char* name) {
  if (const Decision d = decide(FaultCall::kRename); d.verdict == Verdict::kFail) return refuse(d);
  return ::unlink(name);
}

int close(int fd) {
  // Linux releases the descriptor whatever close reports, so a failed close does too.
  const Decision d = decide(FaultCall::kClose);
  const int closed = ::close(fd);
  if (d.verdict == Verdict::kFail) return refuse(d);
  return closed;
}

}  // namespace sys

}  // namespace platform
