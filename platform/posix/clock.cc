#include "platform/clock.h"

#include <sys/resource.h>

#include <ctime>

namespace platform {
namespace {

constexpr std::uint64_t kNanosPerSecond = 1000000000;

bool monotonic(std::uint64_t* nanos) {
  struct timespec ts;
  if (::clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return false;
  *nanos = static_cast<std::uint64_t>(ts.tv_sec) * kNanosPerSecond +
           static_cast<std::uint64_t>(ts.tv_nsec);
  return true;
}

std::uint64_t hundred_nanos(const struct timeval& tv) {
  return static_cast<std::uint64_t>(tv.tv_sec) * 10000000 +
         static_cast<std::uint64_t>(tv.tv_usec) * 10;
}

}  // namespace

std::uint64_t counter_frequency() {
  std::uint64_t probe;
  return monotonic(&probe) ? kNanosPerSecond : 0;
}

std::uint64_t counter_now() {
  std::uint64_t nanos = 0;
  monotonic(&nanos);
  return nanos;
}

bool thread_times(std::uint64_t* user, std::uint64_t* system) {
  struct rusage ru;
  if (::getrusage(RUSAGE_THREAD, &ru) != 0) {
    *user = *system = 0;
    return false;
  }
  *user = hundred_nanos(ru.ru_utime);
  *system = hundred_nanos(ru.ru_stime);
  return true;
}

std::uint32_t tick_count() {
  std::uint64_t nanos = 0;
  monotonic(&nanos);
  return static_cast<std::uint32_t>(nanos / 1000000);
}

}  // namespace platform
