#include "bio/trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "bio/library.h"
#include "bio/requests.h"
#include "bio/timing.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/files.h"

namespace bio {
namespace {

constexpr int32_t kLastSequenceNumber = 2147483647;
constexpr std::size_t kRowBytes = 512;

// The next sequence number; after 2147483647 the counter starts again at 1.
int32_t take_sequence_number(Library& lib) {
  int32_t n = lib.trace_counter.load(std::memory_order_relaxed);
  while (n != 0) {
    int32_t next = n == kLastSequenceNumber ? 1 : n + 1;
    if (lib.trace_counter.compare_exchange_weak(n, next, std::memory_order_relaxed)) break;
  }
  return n;
}

// A trace that cannot be written is given up, so that one failure is reported once.
void write_or_give_up(Library& lib, const char* data, std::size_t bytes) {
  int e = lib.trace_file.write(data, bytes);
  if (e != 0) {
    lib.debug(1, "Trace file write failed.  Error code = %d.", e);
    lib.trace_counter.store(0);
  }
}

}  // namespace

void open_trace(Library& lib) {
  const std::optional<std::string> setting = platform::environment_variable("KOV_BIOTRACE");
  if (!setting) return;
  const char* value = setting->c_str();
  bool append = false, header = false, sequence = false;
  for (;; ++value) {
    if (*value == '-') continue;
    if (*value == '+') {
      append = true;
    } else if (*value == '*') {
      header = true;
    } else if (*value == '%') {
      sequence = true;
    } else {
      break;
    }
  }
  const char* name = value;
  if (*name == '\0') return;

  int e = lib.trace_file.open(
      name, platform::Access::kWrite, platform::Share::kRead,
      append ? platform::Disposition::kOpenAlways : platform::Disposition::kCreateAlways,
      platform::kFileNormal | platform::kFileWriteThrough);
  if (e == 0 && append) e = lib.trace_file.seek_end();
  if (e != 0) {
    lib.trace_file.close();
    lib.debug(1, "Trace file \"%s\" open failed (append=%d). Error code = %d.", name,
              append ? 1 : 0, e == platform::kNotDiskFile ? kNotDiskFile : e);
    return;
  }
  lib.trace_elapsed = lib.counter_ok && !sequence;
  if (lib.trace_elapsed) {
    lib.trace_start = platform::counter_now();
    lib.debug(4, "Timing info:  Elapsed: %8.8x %8.8x", static_cast<unsigned>(lib.trace_start >> 32),
              static_cast<unsigned>(lib.trace_start));
  }
  if (header) {
    char row[kRowBytes];
    int n = std::snprintf(row, sizeof row,
                          "\"%s\",\"OpCode\",\"RetCode\",\"Cntlwd\",\"BlkNbr/RECL\","
                          "\"LogicalName\",\"FileName/Message\"\r\n",
                          lib.trace_elapsed ? "ElpTime" : "Seqno");
    e = lib.trace_file.write(row, static_cast<std::size_t>(n));
    if (e != 0) {
      lib.trace_file.close();
      lib.debug(1, "Trace file \"%s\" open failed (append=%d). Error code = %d.", name,
                append ? 1 : 0, e);
      return;
    }
  }
  lib.trace_counter.store(1, std::memory_order_release);  // publishes the mode and the start mark
  lib.debug(2, "Trace file \"%s\" has been opened (append=%d).", name, append ? 1 : 0);
}

void write_trace_row(Library& lib, const TraceRow& row) {
  if (lib.trace_counter.load(std::memory_order_acquire) == 0) return;
  unsigned long first;
  if (lib.trace_elapsed) {
    uint64_t mark = row.start != nullptr ? row.start->ticks : platform::counter_now();
    first = static_cast<unsigned long>(static_cast<double>(mark - lib.trace_start) *
                                       lib.tick_factor * 1000.0);
  } else {
    first = static_cast<unsigned long>(take_sequence_number(lib));
  }

  char fixed[kRowBytes];
  int n = std::snprintf(fixed, sizeof fixed, "%lu,%ld,%ld,%ld,%ld,,", first,
                        static_cast<long>(row.iopt), static_cast<long>(row.iret),
                        static_cast<long>(row.cntlwd), static_cast<long>(row.number));
  if (!row.with_text) {
    fixed[n++] = '\r';
    fixed[n++] = '\n';
    write_or_give_up(lib, fixed, static_cast<std::size_t>(n));
  } else {
    // The text stops at its length or at a NUL, whichever comes first.
    std::size_t length = 0;
    if (row.text != nullptr && row.text_length > 0) {
      const void* nul = std::memchr(row.text, '\0', static_cast<std::size_t>(row.text_length));
      length = nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - row.text)
                              : static_cast<std::size_t>(row.text_length);
    }
    std::string line(fixed, static_cast<std::size_t>(n));
    line += '"';
    line.append(row.text, length);
    line += "\"\r\n";
    write_or_give_up(lib, line.data(), line.size());
  }
  if (row.iopt == CLOSE && lib.trace_counter.load(std::memory_order_relaxed) != 0) {
    if (int e = lib.trace_file.flush()) {
      lib.debug(1, "Trace file write failed.  Error code = %d.", e);
      lib.trace_counter.store(0);
    }
  }
}

}  // namespace bio
