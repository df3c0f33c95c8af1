#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/posix/syscalls.h"

namespace platform {
namespace {

// The largest count handed to one read or write call (the system moves at most about 2 GB).
constexpr std::size_t kMaxChunk = std::size_t{1} << 30;

int lock_for(int fd, Access access, Share share) {
  int how = (access != Access::kRead || share == Share::kNone) ? LOCK_EX : LOCK_SH;
  while (::flock(fd, how | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    return errno == EWOULDBLOCK ? EBUSY : errno;
  }
  return 0;
}

int close_keeping_errno(int fd, int error) {
  sys::close(fd);
  return error;
}

}  // namespace

int File::open(const char* name, Access access, Share share, Disposition disposition,
               std::uint32_t flags) {
  int oflags = O_CLOEXEC | O_NONBLOCK;  // O_NONBLOCK: opening a FIFO must not wait for a peer
  oflags |= access == Access::kRead ? O_RDONLY : access == Access::kWrite ? O_WRONLY : O_RDWR;
  if (disposition != Disposition::kOpenExisting) oflags |= O_CREAT;
  if (flags & kFileWriteThrough) oflags |= O_DSYNC;

  const int fd = sys::again_if_interrupted([&] { return sys::open(name, oflags, 0666); });
  if (fd < 0) return errno;

  struct stat st;
  if (::fstat(fd, &st) != 0) return close_keeping_errno(fd, errno);
  if (!S_ISREG(st.st_mode)) return close_keeping_errno(fd, kNotDiskFile);
  if (int e = lock_for(fd, access, share)) return close_keeping_errno(fd, e);
  if (disposition == Disposition::kCreateAlways) {
    // Only a file that holds data is emptied: cutting an empty file to 0 would gain nothing and
    // makes some file systems write the whole file out at its close.
    if (::fstat(fd, &st) != 0) return close_keeping_errno(fd, errno);
    if (st.st_size != 0 && sys::again_if_interrupted([&] { return sys::ftruncate(fd, 0); }) != 0) {
      return close_keeping_errno(fd, errno);
    }
  }
  int fl = ::fcntl(fd, F_GETFL);
  if (fl < 0 || ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) return close_keeping_errno(fd, errno);
  if (flags & kFileRandomAccess) {
    // Only a hint: a system that ignores it reads ahead as usual.
    (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
  }
  handle_ = fd;
  if (flags & kFileDeleteOnClose) remove_at_close_ = name;
  return 0;
}

int File::read_at(void* data, std::size_t bytes, std::uint64_t offset) const {
  auto* p = static_cast<char*>(data);
  while (bytes > 0) {
    ssize_t n = sys::pread(handle_, p, bytes < kMaxChunk ? bytes : kMaxChunk, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return kEndOfFile;
    p += n;
    bytes -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return 0;
}

int File::write_at(const void* data, std::size_t bytes, std::uint64_t offset) const {
  const auto* p = static_cast<const char*>(data);
  while (bytes > 0) {
    ssize_t n = sys::pwrite(handle_, p, bytes < kMaxChunk ? bytes : kMaxChunk, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return ENOSPC;  // nothing moved and no error: the device takes no more
    p += n;
    bytes -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return 0;
}

int File::write(const void* data, std::size_t bytes) const {
  const auto* p = static_cast<const char*>(data);
  while (bytes > 0) {
    ssize_t n = sys::write(handle_, p, bytes < kMaxChunk ? bytes : kMaxChunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return ENOSPC;
    p += n;
    bytes -= static_cast<std::size_t>(n);
  }
  return 0;
}

int File::seek_end() const { return ::lseek(handle_, 0, SEEK_END) < 0 ? errno : 0; }

int File::truncate(std::uint64_t bytes) const {
  while (sys::ftruncate(handle_, static_cast<off_t>(bytes)) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

int File::reserve(std::uint64_t needed, std::uint64_t wanted) const {
  std::uint64_t current = 0;
  if (int e = size(&current)) return e;
  if (current >= needed) return 0;
  // Growing beyond the process's file-size limit would raise a signal: ask for no more than it.
  struct rlimit limit;
  if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    wanted = std::min<std::uint64_t>(wanted, limit.rlim_cur);
  }
  auto grow = [&](std::uint64_t to) {
    while (sys::fallocate(handle_, 0, static_cast<off_t>(current), static_cast<off_t>(to - current)) != 0) {
      if (errno == EINTR) continue;
      if (errno != EOPNOTSUPP && errno != ENOSYS) return errno;
      return truncate(to);  // no allocation ahead here: the size at least
    }
    return 0;
  };
  if (wanted > needed && grow(wanted) == 0) return 0;
  return grow(needed);
}

int File::write_pieces_at(const void* const* pieces, std::size_t count, std::size_t piece_bytes,
                          std::uint64_t offset) const {
  constexpr std::size_t kMaxPieces = 1024;  // IOV_MAX on the systems we run on
  struct iovec vec[kMaxPieces];
  while (count > 0) {
    const std::size_t n = std::min(count, kMaxPieces);
    for (std::size_t i = 0; i < n; ++i) vec[i] = {const_cast<void*>(pieces[i]), piece_bytes};
    const ssize_t moved = sys::pwritev(handle_, vec, static_cast<int>(n), static_cast<off_t>(offset));
    if (moved < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    // A short transfer: the pieces it completed are done, the rest go again one by one.
    std::size_t whole = static_cast<std::size_t>(moved) / piece_bytes;
    if (whole < n) {
      const std::size_t part = static_cast<std::size_t>(moved) % piece_bytes;
      const auto* rest = static_cast<const char*>(pieces[whole]) + part;
      if (int e = write_at(rest, piece_bytes - part, offset + whole * piece_bytes + part)) return e;
      ++whole;
    }
    pieces += whole;
    count -= whole;
    offset += whole * piece_bytes;
  }
  return 0;
}

int File::size(std::uint64_t* bytes) const {
  struct stat st;
  if (::fstat(handle_, &st) != 0) return errno;
  *bytes = static_cast<std::uint64_t>(st.st_size);
  return 0;
}

int File::flush() const {
  return sys::again_if_interrupted([&] { return sys::fdatasync(handle_); }) != 0 ? errno : 0;
}

int File::unlink_now() {
  if (remove_at_close_.empty()) return 0;
  if (sys::again_if_interrupted([&] { return sys::unlink(remove_at_close_.c_str()); }) != 0 && errno != ENOENT)
    return errno;  // kept: close tries again
  remove_at_close_.clear();
  return 0;
}

int File::close() {
  if (handle_ < 0) return 0;
  // Remove the name first, while the lock still keeps other openers away from it.
  int e = unlink_now();
  // An interrupted close has released the descriptor all the same (Linux): not a failure.
  if (sys::close(handle_) != 0 && e == 0 && errno != EINTR) e = errno;
  handle_ = -1;
  return e;
}

int remove_file(const char* name) {
  // A file that somebody holds is not taken away from under them: try its exclusive lock first.
  // When the file cannot be opened for the probe (no read permission), the unlink decides.
  const int fd = sys::again_if_interrupted([&] { return sys::open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK); });
  if (fd < 0 && errno == ENOENT) return ENOENT;
  if (fd >= 0) {
    int e = lock_for(fd, Access::kReadWrite, Share::kNone);
    sys::close(fd);
    if (e != 0) return e;
  }
  return sys::again_if_interrupted([&] { return sys::unlink(name); }) != 0 ? errno : 0;
}

int make_temporary_file(const char* prefix, char* name, std::size_t capacity) {
  const char* dir = std::getenv("TMPDIR");
  if (dir == nullptr || *dir == '\0') dir = "/tmp";
  std::size_t dir_len = std::strlen(dir);
  bool slash = dir[dir_len - 1] == '/';
  static constexpr char kPattern[] = "XXXXXX.tmp";
  std::size_t need = dir_len + (slash ? 0 : 1) + std::strlen(prefix) + sizeof kPattern;
  if (capacity == 0) return ENAMETOOLONG;
  name[0] = '\0';
  if (need > capacity) return ENAMETOOLONG;
  std::string pattern = std::string(dir) + (slash ? "" : "/") + prefix + kPattern;
  const std::string unfilled = pattern;
  const int fd = sys::again_if_interrupted([&] {
    pattern = unfilled;
    return sys::mkstemps(pattern.data(), 4);
  });
  if (fd < 0) return errno;
  sys::close(fd);
  std::memcpy(name, pattern.c_str(), pattern.size() + 1);
  return 0;
}

}  // namespace platform
