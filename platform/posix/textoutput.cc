#include "platform/textoutput.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/interrupts.h"
#include "platform/publish.h"
#include "platform/posix/syscalls.h"

namespace platform {

TextOutput::~TextOutput() { abandon(); }

int TextOutput::create(const std::string& final_name) {
  struct stat st;
  if (::lstat(final_name.c_str(), &st) == 0) return EEXIST;
  constexpr int kAttempts = 10;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const std::string name = platform::temporary_name(final_name, attempt);
    // Named for removal before it exists: an interrupt at any moment from here on takes it.
    interrupt_slot_ = remove_on_interrupt(name);
    const int fd = sys::again_if_interrupted(
        [&] { return sys::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); });
    if (fd >= 0) {
      handle_ = fd;
      owns_handle_ = true;
      final_ = final_name;
      temporary_ = name;
      return 0;
    }
    const int error = errno;
    forget_on_interrupt(interrupt_slot_);
    interrupt_slot_ = -1;
    if (error != EEXIST) return error;  // EEXIST: a name left by an earlier process of our number
  }
  return EEXIST;
}

void TextOutput::attach_standard_output() {
  handle_ = STDOUT_FILENO;
  owns_handle_ = false;
}

int TextOutput::write(const char* data, std::size_t bytes) {
  while (bytes > 0) {
    const ssize_t done = sys::write(handle_, data, bytes);
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
  if (!owns_handle_) return 0;
  if (const int synced = sync_file(handle_); synced != 0) return synced;
  const int closed = sys::close(handle_) == 0 ? 0 : errno;
  handle_ = -1;
  owns_handle_ = false;
  // A close that reports an interruption has released the descriptor all the same (Linux).
  if (closed != 0 && closed != EINTR) return closed;
  return name_closed_file();
}

void TextOutput::abandon() {
  if (owns_handle_) {
    sys::close(handle_);
    handle_ = -1;
    owns_handle_ = false;
  }
  if (!temporary_.empty()) {
    sys::again_if_interrupted([&] { return sys::unlink(temporary_.c_str()); });
    temporary_.clear();
  }
  forget_on_interrupt(interrupt_slot_);
  interrupt_slot_ = -1;
}

}  // namespace platform
