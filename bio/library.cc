#include "bio/library.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

#include "bio/trace.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/sysinfo.h"

namespace bio {
namespace {

constexpr uint64_t kMaxReportedMemoryMb = 8191;
constexpr std::size_t kEnvironmentValueMax = 256;
constexpr int kFilePositionBytes = 8;

const char* const kOperationNames[] = {"OPENINFO", "CREATE",     "OPENRW",     "OPENRO",
                                       "WRITE",    "READ",       "CLOSE",      "ERASE",
                                       "GETRECL",  "GETERRMSG",  "TRACEBACK",  "INQUIRE",
                                       "TRUNCATE", "DISCONNECT", "SETPARALLEL"};

// KOVDBG: "BIO" anywhere in the value (any case) switches debug lines on; a digit right after
// it is the level, anything else level 1.
int debug_level_from_environment() {
  const std::optional<std::string> setting = platform::environment_variable("KOVDBG");
  if (!setting) return 0;
  const char* value = setting->c_str();
  char upper[kEnvironmentValueMax + 1];
  std::size_t n = 0;
  for (; value[n] != '\0' && n < kEnvironmentValueMax; ++n) {
    upper[n] = static_cast<char>(std::toupper(static_cast<unsigned char>(value[n])));
  }
  upper[n] = '\0';
  const char* bio = std::strstr(upper, "BIO");
  if (bio == nullptr) return 0;
  char level = bio[3];
  return level >= '0' && level <= '9' ? level - '0' : 1;
}

}  // namespace

const char* operation_name(int32_t iopt) {
  return iopt >= 0 && iopt < static_cast<int32_t>(std::size(kOperationNames))
             ? kOperationNames[iopt]
             : "";
}

Library::Library() : Library(std::cout, std::cerr) {}

Library::Library(std::ostream& debug, std::ostream& report)
    : debug_stream(&debug), report_stream(&report) {}

Library::~Library() {
  table.discard_all();
  trace_file.close();
  discard_open_infos(*this);
}

Library& process_library() {
  static Library lib;
  return lib;
}

void Library::initialise_once() {
  std::lock_guard<std::mutex> hold(initialise_lock_);
  if (initialised_.load(std::memory_order_relaxed)) return;
  initialise();
  initialised_.store(true, std::memory_order_release);
}

void Library::initialise() {
  version = platform::system_version();
  thread_times = (version & platform::kNoThreadTimes) == 0;
  // A magic of 0 would match records never put in the table.
  magic = platform::tick_count();
  if (magic == 0) magic = 1;
  counter_frequency = platform::counter_frequency();
  counter_ok = counter_frequency != 0;
  tick_factor = counter_ok ? 100.0 / static_cast<double>(counter_frequency) : 0.0;
  uint64_t total_phys = std::min(platform::physical_memory_mb(), kMaxReportedMemoryMb);

  debug_level = debug_level_from_environment();
  if (debugging(4)) {
    for (int i = 0; i < static_cast<int>(std::size(kOperationNames)); ++i) {
      debug(4, "optnames[%2d] = %s", i, kOperationNames[i]);
    }
    debug(
        4,
        "Windows Timing: Timing OK Flag = %d, Clock Frequency = %8.8x %8.8x, count to .01 sec = %g",
        counter_ok ? 1 : 0, static_cast<unsigned>(counter_frequency >> 32),
        static_cast<unsigned>(counter_frequency), tick_factor);
  }

  open_trace(*this);

  base_info.threadid = platform::current_thread_id();

  debug(2, "At initialization -- TotalPhys = %d MB.", static_cast<int>(total_phys));
  debug(2, "GetVersion returned %d, %#x.", static_cast<int>(version), version);
  debug(2, "At initialization -- A(base_info) = %p, base_info.threadid = %ld.",
        static_cast<void*>(&base_info), static_cast<long>(base_info.threadid));
  debug(2,
        "Maximum number of files supported for this platform is %d, magic number is %#lx, "
        "sizeof(FILE_POS_TYPE) = %d",
        kMaxFilesCount, static_cast<unsigned long>(magic), kFilePositionBytes);
}

void Library::debug(int level, const char* format, ...) {
  if (!debugging(level)) return;
  char text[2048];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n < 0) return;
  debug_text(level, text, std::min(n, static_cast<int>(sizeof text) - 1));
}

void Library::debug_text(int level, const char* text, int length) {
  if (!debugging(level)) return;
  std::lock_guard<std::mutex> hold(output_lock_);
  std::ostream& out = *debug_stream;
  out << "BIOXXX: ";
  out.write(text, length);
  out << '\n';
  out.flush();
}

void Library::report(const char* text, std::size_t length) {
  std::lock_guard<std::mutex> hold(output_lock_);
  report_stream->write(text, static_cast<std::streamsize>(length));
  report_stream->flush();
}

SectionLock::SectionLock(Library& lib, platform::Mutex& mutex, bool active)
    : lib_(lib), mutex_(nullptr) {
  if (!active) return;
  int thread = platform::current_thread_id();
  lib.debug(
      2, "Attempting to get critical section control using control variable %p for thread ID %d.",
      static_cast<void*>(&mutex), thread);
  mutex.lock();
  lib.debug(2, "Critical section control has been obtained for thread %d.", thread);
  mutex_ = &mutex;
}

void SectionLock::release() {
  if (mutex_ == nullptr) return;
  lib_.debug(2, "Releasing critical section control using control variable %p for thread %d.",
             static_cast<void*>(mutex_), platform::current_thread_id());
  mutex_->unlock();
  mutex_ = nullptr;
}

}  // namespace bio
