#pragma once
// Line-by-line text input: a named file opened read-only, standard input, or (for tests) a
// block of memory.
//
// Lines end in LF or in CR LF; the CR of a CR LF belongs to the line end. A last line without a
// line feed is still a line. A caller asks for at most `capacity` characters of each line; the
// rest of a longer line is skipped without being stored, so memory stays fixed however long a
// line is. Reading goes through one buffer of kBufferBytes, refilled with whole read() calls.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/handle.h"

namespace platform {

class TextInput {
 public:
  static constexpr std::size_t kBufferBytes = 1 << 20;

  TextInput();
  ~TextInput();
  TextInput(const TextInput&) = delete;
  TextInput& operator=(const TextInput&) = delete;

  // Opens an existing file read-only. Returns 0, or the system error number (a directory gives
  // EISDIR). REQUIRES: nothing is attached.
  int open_existing(const std::string& name);
  // Reads the process's standard input (never closed by close()).
  void attach_standard_input();
  // Reads the given bytes (tests).
  void attach_memory(std::string bytes);
  bool attached() const { return handle_ != kNoHandle || memory_; }

  // Copies up to `capacity` characters of the next line into `dest` and returns how many were
  // copied; -1 at the end of the input. A read error also ends the input (the line it cuts is
  // not returned); error() tells it.
  long read_line(char* dest, std::size_t capacity);
  int error() const { return error_; }

  // Called before a read of input that may keep one waiting (a pipe, a terminal) waits for
  // more, and again every few tens of milliseconds while it waits: true to go on waiting, false
  // to give up, the input then ending there. Without one, reads wait as long as it takes.
  void set_wait_hook(std::function<bool()> hook) { wait_hook_ = std::move(hook); }

  // The size of the input in bytes when it is a regular file (or memory); -1 when it cannot be
  // known before the end (a pipe, a terminal).
  int64_t size() const { return size_; }
  // Bytes taken from the input so far (whole buffer fills). Safe to read from another thread
  // than the one reading: a progress display polls it while the decoder reads.
  int64_t bytes_read() const { return bytes_read_.load(std::memory_order_relaxed); }

  // The absolute name of the open file, or an empty string when it cannot be had.
  std::string full_name() const;
  void close();

 private:
  // Starts reading the attached handle: `regular` and `size` as the system tells them, nothing
  // read yet, an empty buffer.
  void start_reading(NativeHandle handle, bool owned, bool regular, int64_t size);
  bool refill();  // false at the end of the input or on a read error
  bool wait_for_input();  // false when the wait hook gave up

  NativeHandle handle_ = kNoHandle;
  bool regular_ = false;  // handle_ is a regular file: a read never waits for a writer
  std::function<bool()> wait_hook_;
  bool owns_handle_ = false;
  bool memory_ = false;
  bool at_end_ = false;
  int error_ = 0;
  int64_t size_ = -1;
  std::atomic<int64_t> bytes_read_{0};
  std::string path_;
  std::string memory_bytes_;
  std::unique_ptr<char[]> buffer_;
  const char* begin_ = nullptr;  // unread bytes are [begin_, end_)
  const char* end_ = nullptr;
};

// True when a file (not a directory) of exactly this name exists. An inquiry that fails for
// another reason than absence (permission, name too long) answers `when_unknown`.
bool file_exists(const std::string& name, bool when_unknown);

}  // namespace platform
