#include "platform/textoutput.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace platform {

namespace {

constexpr const char kTemporarySuffix[] = ".part";

// The directory that holds `name`, for syncing its entries.
std::string directory_of(const std::string& name) {
  const std::size_t slash = name.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return name.substr(0, slash);
}

int sync_directory(const std::string& name) {
  const int fd = ::open(directory_of(name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  int status = ::fsync(fd) == 0 ? 0 : errno;
  // Some file systems cannot sync a directory; the file itself is on the disk already.
  if (status == EINVAL || status == EROFS) status = 0;
  ::close(fd);
  return status;
}

// Gives the file `from` the name `to` unless `to` exists. A link is atomic; file systems without
// links get a rename that will not replace, or, where even that is missing, a rename after a
// look (which a file appearing in between could still lose).
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

}  // namespace

TextOutput::~TextOutput() { abandon(); }

int TextOutput::create(const std::string& final_name) {
  struct stat st;
  if (::lstat(final_name.c_str(), &st) == 0) return EEXIST;
  std::string pattern = final_name + ".XXXXXX" + kTemporarySuffix;
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkstemps(name.data(), static_cast<int>(sizeof kTemporarySuffix - 1));
  if (fd < 0) return errno;
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  // The file gets the permissions a plain new file would have.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  fd_ = fd;
  owns_fd_ = true;
  final_ = final_name;
  temporary_ = name.data();
  return 0;
}

void TextOutput::attach_standard_output() {
  fd_ = STDOUT_FILENO;
  owns_fd_ = false;
}

int TextOutput::write(const char* data, std::size_t bytes) {
  while (bytes > 0) {
    const ssize_t done = ::write(fd_, data, bytes);
    if (done < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += done;
    bytes -= static_cast<std::size_t>(done);
  }
  return 0;
}

int TextOutput::commit() {
  if (!owns_fd_) return 0;
  if (::fsync(fd_) != 0) return errno;
  const int closed = ::close(fd_) == 0 ? 0 : errno;
  fd_ = -1;
  owns_fd_ = false;
  if (closed != 0) return closed;
  if (int status = name_without_replacing(temporary_, final_); status != 0) return status;
  temporary_.clear();
  return sync_directory(final_);
}

void TextOutput::abandon() {
  if (owns_fd_) {
    ::close(fd_);
    fd_ = -1;
    owns_fd_ = false;
  }
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
    temporary_.clear();
  }
}

}  // namespace platform
