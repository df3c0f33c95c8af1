#pragma once
// Timing of requests and the summary report of a file.
//
// A timer mark is taken at the start of a timed request (a file whose timing is on, an
// operation with a timing slot) and again at its end; the differences are added to the file's
// accumulators of that slot:
//
//   ticks    high-resolution counter ticks (ticks * tick factor = hundredths of a second)
//   user     user processor time of the calling thread, 100-nanosecond units
//   system   system processor time of the calling thread, 100-nanosecond units
//
// Processor times are 0 where the system cannot give them per thread.

#include <cstdint>

namespace bio {

class Library;
struct FileRecord;

struct TimerMark {
  uint64_t ticks = 0;
  uint64_t user = 0;
  uint64_t system = 0;
};

// Takes a mark (counter only: for the trace's elapsed-time column).
TimerMark counter_mark();
// Takes a mark with processor times, printing it at debug levels above 3.
TimerMark start_timer(Library& lib);
// Adds the time since `start` to slot `slot` of the file's accumulators.
// REQUIRES: in parallel mode, the file's lock is held.
void account_time(Library& lib, FileRecord& file, int slot, const TimerMark& start);

// Writes the summary report of `file` to the report stream.
void write_summary_report(Library& lib, const FileRecord& file);

}  // namespace bio
