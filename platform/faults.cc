#include "platform/faults.h"

#include <atomic>

#include "platform/fault_seam.h"

namespace platform {

namespace seam {

// The plan is written only while nothing is armed; `armed` publishes it.
std::atomic<bool> armed{false};

namespace {
FaultPlan plan;
std::atomic<int64_t> calls[kFaultCallKinds];
std::atomic<bool> fired{false};
}  // namespace

Decision decide_armed(FaultCall call) {
  if (!armed.load(std::memory_order_acquire)) return {};
  const int64_t n = calls[static_cast<int>(call)].fetch_add(1, std::memory_order_relaxed) + 1;
  if (call != plan.call || n != plan.nth) return {};
  fired.store(true, std::memory_order_relaxed);
  switch (plan.mode) {
    case FaultMode::kError: return {Verdict::kFail, plan.error, false};
    case FaultMode::kInterrupted: return {Verdict::kFail, 0, true};
    case FaultMode::kShort: return {Verdict::kShort, 0, false};
  }
  return {};
}

}  // namespace seam

using seam::armed;
using seam::calls;
using seam::fired;
using seam::plan;

void arm_fault(const FaultPlan& new_plan) {
  armed.store(false, std::memory_order_relaxed);
  plan = new_plan;
  for (auto& c : calls) c.store(0, std::memory_order_relaxed);
  fired.store(false, std::memory_order_relaxed);
  armed.store(true, std::memory_order_release);
}

void disarm_faults() { armed.store(false, std::memory_order_release); }

int64_t fault_calls(FaultCall call) { return calls[static_cast<int>(call)].load(std::memory_order_relaxed); }

bool fault_fired() { return fired.load(std::memory_order_relaxed); }

const char* fault_call_name(FaultCall call) {
  switch (call) {
    case FaultCall::kOpen: return "open";
    case FaultCall::kRead: return "read";
    case FaultCall::kWrite: return "write";
    case FaultCall::kTruncate: return "truncate";
    case FaultCall::kSync: return "sync";
    case FaultCall::kRename: return "rename";
    case FaultCall::kClose: return "close";
  }
  return "?";
}

}  // namespace platform
