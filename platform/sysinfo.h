#pragma once
// What the running system is: its version word and its physical memory.

#include <cstdint>

namespace platform {

// The system's version as one word: bits 0-7 major, 8-15 minor, 16-30 patch level of the
// kernel release. Bit 31 is set when the system cannot give per-thread processor times.
std::uint32_t system_version();
inline constexpr std::uint32_t kNoThreadTimes = 0x80000000u;

// Physical memory in megabytes (0 when unknown).
std::uint64_t physical_memory_mb();

}  // namespace platform
