// The file services of the Win32 layer, each asking the fault seam first (fault_seam.h).

#include "platform/win32/syscalls.h"

#include <windows.h>

#include <cerrno>

#include "platform/fault_seam.h"

namespace platform {

namespace {

using seam::decide;
using seam::Decision;
using seam::shortened;
using seam::Verdict;

static_assert(sizeof(sys::Handle) == sizeof(HANDLE));
static_assert(sizeof(sys::Dword) == sizeof(DWORD));

// The Win32 code that stands for a plan's errno.
DWORD win32_code(int error) {
  switch (error) {
    case EIO: return ERROR_IO_DEVICE;
    case ENOSPC: return ERROR_DISK_FULL;
    case EACCES: return ERROR_ACCESS_DENIED;
    case EPERM: return ERROR_ACCESS_DENIED;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case EEXIST: return ERROR_FILE_EXISTS;
    case EBUSY: return ERROR_SHARING_VIOLATION;
    case EROFS: return ERROR_WRITE_PROTECT;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EFBIG: return ERROR_FILE_TOO_LARGE;
    default: return ERROR_GEN_FAILURE;
  }
}

// Fails the call the way the system does: the code in the thread's last error. An interruption
// is never a failure here (see syscalls.h), so it does not reach this.
void refuse(const Decision& d) { SetLastError(win32_code(d.error)); }

bool fails(const Decision& d) { return d.verdict == Verdict::kFail && !d.interrupted; }

DWORD count_for(const Decision& d, DWORD bytes) {
  return d.verdict == Verdict::kShort ? static_cast<DWORD>(shortened(bytes)) : bytes;
}

OVERLAPPED at(std::uint64_t offset) {
  OVERLAPPED o{};
  o.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  o.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return o;
}

}  // namespace

namespace sys {

Handle create_file(const char* name, Dword access, Dword share, Dword disposition, Dword flags) {
  if (const Decision d = decide(FaultCall::kOpen); fails(d)) {
    refuse(d);
    return INVALID_HANDLE_VALUE;
  }
  return CreateFileA(name, access, share, nullptr, disposition, flags, nullptr);
}

unsigned temp_file_name(const char* directory, const char* prefix, char* out) {
  if (const Decision d = decide(FaultCall::kOpen); fails(d)) {
    refuse(d);
    return 0;
  }
  return GetTempFileNameA(directory, prefix, 0, out);
}

int read(Handle file, void* data, Dword bytes, Dword* done) {
  const Decision d = decide(FaultCall::kRead);
  *done = 0;
  if (fails(d)) {
    refuse(d);
    return FALSE;
  }
  return ReadFile(file, data, count_for(d, bytes), done, nullptr);
}

int write(Handle file, const void* data, Dword bytes, Dword* done) {
  const Decision d = decide(FaultCall::kWrite);
  *done = 0;
  if (fails(d)) {
    refuse(d);
    return FALSE;
  }
  return WriteFile(file, data, count_for(d, bytes), done, nullptr);
}

int read_at(Handle file, void* data, Dword bytes, Dword* done, std::uint64_t offset) {
  const Decision d = decide(FaultCall::kRead);
  *done = 0;
  if (fails(d)) {
    refuse(d);
    return FALSE;
  }
  OVERLAPPED where = at(offset);
  return ReadFile(file, data, count_for(d, bytes), done, &where);
}

int write_at(Handle file, const void* data, Dword bytes, Dword* done, std::uint64_t offset) {
  const Decision d = decide(FaultCall::kWrite);
  *done = 0;
  if (fails(d)) {
    refuse(d);
    return FALSE;
  }
  OVERLAPPED where = at(offset);
  return WriteFile(file, data, count_for(d, bytes), done, &where);
}

int set_end_of_file(Handle file, std::uint64_t bytes) {
  if (const Decision d = decide(FaultCall::kTruncate); fails(d)) {
    refuse(d);
    return FALSE;
  }
  LARGE_INTEGER zero{}, kept{}, end{};
  end.QuadPart = static_cast<LONGLONG>(bytes);
  if (!SetFilePointerEx(file, zero, &kept, FILE_CURRENT)) return FALSE;
  if (!SetFilePointerEx(file, end, nullptr, FILE_BEGIN)) return FALSE;
  const BOOL set = SetEndOfFile(file);
  const DWORD error = GetLastError();
  SetFilePointerEx(file, kept, nullptr, FILE_BEGIN);
  if (!set) SetLastError(error);
  return set;
}

int flush(Handle file) {
  if (const Decision d = decide(FaultCall::kSync); fails(d)) {
    refuse(d);
    return FALSE;
  }
  return FlushFileBuffers(file);
}

int move_file(const char* from, const char* to, Dword flags) {
  if (const Decision d = decide(FaultCall::kRename); fails(d)) {
    refuse(d);
    return FALSE;
  }
  return MoveFileExA(from, to, flags);
}

int delete_file(const char* name) {
  if (const Decision d = decide(FaultCall::kRename); fails(d)) {
    refuse(d);
    return FALSE;
  }
  return DeleteFileA(name);
}

int close(Handle file) {
  const Decision d = decide(FaultCall::kClose);
  const BOOL closed = CloseHandle(file);
  if (fails(d)) {
    refuse(d);
    return FALSE;
  }
  return closed;
}

}  // namespace sys

}  // namespace platform
