// The system-independent half of TextInput: lines cut from the buffer, and input held in
// memory. Filling the buffer is each system's own (posix/textinput.cc, win32/textinput.cc).

#include "platform/textinput.h"

#include <cstring>
#include <memory>

namespace platform {

void TextInput::start_reading(NativeHandle handle, bool owned, bool regular, int64_t size) {
  handle_ = handle;
  owns_handle_ = owned;
  regular_ = regular;
  size_ = size;
  bytes_read_.store(0, std::memory_order_relaxed);
  at_end_ = handle == kNoHandle;
  error_ = 0;
  buffer_ = std::make_unique<char[]>(kBufferBytes);
  begin_ = end_ = buffer_.get();
}

void TextInput::attach_memory(std::string bytes) {
  memory_ = true;
  memory_bytes_ = std::move(bytes);
  begin_ = memory_bytes_.data();
  end_ = begin_ + memory_bytes_.size();
  size_ = static_cast<int64_t>(memory_bytes_.size());
  bytes_read_.store(size_, std::memory_order_relaxed);
  at_end_ = true;  // nothing to refill from
  error_ = 0;
}

long TextInput::read_line(char* dest, std::size_t capacity) {
  if (begin_ == end_ && !refill()) return -1;

  // Fast path: the whole line is in the buffer.
  if (const char* nl = static_cast<const char*>(std::memchr(begin_, '\n', end_ - begin_))) {
    std::size_t len = nl - begin_;
    if (len > 0 && nl[-1] == '\r') --len;
    std::size_t n = len < capacity ? len : capacity;
    std::memcpy(dest, begin_, n);
    begin_ = nl + 1;
    return static_cast<long>(n);
  }

  // The line runs past the buffer (or is the last line, without a line feed): take what is
  // needed piece by piece and remember the last character to drop a CR before the LF.
  std::size_t total = 0, copied = 0;
  char last = 0;
  for (;;) {
    const char* nl = static_cast<const char*>(std::memchr(begin_, '\n', end_ - begin_));
    const char* stop = nl ? nl : end_;
    std::size_t piece = stop - begin_;
    if (copied < capacity) {
      std::size_t take = piece < capacity - copied ? piece : capacity - copied;
      std::memcpy(dest + copied, begin_, take);
      copied += take;
    }
    if (piece > 0) last = stop[-1];
    total += piece;
    if (nl) {
      begin_ = nl + 1;
      break;
    }
    begin_ = end_;
    // A read error cuts the line: what was read of it is not a line, and the input ends here.
    if (!refill()) {
      if (error_ != 0) return -1;
      break;
    }
  }
  if (last == '\r' && total <= capacity) --copied;
  return static_cast<long>(copied);
}

}  // namespace platform
