#pragma once
// Open/create information records: the options that OPENINFO gives a thread's next open.
//
// One record per calling thread (in parallel mode; otherwise base_info serves every caller):
//
//   next              the following record of the list (base_info is its head)
//   pending           1 from an OPENINFO until the next CREATE, OPENRW or OPENRO consumes it
//   thread id         the thread the record belongs to
//   option            0; 1; 2 = the next CREATE makes a file deleted when it is closed
//   open_create_flags kOpenRaw, kOpenTiming, kOpenReport (keyword data of OPENINFO)
//
// Records after base_info are allocated zeroed, appended under the global lock, and kept until
// the library goes away.
//
// Keyword data: entries separated by commas, each "KEYWORD=VALUE" (or "KEYWORD#VALUE"), case
// and blanks round the separator not counting. RAW, TIMING and REPORT take YES or NO.

#include <atomic>
#include <cstdint>

namespace bio {

class Library;

inline constexpr uint32_t kOpenRaw = 0x100;  // recorded only; nothing reads it
inline constexpr uint32_t kOpenTiming = 0x400;
inline constexpr uint32_t kOpenReport = 0x800;

inline constexpr int32_t kOptionDeleteOnClose = 2;

struct OpenInfo {
  std::atomic<OpenInfo*> next{nullptr};
  int32_t pending = 0;
  int32_t threadid = 0;
  int32_t option = 0;
  uint32_t open_create_flags = 0;
};

// The calling thread's record. With `create`, a missing record is made and a record without a
// pending OPENINFO is reset (pending, option and flags 0). Returns null when there is none (or
// it cannot be allocated).
// REQUIRES: the library is initialised.
OpenInfo* fetch_open_info(Library& lib, bool create, bool parallel);

// Applies OPENINFO keyword data (`length` characters, at most 255 used) to `info`'s flags.
void scan_keyword_data(Library& lib, const char* data, int32_t length, OpenInfo& info);

// Frees the records after base_info and clears base_info.
void discard_open_infos(Library& lib);

}  // namespace bio
