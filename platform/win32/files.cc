#include "platform/files.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/win32/syscalls.h"

namespace platform {
namespace {

// The largest count handed to one ReadFile or WriteFile (a DWORD could carry 4 GB; smaller
// transfers keep every call well inside what the system moves at once).
constexpr std::size_t kMaxChunk = std::size_t{1} << 30;

// Pieces that lie apart in memory are gathered here before they are written, so that a run of
// small records costs one WriteFile; the buffer is made once per thread and never grows.
constexpr std::size_t kGatherBytes = std::size_t{1} << 20;

HANDLE native(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }

DWORD chunk(std::size_t bytes) { return static_cast<DWORD>(bytes < kMaxChunk ? bytes : kMaxChunk); }

int last_error() {
  const DWORD e = GetLastError();
  return e != 0 ? static_cast<int>(e) : ERROR_GEN_FAILURE;
}

}  // namespace

int File::open(const char* name, Access access, Share share, Disposition disposition,
               std::uint32_t flags) {
  const DWORD desired = access == Access::kRead    ? GENERIC_READ
                        : access == Access::kWrite ? GENERIC_WRITE
                                                   : GENERIC_READ | GENERIC_WRITE;
  // The share mode is the system's own: a handle that can write, or shares nothing, lets no
  // other opener in; a reader that shares reading lets other readers in. A file made here also
  // admits its deletion, so that an interrupt can take an unfinished output that is still open
  // (the name goes when the process ends).
  DWORD share_mode = share == Share::kNone ? 0 : FILE_SHARE_READ;
  const DWORD how = disposition == Disposition::kCreateAlways   ? CREATE_ALWAYS
                    : disposition == Disposition::kOpenExisting ? OPEN_EXISTING
                                                                : OPEN_ALWAYS;
  if (disposition != Disposition::kOpenExisting && access != Access::kRead) share_mode |= FILE_SHARE_DELETE;
  const DWORD attributes =
      FILE_ATTRIBUTE_NORMAL | (flags & (kFileDeleteOnClose | kFileWriteThrough | kFileRandomAccess));

  const HANDLE h = sys::create_file(name, desired, share_mode, how, attributes);
  if (h == INVALID_HANDLE_VALUE) return last_error();
  if (GetFileType(h) != FILE_TYPE_DISK) {
    sys::close(h);
    return kNotDiskFile;
  }
  // A directory opens as a disk object only with backup semantics, which are never asked for;
  // a handle here is a file.
  handle_ = reinterpret_cast<NativeHandle>(h);
  // The system removes a delete-on-close file when its last handle closes; unlink_now and close
  // have nothing to do by name.
  remove_at_close_.clear();
  return 0;
}

int File::read_at(void* data, std::size_t bytes, std::uint64_t offset) const {
  auto* p = static_cast<char*>(data);
  while (bytes > 0) {
    DWORD n = 0;
    if (!sys::read_at(native(handle_), p, chunk(bytes), &n, offset)) {
      const DWORD e = GetLastError();
      if (e == ERROR_HANDLE_EOF) return kEndOfFile;
      return e != 0 ? static_cast<int>(e) : ERROR_GEN_FAILURE;
    }
    if (n == 0) return kEndOfFile;
    p += n;
    bytes -= n;
    offset += n;
  }
  return 0;
}

int File::write_at(const void* data, std::size_t bytes, std::uint64_t offset) const {
  const auto* p = static_cast<const char*>(data);
  while (bytes > 0) {
    DWORD n = 0;
    if (!sys::write_at(native(handle_), p, chunk(bytes), &n, offset)) return last_error();
    if (n == 0) return ERROR_DISK_FULL;  // nothing moved and no error: the device takes no more
    p += n;
    bytes -= n;
    offset += n;
  }
  return 0;
}

int File::write(const void* data, std::size_t bytes) const {
  const auto* p = static_cast<const char*>(data);
  while (bytes > 0) {
    DWORD n = 0;
    if (!sys::write(native(handle_), p, chunk(bytes), &n)) return last_error();
    if (n == 0) return ERROR_DISK_FULL;
    p += n;
    bytes -= n;
  }
  return 0;
}

int File::seek_end() const {
  LARGE_INTEGER zero{};
  return SetFilePointerEx(native(handle_), zero, nullptr, FILE_END) ? 0 : last_error();
}

int File::truncate(std::uint64_t bytes) const {
  return sys::set_end_of_file(native(handle_), bytes) ? 0 : last_error();
}

// The system has no allocation ahead that also sets the size; setting the end of the file
// reserves the clusters behind it on the file systems that matter (NTFS, FAT), and the new
// bytes read as zeros.
int File::reserve(std::uint64_t needed, std::uint64_t wanted) const {
  std::uint64_t current = 0;
  if (int e = size(&current)) return e;
  if (current >= needed) return 0;
  if (wanted > needed && truncate(wanted) == 0) return 0;
  return truncate(needed);
}

int File::write_pieces_at(const void* const* pieces, std::size_t count, std::size_t piece_bytes,
                          std::uint64_t offset) const {
  if (piece_bytes == 0) return 0;
  const std::size_t per_gather = kGatherBytes / piece_bytes;
  while (count > 0) {
    // Pieces that follow one another in memory go out in one transfer as they are.
    std::size_t run = 1;
    while (run < count &&
           static_cast<const char*>(pieces[run]) == static_cast<const char*>(pieces[0]) + run * piece_bytes) {
      ++run;
    }
    if (run > 1 || per_gather < 2) {
      if (int e = write_at(pieces[0], run * piece_bytes, offset)) return e;
    } else {
      thread_local std::unique_ptr<char[]> gather;
      if (!gather) gather.reset(new char[kGatherBytes]);
      run = std::min(count, per_gather);
      for (std::size_t i = 0; i < run; ++i) std::memcpy(gather.get() + i * piece_bytes, pieces[i], piece_bytes);
      if (int e = write_at(gather.get(), run * piece_bytes, offset)) return e;
    }
    pieces += run;
    count -= run;
    offset += run * piece_bytes;
  }
  return 0;
}

int File::size(std::uint64_t* bytes) const {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(native(handle_), &size)) return last_error();
  *bytes = static_cast<std::uint64_t>(size.QuadPart);
  return 0;
}

