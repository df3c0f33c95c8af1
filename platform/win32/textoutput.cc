#include "platform/textoutput.h"

#include <windows.h>

#include "platform/interrupts.h"
#include "platform/publish.h"
#include "platform/syserror.h"
#include "platform/win32/syscalls.h"

namespace platform {

namespace {

HANDLE native(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }

constexpr std::size_t kMaxChunk = std::size_t{1} << 30;

int last_error() {
  const DWORD e = GetLastError();
  return e != 0 ? static_cast<int>(e) : ERROR_GEN_FAILURE;
}

}  // namespace

TextOutput::~TextOutput() { abandon(); }

int TextOutput::create(const std::string& final_name) {
  if (GetFileAttributesA(final_name.c_str()) != INVALID_FILE_ATTRIBUTES) return kErrorFileExists;
  constexpr int kAttempts = 10;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const std::string name = platform::temporary_name(final_name, attempt);
    // Named for removal before it exists: an interrupt at any moment from here on takes it. The
    // file admits its deletion while it is open, so the interrupt handler can remove it.
    interrupt_slot_ = remove_on_interrupt(name);
    const HANDLE h = sys::create_file(name.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL);
    if (h != INVALID_HANDLE_VALUE) {
      handle_ = reinterpret_cast<NativeHandle>(h);
      owns_handle_ = true;
      final_ = final_name;
      temporary_ = name;
      return 0;
    }
    const int error = last_error();
    forget_on_interrupt(interrupt_slot_);
    interrupt_slot_ = -1;
    // A name left by an earlier process of our number: the next attempt takes another.
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return error;
  }
  return kErrorFileExists;
}

void TextOutput::attach_standard_output() {
  const HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
  handle_ = h == nullptr ? kNoHandle : reinterpret_cast<NativeHandle>(h);
  owns_handle_ = false;
}

int TextOutput::write(const char* data, std::size_t bytes) {
  if (handle_ == kNoHandle) return ERROR_INVALID_HANDLE;
  while (bytes > 0) {
    DWORD done = 0;
    const DWORD asked = static_cast<DWORD>(bytes < kMaxChunk ? bytes : kMaxChunk);
    if (!sys::write(native(handle_), data, asked, &done)) return last_error();
    if (done == 0) return ERROR_DISK_FULL;  // nothing moved and no error: the device takes no more
    data += done;
    bytes -= done;
  }
  return 0;
}

int TextOutput::commit() {
  if (!owns_handle_) return 0;
  if (const int synced = sync_file(handle_); synced != 0) return synced;
  const int closed = sys::close(native(handle_)) ? 0 : last_error();
  handle_ = kNoHandle;
  owns_handle_ = false;
  if (closed != 0) return closed;
  return name_closed_file();
}

void TextOutput::abandon() {
  if (owns_handle_) {
    sys::close(native(handle_));
    handle_ = kNoHandle;
    owns_handle_ = false;
  }
  if (!temporary_.empty()) {
    sys::delete_file(temporary_.c_str());
    temporary_.clear();
  }
  forget_on_interrupt(interrupt_slot_);
  interrupt_slot_ = -1;
}

}  // namespace platform
