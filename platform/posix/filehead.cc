#include "platform/filehead.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/syscalls.h"

namespace platform {

int file_attributes(const std::string& name) {
  struct stat st;
  return ::stat(name.c_str(), &st) == 0 ? 0 : errno;
}

FileHead::~FileHead() {
  if (handle_ >= 0) sys::close(handle_);
}

int FileHead::open(const std::string& name) {
  handle_ = sys::again_if_interrupted([&] { return sys::open(name.c_str(), O_RDONLY | O_CLOEXEC); });
  return handle_ >= 0 ? 0 : errno;
}

long FileHead::read_at(void* data, std::size_t bytes, std::uint64_t offset) const {
  std::size_t done = 0;
  while (done < bytes) {
    ssize_t n = sys::pread(handle_, static_cast<char*>(data) + done, bytes - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<long>(done);
}

std::uint64_t FileHead::size() const {
  struct stat st;
  return ::fstat(handle_, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

int create_new_file(const std::string& name) {
  const int fd =
      sys::again_if_interrupted([&] { return sys::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); });
  if (fd < 0) return errno;
  sys::close(fd);
  return 0;
}

}  // namespace platform
