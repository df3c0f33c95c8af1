#pragma once
// Clocks for timing requests.
//
// The counter is a monotonic high-resolution clock counted in ticks of 1/counter_frequency()
// seconds. Processor times are those of the calling thread, in units of 100 nanoseconds. The
// tick count is a 32-bit millisecond clock that wraps; it serves only as a varying number.

#include <cstdint>

namespace platform {

// Ticks per second of counter_now(); 0 when the system has no such clock.
std::uint64_t counter_frequency();
std::uint64_t counter_now();

// User and system processor time of the calling thread. Returns false (and 0 in both) when the
// system cannot tell.
bool thread_times(std::uint64_t* user, std::uint64_t* system);

std::uint32_t tick_count();

}  // namespace platform
