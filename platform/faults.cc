#include "platform/faults.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

#include "platform/syscalls.h"

namespace platform {

namespace {

// The plan is written only while nothing is armed; `armed` publishes it.
std::atomic<bool> armed{false};
FaultPlan plan;
std::atomic<int64_t> calls[kFaultCallKinds];
std::atomic<bool> fired{false};

enum class Verdict { kProceed, kFail, kShort };

struct Decision {
  Verdict verdict = Verdict::kProceed;
  int error = 0;
};

Decision decide_armed(FaultCall call) {
  if (!armed.load(std::memory_order_acquire)) return {};
  const int64_t n = calls[static_cast<int>(call)].fetch_add(1, std::memory_order_relaxed) + 1;
  if (call != plan.call || n != plan.nth) return {};
  fired.store(true, std::memory_order_relaxed);
  switch (plan.mode) {
    case FaultMode::kError: return {Verdict::kFail, plan.error};
    case FaultMode::kInterrupted: return {Verdict::kFail, EINTR};
    case FaultMode::kShort: return {Verdict::kShort, 0};
  }
  return {};
}

// The whole cost of the seam while nothing is armed.
inline Decision decide(FaultCall call) {
  if (!armed.load(std::memory_order_relaxed)) [[likely]] return {};
  return decide_armed(call);
}

// Fails the call the way the system does: -1 with errno.
int refuse(const Decision& d) {
  errno = d.error;
  return -1;
}

// The count a short transfer moves: half, at least one byte.
std::size_t shortened(std::size_t bytes) { return std::max<std::size_t>(bytes / 2, bytes > 0 ? 1 : 0); }

}  // namespace

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

namespace sys {

int open(const char* name, int flags, mode_t mode) {
  if (const Decision d = decide(FaultCall::kOpen); d.verdict == Verdict::kFail) return refuse(d);
  return ::open(name, flags, mode);
}

int mkstemps(char* pattern, int suffix_bytes) {
  if (const Decision d = decide(FaultCall::kOpen); d.verdict == Verdict::kFail) return refuse(d);
  return ::mkstemps(pattern, suffix_bytes);
}

ssize_t read(int fd, void* data, std::size_t bytes) {
  const Decision d = decide(FaultCall::kRead);
  if (d.verdict == Verdict::kFail) return refuse(d);
  return ::read(fd, data, d.verdict == Verdict::kShort ? shortened(bytes) : bytes);
}

ssize_t pread(int fd, void* data, std::size_t bytes, off_t offset) {
  const Decision d = decide(FaultCall::kRead);
  if (d.verdict == Verdict::kFail) return refuse(d);
  return ::pread(fd, data, d.verdict == Verdict::kShort ? shortened(bytes) : bytes, offset);
}

ssize_t write(int fd, const void* data, std::size_t bytes) {
  const Decision d = decide(FaultCall::kWrite);
  if (d.verdict == Verdict::kFail) return refuse(d);
  return ::write(fd, data, d.verdict == Verdict::kShort ? shortened(bytes) : bytes);
}

ssize_t pwrite(int fd, const void* data, std::size_t bytes, off_t offset) {
  const Decision d = decide(FaultCall::kWrite);
  if (d.verdict == Verdict::kFail) return refuse(d);
  return ::pwrite(fd, data, d.verdict == Verdict::kShort ? shortened(bytes) : bytes, offset);
}

ssize_t pwritev(int fd, const struct iovec* pieces, int count, off_t offset) {
  const Decision d = decide(FaultCall::kWrite);
  if (d.verdict == Verdict::kFail) return refuse(d);
  if (d.verdict == Verdict::kShort && count > 0) {
    // Half of the whole transfer, which mostly ends inside a piece.
    std::size_t total = 0;
    for (int i = 0; i < count; ++i) total += pieces[i].iov_len;
    std::size_t left = shortened(total);
    int used = 0;
    struct iovec cut[IOV_MAX];
    while (used < count && used < IOV_MAX && left > 0) {
      cut[used] = pieces[used];
      cut[used].iov_len = std::min(left, pieces[used].iov_len);
      left -= cut[used].iov_len;
      ++used;
    }
    return ::pwritev(fd, cut, used, offset);
  }
  return ::pwritev(fd, pieces, count, offset);
}

int ftruncate(int fd, off_t bytes) {
  if (const Decision d = decide(FaultCall::kTruncate); d.verdict == Verdict::kFail) return refuse(d);
  return ::ftruncate(fd, bytes);
}

int fallocate(int fd, int mode, off_t offset, off_t bytes) {
  if (const Decision d = decide(FaultCall::kTruncate); d.verdict == Verdict::kFail) return refuse(d);
  return ::fallocate(fd, mode, offset, bytes);
}

int fsync(int fd) {
  if (const Decision d = decide(FaultCall::kSync); d.verdict == Verdict::kFail) return refuse(d);
  return ::fsync(fd);
}

int fdatasync(int fd) {
  if (const Decision d = decide(FaultCall::kSync); d.verdict == Verdict::kFail) return refuse(d);
  return ::fdatasync(fd);
}

int link(const char* from, const char* to) {
  if (const Decision d = decide(FaultCall::kRename); d.verdict == Verdict::kFail) return refuse(d);
  return ::link(from, to);
}

int rename(const char* from, const char* to) {
  if (const Decision d = decide(FaultCall::kRename); d.verdict == Verdict::kFail) return refuse(d);
  return ::rename(from, to);
}

int rename_with_flags(const char* from, const char* to, unsigned flags) {
  if (const Decision d = decide(FaultCall::kRename); d.verdict == Verdict::kFail) return refuse(d);
#ifdef RENAME_NOREPLACE
  return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, flags);
#else
  (void)from, (void)to, (void)flags;
  errno = ENOSYS;
  return -1;
#endif
}

int unlink(const char* name) {
  if (const Decision d = decide(FaultCall::kRename); d.verdict == Verdict::kFail) return refuse(d);
  return ::unlink(name);
}

int close(int fd) {
  // Linux releases the descriptor whatever close reports, so a failed close does too.
  const Decision d = decide(FaultCall::kClose);
  const int closed = ::close(fd);
  if (d.verdict == Verdict::kFail) return refuse(d);
  return closed;
}

}  // namespace sys

}  // namespace platform
