#include "platform/publish.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// The directory that holds `name`.
std::string directory_of(const std::string& name) {
  const std::size_t slash = name.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return name.substr(0, slash);
}

}  // namespace

std::string temporary_name(const std::string& final_name, int attempt) {
  std::string name = final_name + "." + std::to_string(::getpid());
  if (attempt > 0) name += "-" + std::to_string(attempt);
  return name + ".part";
}

int sync_directory_of(const std::string& name) {
  const int fd = ::open(directory_of(name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  int status = ::fsync(fd) == 0 ? 0 : errno;
  if (status == EINVAL || status == EROFS) status = 0;
  ::close(fd);
  return status;
}

int name_without_replacing(const std::string& from, const std::string& to) {
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return 0;
  }
  const int linked = errno;
  if (linked != EPERM && linked != ENOTSUP && linked != EOPNOTSUPP && linked != ENOSYS && linked != EXDEV) return linked;
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
#endif
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int publish_file(const std::string& temporary, const std::string& final_name) {
  const int fd = ::open(temporary.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int synced = ::fsync(fd) == 0 ? 0 : errno;
  const int closed = ::close(fd) == 0 ? 0 : errno;
  if (synced != 0) return synced;
  if (closed != 0 && closed != EINTR) return closed;
  if (const int named = name_without_replacing(temporary, final_name); named != 0) return named;
  return sync_directory_of(final_name);
}

}  // namespace platform
