#pragma once
// The fault seam as the system-call wrappers of this folder see it (posix/syscalls.cc,
// win32/syscalls.cc): before each call a wrapper asks `decide` whether the call goes ahead, fails
// with an error, or moves only part of its bytes. Nothing outside platform/ includes this file;
// tests arm the seam through faults.h.

#include <algorithm>
#include <atomic>
#include <cstddef>

#include "platform/faults.h"

namespace platform::seam {

enum class Verdict { kProceed, kFail, kShort };

// What the armed plan makes of a call. `interrupted` marks a failure that stands for an
// interruption (EINTR on POSIX); `error` is the plan's errno otherwise.
struct Decision {
  Verdict verdict = Verdict::kProceed;
  int error = 0;
  bool interrupted = false;
};

// Set while a plan is armed; read on every system call.
extern std::atomic<bool> armed;

Decision decide_armed(FaultCall call);

// The whole cost of the seam while nothing is armed: one relaxed load and a branch.
inline Decision decide(FaultCall call) {
  if (!armed.load(std::memory_order_relaxed)) [[likely]] return {};
  return decide_armed(call);
}

// The count a short transfer moves: half, at least one byte.
inline std::size_t shortened(std::size_t bytes) {
  return std::max<std::size_t>(bytes / 2, bytes > 0 ? 1 : 0);
}

}  // namespace platform::seam
