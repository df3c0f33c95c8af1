#pragma once
// The block I/O library's state: everything that outlives one request, in one object.
//
// Requests reach a Library through the request entry (requests.h). A program keeps one for its
// run and hands it to the database layer; the process also has one (process_library()) for
// callers that keep none. A Library is set up by initialise() on its first request other than
// GETERRMSG:
//
//   debug level          0..9 from KOVDBG; a debug line of level n is printed at level >= n
//   thread times flag    per-thread processor times can be had (else they count as 0)
//   counter flag         the high-resolution counter exists (no timing without it)
//   tick factor          100 / counter frequency: ticks * factor = hundredths of a second
//   magic number         a varying number that marks the records in the file table
//   trace                the trace file, its mode and its counter (trace.h)
//   parallel flag        SETPARALLEL: per-thread open/create records and locks
//   global lock          held around opens, closes and appends to the open/create records
//   base_info            the open/create record of the initialising thread (openinfo.h)
//   file table           filetable.h
//
// Debug lines go to the debug stream, the summary reports to the report stream: standard output
// and standard error unless the constructor names others.
// When a Library goes away it closes the files and the trace it still has open.

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <mutex>

#include "bio/filetable.h"
#include "bio/openinfo.h"
#include "platform/files.h"
#include "platform/locks.h"

namespace bio {

class Library {
 public:
  Library();
  Library(std::ostream& debug, std::ostream& report);
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  // Runs initialise() unless it has run. Safe from several threads.
  void ensure_initialised() {
    if (!initialised_.load(std::memory_order_acquire)) initialise_once();
  }

  bool debugging(int level) const { return debug_level.load(std::memory_order_relaxed) >= level; }
  // Prints "BIOXXX: <text>" on the debug stream and flushes it, when the debug level is at
  // least `level`.
  void debug(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // Prints a text made elsewhere as one debug line.
  void debug_text(int level, const char* text, int length);
  // Writes text to the report stream and flushes it.
  void report(const char* text, std::size_t length);

  // Settings made by initialise(). The debug level is atomic because GETERRMSG reads it without
  // starting the initialisation, which another thread may be running.
  std::atomic<int> debug_level{0};
  bool thread_times = false;
  bool counter_ok = false;
  uint64_t counter_frequency = 0;
  double tick_factor = 0;
  uint32_t magic = 0;
  uint32_t version = 0;

  // Trace (trace.h).
  platform::File trace_file;
  bool trace_elapsed = false;             // elapsed-time mode, else sequence-number mode
  std::atomic<int32_t> trace_counter{0};  // 0: no trace; else the next sequence number
  uint64_t trace_start = 0;

  std::atomic<bool> parallel{false};
  platform::Mutex global_lock;
  OpenInfo base_info;
  FileTable table;

  std::ostream* debug_stream;
  std::ostream* report_stream;

 private:
  void initialise_once();
  void initialise();

  std::atomic<bool> initialised_{false};
  std::mutex initialise_lock_;
  std::mutex output_lock_;  // one line at a time on the shared streams
};

// The name of an operation code as the debug lines print it ("" outside 0..14).
const char* operation_name(int32_t iopt);

// Holds `mutex` for a scope when `active` (parallel mode), with the debug lines of parallel
// mode; does nothing otherwise.
class SectionLock {
 public:
  SectionLock(Library& lib, platform::Mutex& mutex, bool active);
  ~SectionLock() { release(); }
  SectionLock(const SectionLock&) = delete;
  SectionLock& operator=(const SectionLock&) = delete;
  void release();

 private:
  Library& lib_;
  platform::Mutex* mutex_;  // null when nothing is held
};

}  // namespace bio
