#include "platform/textinput.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/syscalls.h"

namespace platform {

TextInput::TextInput() = default;
TextInput::~TextInput() { close(); }

int TextInput::open_existing(const std::string& name) {
  const int fd = sys::again_if_interrupted([&] { return sys::open(name.c_str(), O_RDONLY | O_CLOEXEC); });
  if (fd < 0) return errno;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    int e = errno;
    sys::close(fd);
    return e;
  }
  if (S_ISDIR(st.st_mode)) {
    sys::close(fd);
    return EISDIR;
  }
  const bool regular = S_ISREG(st.st_mode);
  start_reading(fd, true, regular, regular ? static_cast<int64_t>(st.st_size) : -1);
  path_ = name;
  return 0;
}

void TextInput::attach_standard_input() {
  struct stat st;
  const bool regular = ::fstat(0, &st) == 0 && S_ISREG(st.st_mode);
  // A file redirected to standard input may be read from its middle on: what is left counts.
  const off_t at = regular ? ::lseek(0, 0, SEEK_CUR) : -1;
  start_reading(0, false, regular, regular ? static_cast<int64_t>(st.st_size) - (at > 0 ? at : 0) : -1);
}


bool TextInput::wait_for_input() {
  constexpr int kSliceMilliseconds = 20;
  for (;;) {
    struct pollfd ready = {handle_, POLLIN, 0};
    const int n = ::poll(&ready, 1, 0);
    if (n > 0 || (n < 0 && errno != EINTR)) return true;  // data, an end or an error: read tells
    if (!wait_hook_()) return false;
    const int m = ::poll(&ready, 1, kSliceMilliseconds);
    if (m > 0 || (m < 0 && errno != EINTR)) return true;
  }
}

bool TextInput::refill() {
  if (at_end_ || handle_ < 0) return false;
  if (wait_hook_ && !regular_ && !wait_for_input()) {
    at_end_ = true;
    return false;
  }
  for (;;) {
    ssize_t n = sys::read(handle_, buffer_.get(), kBufferBytes);
    if (n > 0) {
      begin_ = buffer_.get();
      end_ = begin_ + n;
      bytes_read_.fetch_add(n, std::memory_order_relaxed);
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error_ = errno;
    at_end_ = true;
    return false;
  }
}

std::string TextInput::full_name() const {
  if (path_.empty()) return {};
  char* resolved = ::realpath(path_.c_str(), nullptr);
  if (!resolved) return {};
  std::string name(resolved);
  std::free(resolved);
  return name;
}

void TextInput::close() {
  if (owns_handle_ && handle_ >= 0) sys::close(handle_);
  handle_ = -1;
  owns_handle_ = false;
  memory_ = false;
  memory_bytes_.clear();
  buffer_.reset();
  begin_ = end_ = nullptr;
  at_end_ = true;
  size_ = -1;
}

bool file_exists(const std::string& name, bool when_unknown) {
  struct stat st;
  if (::stat(name.c_str(), &st) == 0) return !S_ISDIR(st.st_mode);
  if (errno == ENOENT || errno == ENOTDIR) return false;
  return when_unknown;
}

}  // namespace platform
