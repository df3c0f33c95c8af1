#include "platform/publish.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/syscalls.h"

namespace platform {

namespace {

// The directory that holds `name`.
std::string directory_of(const std::string& name) {
  const std::size_t slash = name.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return name.substr(0, slash);
}

int unlink_name(const std::string& name) {
  return sys::again_if_interrupted([&] { return sys::unlink(name.c_str()); }) == 0 ? 0 : errno;
}

}  // namespace

std::string temporary_name(const std::string& final_name, int attempt) {
  std::string name = final_name + "." + std::to_string(::getpid());
  if (attempt > 0) name += "-" + std::to_string(attempt);
  return name + ".part";
}

int sync_file(NativeHandle fd) { return sys::again_if_interrupted([&] { return sys::fsync(fd); }) == 0 ? 0 : errno; }

int sync_directory_of(const std::string& name) {
  const int fd = sys::again_if_interrupted(
      [&] { return sys::open(directory_of(name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  if (fd < 0) return errno;
  int status = sync_file(fd);
  if (status == EINVAL || status == EROFS) status = 0;
  sys::close(fd);
  return status;
}

int name_without_replacing(const std::string& from, const std::string& to) {
  if (sys::again_if_interrupted([&] { return sys::link(from.c_str(), to.c_str()); }) == 0) {
    // The file is whole under its new name now; the old name is only in the way. A removal
    // that fails is tried once more, and a name that still stays is left to whoever finds it.
    if (const int e = unlink_name(from); e != 0 && e != ENOENT) unlink_name(from);
    return 0;
  }
  const int linked = errno;
  if (linked != EPERM && linked != ENOTSUP && linked != EOPNOTSUPP && linked != ENOSYS && linked != EXDEV) return linked;
#ifdef RENAME_NOREPLACE
  if (sys::again_if_interrupted([&] { return sys::rename_with_flags(from.c_str(), to.c_str(), RENAME_NOREPLACE); }) == 0) {
    return 0;
  }
  if (errno != EINVAL && errno != ENOSYS) return errno;
#endif
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) return EEXIST;
  return sys::again_if_interrupted([&] { return sys::rename(from.c_str(), to.c_str()); }) == 0 ? 0 : errno;
}

int name_for_good(const std::string& temporary, const std::string& final_name) {
  if (const int named = name_without_replacing(temporary, final_name); named != 0) return named;
  const int synced = sync_directory_of(final_name);
  // A name that may not survive a power loss is not given: the file goes with it, so that a
  // run that reports the failure leaves no output behind.
  if (synced != 0) unlink_name(final_name);
  return synced;
}

int publish_file(const std::string& temporary, const std::string& final_name) {
  const int fd = sys::again_if_interrupted([&] { return sys::open(temporary.c_str(), O_RDONLY | O_CLOEXEC); });
  if (fd < 0) return errno;
  const int synced = sync_file(fd);
  // A close that reports an interruption has released the descriptor all the same (Linux).
  const int closed = sys::close(fd) == 0 ? 0 : errno;
  if (synced != 0) return synced;
  if (closed != 0 && closed != EINTR) return closed;
  return name_for_good(temporary, final_name);
}

}  // namespace platform
