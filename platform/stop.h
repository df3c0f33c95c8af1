#pragma once
// Ending a run.
//
// A fatal condition anywhere in the program "stops the run": it prints its messages and calls
// stop_run, which unwinds to the program's entry; the entry turns the status into the process
// exit status. Tests call the same entry in-process and see the status instead of an exit.

namespace platform {

// Exit statuses of a run.
inline constexpr int kExitClean = 0;     // completed, nothing to report
inline constexpr int kExitFatal = 1;     // stopped on a fatal condition (usage, open failure, ...)
inline constexpr int kExitWarnings = 2;  // completed, but warnings or translation errors were reported

// The unwinding token. Only the program's entry catches it.
struct RunStop {
  int status;
};

[[noreturn]] inline void stop_run(int status = kExitFatal) { throw RunStop{status}; }

}  // namespace platform
