#include "platform/sysinfo.h"

#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>

namespace platform {

std::uint32_t system_version() {
  unsigned major = 0, minor = 0, patch = 0;
  struct utsname u;
  if (::uname(&u) == 0) std::sscanf(u.release, "%u.%u.%u", &major, &minor, &patch);
  std::uint32_t version = (major & 0xFF) | (minor & 0xFF) << 8 | (patch & 0x7FFF) << 16;
  struct rusage ru;
  if (::getrusage(RUSAGE_THREAD, &ru) != 0) version |= kNoThreadTimes;
  return version;
}

std::uint64_t physical_memory_mb() {
  long pages = ::sysconf(_SC_PHYS_PAGES);
  long page_size = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size) >> 20;
}

}  // namespace platform
