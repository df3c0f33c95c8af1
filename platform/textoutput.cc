#include "platform/textoutput.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/publish.h"
#include "platform/syscalls.h"

namespace platform {

TextOutput::~TextOutput() { abandon(); }

int TextOutput::create(const std::string& final_name) {
  struct stat st;
  if (::lstat(final_name.c_str(), &st) == 0) return EEXIST;
  constexpr const char kTemporarySuffix[] = ".part";
  std::string pattern = final_name + ".XXXXXX" + kTemporarySuffix;
  std::vector<char> name;
  const int fd = sys::again_if_interrupted([&] {
    name.assign(pattern.begin(), pattern.end());
    name.push_back('\0');
    return sys::mkstemps(name.data(), static_cast<int>(sizeof kTemporarySuffix - 1));
  });
  if (fd < 0) return errno;
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  // The file gets the permissions a plain new file would have.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  fd_ = fd;
  owns_fd_ = true;
  final_ = final_name;
  temporary_ = name.data();
  return 0;
}

void TextOutput::attach_standard_output() {
  fd_ = STDOUT_FILENO;
  owns_fd_ = false;
}

int TextOutput::write(const char* data, std::size_t bytes) {
  while (bytes > 0) {
    const ssize_t done = sys::write(fd_, data, bytes);
    if (done < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (done == 0) return ENOSPC;  // nothing moved and no error: the device takes no more
    data += done;
    bytes -= static_cast<std::size_t>(done);
  }
  return 0;
}

int TextOutput::commit() {
  if (!owns_fd_) return 0;
  if (const int synced = sync_file(fd_); synced != 0) return synced;
  const int closed = sys::close(fd_) == 0 ? 0 : errno;
  fd_ = -1;
  owns_fd_ = false;
  // A close that reports an interruption has released the descriptor all the same (Linux).
  if (closed != 0 && closed != EINTR) return closed;
  // On a failure abandon() removes the temporary name, if it is still there.
  const int named = name_for_good(temporary_, final_);
  if (named == 0) temporary_.clear();
  return named;
}

void TextOutput::abandon() {
  if (owns_fd_) {
    sys::close(fd_);
    fd_ = -1;
    owns_fd_ = false;
  }
  if (!temporary_.empty()) {
    sys::again_if_interrupted([&] { return sys::unlink(temporary_.c_str()); });
    temporary_.clear();
  }
}

}  // namespace platform
