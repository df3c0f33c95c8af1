#include "platform/filehead.h"

#include <windows.h>

#include "platform/syserror.h"
#include "platform/win32/syscalls.h"

namespace platform {

namespace {

HANDLE native(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }

int last_error() {
  const DWORD e = GetLastError();
  return e != 0 ? static_cast<int>(e) : ERROR_GEN_FAILURE;
}

}  // namespace

int file_attributes(const std::string& name) {
  return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES ? 0 : last_error();
}

FileHead::~FileHead() {
  if (handle_ != kNoHandle) sys::close(native(handle_));
}

int FileHead::open(const std::string& name) {
  // Shares everything it can, so that looking disturbs no other opener that lets readers in.
  const HANDLE h = sys::create_file(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (h == INVALID_HANDLE_VALUE) return last_error();
  handle_ = reinterpret_cast<NativeHandle>(h);
  return 0;
}

long FileHead::read_at(void* data, std::size_t bytes, std::uint64_t offset) const {
  // The count returned is a long (32 bits on Win32): one look reads far less than 2 GB.
  constexpr std::size_t kMaxLook = 0x40000000;
  if (bytes > kMaxLook) bytes = kMaxLook;
  std::size_t done = 0;
  while (done < bytes) {
    DWORD n = 0;
    if (!sys::read_at(native(handle_), static_cast<char*>(data) + done, static_cast<DWORD>(bytes - done), &n,
                      offset + done)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      return -1;
    }
    if (n == 0) break;
    done += n;
  }
  return static_cast<long>(done);
}

std::uint64_t FileHead::size() const {
  LARGE_INTEGER size{};
  return GetFileSizeEx(native(handle_), &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

int create_new_file(const std::string& name) {
  const HANDLE h = sys::create_file(name.c_str(), GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
  if (h == INVALID_HANDLE_VALUE) {
    const int e = last_error();
    return e == ERROR_ALREADY_EXISTS ? kErrorFileExists : e;
  }
  sys::close(h);
  return 0;
}

}  // namespace platform
