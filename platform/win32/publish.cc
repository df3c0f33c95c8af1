#include "platform/publish.h"

#include <windows.h>

#include "platform/syserror.h"
#include "platform/win32/syscalls.h"

namespace platform {

namespace {

int last_error() {
  const DWORD e = GetLastError();
  return e != 0 ? static_cast<int>(e) : ERROR_GEN_FAILURE;
}

}  // namespace

std::string temporary_name(const std::string& final_name, int attempt) {
  std::string name = final_name + "." + std::to_string(GetCurrentProcessId());
  if (attempt > 0) name += "-" + std::to_string(attempt);
  return name + ".part";
}

int sync_file(NativeHandle file) { return sys::flush(reinterpret_cast<HANDLE>(file)) ? 0 : last_error(); }

// The system keeps a directory's entries with the files' own metadata: a file whose buffers
// are flushed and that was renamed with MOVEFILE_WRITE_THROUGH has its name on the disk.
int sync_directory_of(const std::string&) { return 0; }

int name_without_replacing(const std::string& from, const std::string& to) {
  // Without MOVEFILE_REPLACE_EXISTING the rename fails when `to` exists, atomically.
  if (sys::move_file(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return 0;
  const int e = last_error();
  return e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS ? kErrorFileExists : e;
}

int name_for_good(const std::string& temporary, const std::string& final_name) {
  if (const int named = name_without_replacing(temporary, final_name); named != 0) return named;
  const int synced = sync_directory_of(final_name);
  // A name that may not survive a power loss is not given: the file goes with it, so that a
  // run that reports the failure leaves no output behind.
  if (synced != 0) sys::delete_file(final_name.c_str());
  return synced;
}

int publish_file(const std::string& temporary, const std::string& final_name) {
  // Flushing needs a handle that can write.
  const HANDLE h = sys::create_file(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (h == INVALID_HANDLE_VALUE) return last_error();
  const int synced = sync_file(reinterpret_cast<NativeHandle>(h));
  const int closed = sys::close(h) ? 0 : last_error();
  if (synced != 0) return synced;
  if (closed != 0) return closed;
  return name_for_good(temporary, final_name);
}

}  // namespace platform
