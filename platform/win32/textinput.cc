#include "platform/textinput.h"

#include <windows.h>

#include <cstring>

#include "platform/syserror.h"
#include "platform/win32/syscalls.h"

namespace platform {

namespace {

HANDLE native(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// The most one ReadFile is asked for (the buffer is smaller anyway).
constexpr DWORD kMaxRead = 0x40000000;

}  // namespace

namespace {

// The bytes of a disk file from its current position (`from_position`) or its start to its
// end; -1 when the system cannot tell.
int64_t file_size_from(HANDLE h, bool from_position) {
  LARGE_INTEGER size, at, zero;
  zero.QuadPart = 0;
  if (!GetFileSizeEx(h, &size)) return -1;
  if (from_position && SetFilePointerEx(h, zero, &at, FILE_CURRENT) && at.QuadPart > 0) {
    return size.QuadPart - at.QuadPart;
  }
  return size.QuadPart;
}

}  // namespace

TextInput::TextInput() = default;
TextInput::~TextInput() { close(); }

int TextInput::open_existing(const std::string& name) {
  // Opening a directory fails as any denied access does; a look first tells the two apart.
  const DWORD attributes = GetFileAttributesA(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return kErrorIsDirectory;
  const HANDLE h = sys::create_file(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD e = GetLastError();
    return e != 0 ? static_cast<int>(e) : ERROR_GEN_FAILURE;
  }
  const bool regular = GetFileType(h) == FILE_TYPE_DISK;
  start_reading(reinterpret_cast<NativeHandle>(h), true, regular, regular ? file_size_from(h, false) : -1);
  path_ = name;
  return 0;
}

void TextInput::attach_standard_input() {
  const HANDLE h = GetStdHandle(STD_INPUT_HANDLE);
  // A process started without standard input reads an empty one.
  const NativeHandle handle = h == nullptr || h == INVALID_HANDLE_VALUE ? kNoHandle : reinterpret_cast<NativeHandle>(h);
  const bool regular = handle != kNoHandle && GetFileType(h) == FILE_TYPE_DISK;
  // A file redirected to standard input may be read from its middle on: what is left counts.
  start_reading(handle, false, regular, regular ? file_size_from(h, true) : -1);
}


// A pipe tells how many bytes wait in it; a console handle is signalled while input events
// wait. Anything else (or an inquiry that fails: a closed pipe) is left to the read.
bool TextInput::wait_for_input() {
  constexpr DWORD kSliceMilliseconds = 20;
  const HANDLE h = native(handle_);
  const DWORD type = GetFileType(h);
  auto ready = [&](DWORD milliseconds) {
    if (type == FILE_TYPE_PIPE) {
      DWORD waiting = 0;
      if (!PeekNamedPipe(h, nullptr, 0, nullptr, &waiting, nullptr) || waiting > 0) return true;
      if (milliseconds > 0) Sleep(milliseconds);
      return false;
    }
    if (type == FILE_TYPE_CHAR) {
      const DWORD w = WaitForSingleObject(h, milliseconds);
      return w != WAIT_TIMEOUT;
    }
    return true;
  };
  for (;;) {
    if (ready(0)) return true;
    if (!wait_hook_()) return false;
    if (ready(kSliceMilliseconds)) return true;
  }
}

bool TextInput::refill() {
  if (at_end_ || handle_ == kNoHandle) return false;
  if (wait_hook_ && !regular_ && !wait_for_input()) {
    at_end_ = true;
    return false;
  }
  DWORD n = 0;
  const DWORD asked = kBufferBytes < kMaxRead ? static_cast<DWORD>(kBufferBytes) : kMaxRead;
  bool read = sys::read(native(handle_), buffer_.get(), asked, &n);
  // A writer's write of nothing reaches a pipe's reader as a read of nothing; only a pipe whose
  // writer has gone ends it (ERROR_BROKEN_PIPE).
  while (read && n == 0 && !regular_ && GetFileType(native(handle_)) == FILE_TYPE_PIPE) {
    read = sys::read(native(handle_), buffer_.get(), asked, &n);
  }
  if (read && n > 0) {
    bytes_read_.fetch_add(static_cast<int64_t>(n), std::memory_order_relaxed);
    begin_ = buffer_.get();
    end_ = begin_ + n;
    return true;
  }
  if (!read) {
    // A pipe whose writer has gone ends the input as the end of a file does.
    const DWORD e = GetLastError();
    if (e != ERROR_BROKEN_PIPE && e != ERROR_HANDLE_EOF) error_ = e != 0 ? static_cast<int>(e) : ERROR_GEN_FAILURE;
  }
  at_end_ = true;
  return false;
}

std::string TextInput::full_name() const {
  if (path_.empty()) return {};
  std::string name(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetFullPathNameA(path_.c_str(), static_cast<DWORD>(name.size()), name.data(), nullptr);
    if (n == 0) return {};
    if (n < name.size()) {
      name.resize(n);
      return name;
    }
    name.resize(n);  // the room it needs, NUL included
  }
}

void TextInput::close() {
  if (owns_handle_ && handle_ != kNoHandle) sys::close(native(handle_));
  handle_ = kNoHandle;
  owns_handle_ = false;
  size_ = -1;
  memory_ = false;
  memory_bytes_.clear();
  buffer_.reset();
  begin_ = end_ = nullptr;
  at_end_ = true;
}

bool file_exists(const std::string& name, bool when_unknown) {
  const DWORD attributes = GetFileAttributesA(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  const DWORD e = GetLastError();
  if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND || e == ERROR_INVALID_NAME) return false;
  return when_unknown;
}

}  // namespace platform
