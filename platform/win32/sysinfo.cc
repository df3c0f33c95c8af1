#include "platform/sysinfo.h"

#include <windows.h>

namespace platform {

std::uint32_t system_version() {
  // Major version in the low byte, minor in the next, build number in the high word (its top
  // bit marks the old systems without per-thread times; the bit is ours below).
  std::uint32_t version = static_cast<std::uint32_t>(GetVersion()) & ~kNoThreadTimes;
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) version |= kNoThreadTimes;
  return version;
}

std::uint64_t physical_memory_mb() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return 0;
  return static_cast<std::uint64_t>(status.ullTotalPhys) >> 20;
}

}  // namespace platform
