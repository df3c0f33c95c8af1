#include "bio/timing.h"

#include <algorithm>
#include <cstdio>

#include "bio/filetable.h"
#include "bio/library.h"
#include "platform/clock.h"

namespace bio {
namespace {

constexpr double kSecondsPer100ns = 1e-7;
constexpr double kBytesPerMegabyte = 1048576.0;

unsigned high(uint64_t v) { return static_cast<unsigned>(v >> 32); }
unsigned low(uint64_t v) { return static_cast<unsigned>(v); }

// One row of the timing part of the report: elapsed, user and system seconds, and for read
// and write the data rate.
int timing_row(char* out, std::size_t size, const Library& lib, const FileRecord& file,
               const char* label, int slot, int32_t count, bool with_rate) {
  double elapsed = static_cast<double>(file.elapsed[slot]) * lib.tick_factor * 0.01;
  double user = lib.thread_times ? static_cast<double>(file.user[slot]) * kSecondsPer100ns : 0.0;
  double system =
      lib.thread_times ? static_cast<double>(file.system[slot]) * kSecondsPer100ns : 0.0;
  int n = std::snprintf(out, size, "%s: %#12.3f %#12.3f %12.3f", label, elapsed, user, system);
  if (!with_rate || n < 0 || static_cast<std::size_t>(n) >= size) return n;
  char rate[64];
  if (elapsed == 0.0 || count == 0) {
    std::snprintf(rate, sizeof rate, "       N/A");
  } else {
    double megabytes = static_cast<double>(count) * file.recl * 4.0 / kBytesPerMegabyte;
    std::snprintf(rate, sizeof rate, "%12.3f MB/sec", megabytes / elapsed);
  }
  return n + std::snprintf(out + n, size - static_cast<std::size_t>(n), " %s", rate);
}

}  // namespace

TimerMark counter_mark() {
  TimerMark m;
  m.ticks = platform::counter_now();
  return m;
}

TimerMark start_timer(Library& lib) {
  TimerMark m;
  m.ticks = platform::counter_now();
  if (lib.thread_times) platform::thread_times(&m.user, &m.system);
  if (lib.debugging(4)) {
    if (lib.thread_times) {
      lib.debug(4, "Timing info:  Elapsed: %8.8x %8.8x, User: %8.8x %8.8x, System: %8.8x %8.8x",
                high(m.ticks), low(m.ticks), high(m.user), low(m.user), high(m.system),
                low(m.system));
    } else {
      lib.debug(4, "Timing info:  Elapsed: %8.8x %8.8x", high(m.ticks), low(m.ticks));
    }
  }
  return m;
}

void account_time(Library& lib, FileRecord& file, int slot, const TimerMark& start) {
  TimerMark end;
  end.ticks = platform::counter_now();
  if (lib.thread_times) platform::thread_times(&end.user, &end.system);
  uint64_t ticks = end.ticks - start.ticks;
  uint64_t user = lib.thread_times ? end.user - start.user : 0;
  uint64_t system = lib.thread_times ? end.system - start.system : 0;
  file.elapsed[slot] += ticks;
  file.user[slot] += user;
  file.system[slot] += system;
  lib.debug(4, "%s timing info: Elapsed = %8.8x %8.8x, User = %8.8x %8.8x, System = %8.8x %8.8x",
            "Operation", high(ticks), low(ticks), high(user), low(user), high(system), low(system));
  lib.debug(4,
            "Total %s timing info: Elapsed = %8.8x %8.8x, User = %8.8x %8.8x, System = %8.8x %8.8x",
            "ops", high(file.elapsed[slot]), low(file.elapsed[slot]), high(file.user[slot]),
            low(file.user[slot]), high(file.system[slot]), low(file.system[slot]));
}

void write_summary_report(Library& lib, const FileRecord& file) {
  // The report is made of whole lines in one buffer, so that it leaves in one write.
  char text[1024];
  std::size_t used = 0;
  auto line = [&](const char* format, auto... args) {
    if (used >= sizeof text) return;
    int n = std::snprintf(text + used, sizeof text - used, format, args...);
    if (n > 0) used = std::min(sizeof text - 1, used + static_cast<std::size_t>(n));
  };
  const char* name = file.name_copy ? file.name_copy.get() : "** Unkonwn File Name **";
  int64_t record_bytes = static_cast<int64_t>(file.recl) * 4;
  uint64_t largest = std::max(file.high_water, file.file_size);
  line("Block I/O Summary Report For File \"%s\"\n", name);
  line(" Record Length: %d words (%d bytes)\n", file.recl, static_cast<int>(record_bytes));
  line(" File Size: %d records, Maximum File Size: %d records\n",
       static_cast<int>(file.file_size / static_cast<uint64_t>(record_bytes)),
       static_cast<int>(largest / static_cast<uint64_t>(record_bytes)));
  line(" Read Requests: %d, Write Requests: %d\n", file.read_count, file.write_count);
  if (file.timing()) {
    char row[160];
    line("%s\n",
         " Timing Information (seconds):      Elapsed     User CPU   System CPU    Data Rate");
    timing_row(row, sizeof row, lib, file, "                open/truncate", kOpenSlot, 0, false);
    line("%s\n", row);
    timing_row(row, sizeof row, lib, file, "                         read", kReadSlot,
               file.read_count, true);
    line("%s\n", row);
    timing_row(row, sizeof row, lib, file, "                        write", kWriteSlot,
               file.write_count, true);
    line("%s\n", row);
  }
  lib.report(text, used);
}

}  // namespace bio
