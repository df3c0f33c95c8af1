#include "platform/clock.h"

#include <windows.h>

namespace platform {
namespace {

std::uint64_t hundred_nanos(const FILETIME& t) {
  return static_cast<std::uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime;
}

}  // namespace

std::uint64_t counter_frequency() {
  LARGE_INTEGER f{};
  return QueryPerformanceFrequency(&f) ? static_cast<std::uint64_t>(f.QuadPart) : 0;
}

std::uint64_t counter_now() {
  LARGE_INTEGER now{};
  return QueryPerformanceCounter(&now) ? static_cast<std::uint64_t>(now.QuadPart) : 0;
}

bool thread_times(std::uint64_t* user, std::uint64_t* system) {
  FILETIME created, exited, kernel, in_user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &in_user)) {
    *user = *system = 0;
    return false;
  }
  *user = hundred_nanos(in_user);
  *system = hundred_nanos(kernel);
  return true;
}

std::uint32_t tick_count() { return GetTickCount(); }

}  // namespace platform
