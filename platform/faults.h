#pragma once
// Failing one system call on purpose: the seam through which tests prove that every file
// operation's failure is handled.
//
// Every system call of the file layer in platform/ is counted by kind once a plan is armed, and
// the n-th call of the planned kind is made to fail, to move fewer bytes than asked, or to be
// interrupted:
//
//   kind        the calls it counts
//   kOpen       open of a file or a directory, mkstemps (it opens the temporary file it makes)
//   kRead       read, pread
//   kWrite      write, pwrite, pwritev
//   kTruncate   ftruncate, fallocate (both set the size of a file)
//   kSync       fsync, fdatasync, of files and of directories
//   kRename     link, rename, renameat2, unlink: every call that changes the names of a directory
//   kClose      close
//
//   mode          what the chosen call does
//   kError        nothing; it fails with the plan's errno (EIO, ENOSPC, EACCES, ...). A close
//                 releases the descriptor all the same, as Linux's does
//   kShort        a read or a write moves half the bytes asked (at least one); any other call
//                 goes ahead unchanged
//   kInterrupted  nothing; it fails with EINTR (a close releases the descriptor, as Linux's does)
//
// A short transfer and an interruption are what a signal or a full pipe does to a sound call:
// the file layer retries them, so a run with one of them armed must end exactly like a clean
// run. Stat-like inquiries (stat, fstat, lseek, flock, fcntl, poll) are not counted, nor are the
// unlink and write of the interrupt handler, which must not depend on anything.
//
// The seam is process-wide state, as the operating system it stands in for is: a plan affects
// every thread (the converter reads the neutral file on a second thread), and the counters are
// atomic. Arming and disarming happen while no file operation is under way (between runs).
// Unarmed, a system call pays one relaxed atomic load and a branch that is never taken.

#include <cstdint>

namespace platform {

enum class FaultCall { kOpen, kRead, kWrite, kTruncate, kSync, kRename, kClose };
inline constexpr int kFaultCallKinds = 7;

enum class FaultMode { kError, kShort, kInterrupted };

struct FaultPlan {
  FaultCall call = FaultCall::kOpen;
  int64_t nth = 0;  // 1-based; 0 fails nothing and only counts
  FaultMode mode = FaultMode::kError;
  int error = 0;    // the errno of a kError fault
};

// Starts counting from zero and fails the plan's call. Replaces an armed plan.
void arm_fault(const FaultPlan& plan);
// Stops counting and failing; the counts since the last arming stay readable.
void disarm_faults();
// Calls of a kind since the last arming.
int64_t fault_calls(FaultCall call);
// True when the armed (or last armed) plan's call has happened and was made to fail.
bool fault_fired();

const char* fault_call_name(FaultCall call);

}  // namespace platform