int File::flush() const { return sys::flush(native(handle_)) ? 0 : last_error(); }

// A delete-on-close file's name stays until its handle closes: the system keeps a name that
// a handle holds. Nobody else can open it meanwhile (they would have to share its deletion).
int File::unlink_now() {
  remove_at_close_.clear();
  return 0;
}

int File::close() {
  if (handle_ == kNoHandle) return 0;
  int e = 0;
  if (!sys::close(native(handle_))) e = last_error();
  handle_ = kNoHandle;
  remove_at_close_.clear();
  return e;
}

int remove_file(const char* name) {
  // A file that somebody holds is not taken away from under them: an open that shares nothing
  // fails while any other handle is open (ERROR_SHARING_VIOLATION). When the file cannot be
  // opened for the probe (no read permission), the deletion decides.
  const HANDLE probe = sys::create_file(name, GENERIC_READ, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (probe == INVALID_HANDLE_VALUE) {
    const DWORD e = GetLastError();
    if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND || e == ERROR_SHARING_VIOLATION) {
      return static_cast<int>(e);
    }
  } else {
    sys::close(probe);
  }
  return sys::delete_file(name) ? 0 : last_error();
}

int make_temporary_file(const char* prefix, char* name, std::size_t capacity) {
  if (capacity == 0) return ERROR_INSUFFICIENT_BUFFER;
  name[0] = '\0';
  char directory[256];
  const DWORD length = GetTempPathA(sizeof directory, directory);
  if (length == 0) return last_error();
  if (length >= sizeof directory) return ERROR_FILENAME_EXCED_RANGE;
  // The system adds four hexadecimal digits and ".tmp" to the first three characters of the
  // prefix, and makes the file.
  char made[MAX_PATH];
  if (sys::temp_file_name(directory, prefix, made) == 0) return last_error();
  const std::size_t made_length = std::strlen(made);
  if (made_length + 1 > capacity) {
    sys::delete_file(made);
    return ERROR_FILENAME_EXCED_RANGE;
  }
  std::memcpy(name, made, made_length + 1);
  return 0;
}

}  // namespace platform
