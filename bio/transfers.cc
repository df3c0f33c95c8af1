// READ, WRITE and TRUNCATE: one record moved between the caller's words and the file, or the
// file cut after a number of whole records.
//
// Record n of a file of RECL words lies at bytes start = (n-1)*RECL*4 up to end = start +
// RECL*4. A READ of a record that the file holds only in part (the file is not a whole number
// of records) fills the missing words with 0; a READ that starts at or beyond the end of the
// file is refused (6007). A WRITE anywhere is accepted; writing beyond the end makes the file
// grow, a gap in between being left to the system. TRUNCATE keeps the records before its block
// number and changes nothing when the file is not longer than that.
//
// Transfers are positioned system calls with the record's offset, so there is no separate
// positioning step that could fail. The record's position tells where the last transfer ended;
// it becomes unknown after a failed transfer and after a truncation.
//
// A writable file's whole records go through its record cache (block_cache.h): a READ of a
// cached record is a copy, a WRITE lands in the cache and reaches the file when its slot is
// reused or the file is closed. A WRITE that makes the file longer first reserves the room
// (File::reserve), so that a full disk or a file-size limit fails that WRITE, as an uncached
// write would. Counts, sizes and positions are kept as if every transfer reached the file.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "bio/filetable.h"
#include "bio/library.h"
#include "bio/operations.h"
#include "bio/requests.h"
#include "platform/files.h"

namespace bio {
namespace {

constexpr int32_t kDumpWords = 16;
constexpr int32_t kDumpWordsPerLine = 8;

unsigned high(uint64_t v) { return static_cast<unsigned>(v >> 32); }
unsigned low(uint64_t v) { return static_cast<unsigned>(v); }

int timing_slot_of(int32_t iopt) {
  return iopt == READ ? kReadSlot : iopt == WRITE ? kWriteSlot : kOpenSlot;
}

constexpr uint64_t kMinGrowth = uint64_t{1} << 20;   // room reserved at a time, at least
constexpr uint64_t kMaxGrowth = uint64_t{64} << 20;  // and at most

// A cache for records of `recl` words; none when the memory cannot be had.
std::unique_ptr<BlockCache> make_cache(int32_t recl) {
  try {
    return std::make_unique<BlockCache>(recl);
  } catch (const std::bad_alloc&) {
    return nullptr;  // transfers go straight to the file
  }
}

int32_t system_result(int e) { return e == platform::kEndOfFile ? kUnexpectedEof : e; }

// Counts a transfer of `bytes` bytes of record `block` at byte `start` that has succeeded and, for
// a write past the end, takes the new size.
void count_transfer(FileRecord& file, int32_t iopt, uint64_t start, int64_t block, uint64_t bytes) {
  file.position = start + bytes;
  if (iopt == READ) {
    ++file.read_count;
  } else {
    ++file.write_count;
    if (file.position > file.file_size) {
      file.file_size = file.position;
      file.record_count = static_cast<int32_t>(block);
    }
  }
}

// Moves `bytes` bytes of record `block` at byte `start` straight between the caller and the
// file. Returns 0 or the system error (kUnexpectedEof when the file ends before the bytes that
// it was known to have).
int32_t positioned_transfer(FileRecord& file, int32_t iopt, uint64_t start, int64_t block,
                            int32_t* data, uint64_t bytes) {
  int e =
      iopt == READ ? file.file.read_at(data, bytes, start) : file.file.write_at(data, bytes, start);
  if (e != 0) {
    file.position = kPositionUnknown;
    return system_result(e);
  }
  if (iopt == WRITE) file.room = std::max(file.room, start + bytes);
  count_transfer(file, iopt, start, block, bytes);
  return 0;
}

// Writes the dirty record of `slot` and, in the same call, the dirty records cached for the
// blocks right behind it (a file written front to back leaves them so), and marks them clean.
int write_run_from(FileRecord& file, std::size_t slot, uint64_t bytes) {
  constexpr std::size_t kLongestRun = 256;
  BlockCache& cache = *file.cache;
  std::size_t run[kLongestRun] = {};
  const void* pieces[kLongestRun] = {};
  std::size_t n = 0;
  for (std::ptrdiff_t s = static_cast<std::ptrdiff_t>(slot); s >= 0 && n < kLongestRun;
       s = cache.find_quietly(cache.block(static_cast<std::size_t>(s)) + 1)) {
    if (!cache.dirty(static_cast<std::size_t>(s))) break;
    run[n] = static_cast<std::size_t>(s);
    pieces[n] = cache.words(run[n]);
    ++n;
  }
  const uint64_t at = static_cast<uint64_t>(cache.block(slot) - 1) * bytes;
  if (int e = file.file.write_pieces_at(pieces, n, bytes, at)) return e;
  for (std::size_t i = 0; i < n; ++i) cache.set_dirty(run[i], false);
  return 0;
}

// The same through the file's record cache. REQUIRES: the file is writable and `bytes` is a
// whole record.
int32_t cached_transfer(FileRecord& file, int32_t iopt, uint64_t start, int64_t block,
                        int32_t* data, uint64_t bytes) {
  BlockCache& cache = *file.cache;
  auto failed = [&](int e) {
    file.position = kPositionUnknown;
    return system_result(e);
  };
  const uint64_t end = start + bytes;
  if (iopt == WRITE && end > file.room) {
    const uint64_t growth = std::clamp(file.room / 4, kMinGrowth, kMaxGrowth);
    if (int e = file.file.reserve(end, std::max(end, file.room + growth))) return failed(e);
    uint64_t size = end;
    file.room = file.file.size(&size) == 0 ? std::max(size, end) : end;
  }
  std::ptrdiff_t found = cache.find(block);
  if (found < 0) {
    const std::size_t slot = cache.victim();
    if (cache.dirty(slot)) {
      if (int e = write_run_from(file, slot, bytes)) {
        file.failed_write = cache.block(slot);
        return failed(e);
      }
    }
    if (iopt == READ) {
      cache.drop(slot);  // its words are about to change
      if (int e = file.file.read_at(cache.words(slot), bytes, start)) return failed(e);
    }
    cache.assign(slot, block);
    found = static_cast<std::ptrdiff_t>(slot);
  }
  const auto slot = static_cast<std::size_t>(found);
  if (iopt == READ) {
    std::memcpy(data, cache.words(slot), bytes);
  } else {
    std::memcpy(cache.words(slot), data, bytes);
    cache.set_dirty(slot, true);
  }
  count_transfer(file, iopt, start, block, bytes);
  return 0;
}

// The checks and the transfer, once the file is found (and locked in parallel mode).
int32_t transfer_record(Library& lib, Request& r, FileRecord& file, int64_t block, int32_t words) {
  const int32_t iopt = r.iopt;
  file.failed_write = 0;
  if (!file.is_open()) return kFileClosed;
  if (block <= 0) return kBlockNotPositive;
  if (words != file.recl) return kLengthNotRecl;
  if (block > file.max_record) return kBeyondFileSystemLimit;
  if (!file.file.is_open()) return kFileClosed;
  if ((file.flags & kFileReadOnly) && iopt != READ) return kReadOnly;

  const uint64_t record_bytes = static_cast<uint64_t>(file.recl) * 4;
  const uint64_t start = static_cast<uint64_t>(block - 1) * record_bytes;
  const uint64_t end = start + record_bytes;
  if (lib.debugging(2)) {
    lib.debug(2, "Filedataptr = %p, file handle = %d, FileFlags = %#x.", static_cast<void*>(&file),
              file.file.descriptor(), file.flags);
    lib.debug(2,
              "Current I/O position = 0x%x%8.8x, requested position = 0x%x%8.8x, file size = %d "
              "records (0x%x%8.8x)",
              high(file.position), low(file.position), high(start), low(start), file.record_count,
              high(file.file_size), low(file.file_size));
  }

  if (start >= file.file_size) {
    if (iopt == TRUNCATE) return 0;
    if (iopt == READ) {
      // Another program may have made a shared file longer since it was opened.
      uint64_t size = 0;
      if ((file.flags & kFileReadOnly) && file.file.size(&size) == 0 && size > file.file_size) {
        file.file_size = size;
        uint64_t records = size / record_bytes;
        file.record_count = records > INT32_MAX ? INT32_MAX : static_cast<int32_t>(records);
      }
      if (start >= file.file_size) return kBeyondEndOfFile;
    }
  }

  if (iopt == TRUNCATE) {
    if (file.cache) file.cache->drop_from(block);
    if (int e = file.file.truncate(start)) {
      file.position = kPositionUnknown;
      return e;
    }
    file.room = start;
    file.high_water = std::max(file.high_water, file.file_size);
    file.file_size = start;
    file.record_count = static_cast<int32_t>(block - 1);
    file.position = kPositionUnknown;
    r.trace_number = block - 1;
    return 0;
  }

  uint64_t bytes = record_bytes;
  if (iopt == READ && end > file.file_size) {
    bytes = file.file_size - start;
    const uint64_t whole = bytes / 4;
    const uint64_t cleared = static_cast<uint64_t>(words) - whole;
    lib.debug(2,
              "Reading short block at file end.  Word count reset from %d to %d.  Area starting "
              "at %p for %d words set to 0.",
              words, static_cast<int>(whole), static_cast<void*>(r.intarray + whole),
              static_cast<int>(cleared));
    std::memset(r.intarray + whole, 0, cleared * 4);
  }
  if (iopt == WRITE) {
    lib.debug(3, "First 64 bytes of data to be written (at location %p) are (in hex) --",
              static_cast<void*>(r.intarray));
    dump_words(lib, r.intarray, words);
  }
  if ((file.flags & kFileReadOnly) == 0 && bytes == record_bytes) {
    if (!file.cache) file.cache = make_cache(file.recl);
    if (file.cache) return cached_transfer(file, iopt, start, block, r.intarray, bytes);
  }
  return positioned_transfer(file, iopt, start, block, r.intarray, bytes);
}

}  // namespace

int32_t write_cached_records(FileRecord& file, int64_t* failed_block) {
  if (!file.cache || file.cache->dirty_count() == 0) return 0;
  BlockCache& cache = *file.cache;
  const uint64_t record_bytes = static_cast<uint64_t>(file.recl) * 4;
  const std::vector<uint32_t>& order = cache.dirty_in_block_order();
  std::vector<const void*> run;
  run.reserve(order.size());
  for (std::size_t first = 0; first < order.size();) {
    // A run of consecutive blocks.
    std::size_t next = first + 1;
    while (next < order.size() && cache.block(order[next]) == cache.block(order[next - 1]) + 1) ++next;
    run.clear();
    for (std::size_t i = first; i < next; ++i) run.push_back(cache.words(order[i]));
    const uint64_t at = static_cast<uint64_t>(cache.block(order[first]) - 1) * record_bytes;
    if (int e = file.file.write_pieces_at(run.data(), run.size(), record_bytes, at)) {
      file.position = kPositionUnknown;
      if (failed_block != nullptr) *failed_block = cache.block(order[first]);
      return system_result(e);
    }
    for (std::size_t i = first; i < next; ++i) cache.set_dirty(order[i], false);
    first = next;
  }
  return 0;
}

void dump_words(Library& lib, const int32_t* words, int32_t count) {
  if (!lib.debugging(3)) return;
  const int32_t shown = std::min(count, kDumpWords);
  char line[kDumpWordsPerLine * 9 + 1];
  for (int32_t first = 0; first < shown; first += kDumpWordsPerLine) {
    int used = 0;
    for (int32_t i = first; i < std::min(shown, first + kDumpWordsPerLine); ++i) {
      used += std::snprintf(line + used, sizeof line - static_cast<std::size_t>(used),
                            i == first ? "%8.8x" : " %8.8x", static_cast<unsigned>(words[i]));
    }
    lib.debug_text(3, line, used);
  }
}

int32_t do_transfer(Library& lib, Request& r) {
  const int32_t iopt = r.iopt;
  int64_t block;
  int32_t words;
  if (iopt == TRUNCATE) {
    const int32_t keep = r.intarrayleng > 0 ? r.intarray[0] : 0;
    block = static_cast<int64_t>(keep) + 1;
    words = r.intvar_value;
  } else {
    block = r.intvar_value;
    words = r.intarrayleng;  // 0 for a missing buffer, whatever its stated length
  }
  r.trace_number = block;

  if (r.cntlwd < 0 && iopt != READ) return kReadOnly;
  FileRecord* file = nullptr;
  int32_t found = find_file(lib, r.cntlwd, &file);
  if (found == kNotFound) return kFileClosed;
  if (found != 0) return found;

  SectionLock own(lib, file->lock, r.parallel);
  if (file->timing()) {
    r.start = start_timer(lib);
    r.timed = true;
  }
  int32_t iret = transfer_record(lib, r, *file, block, words);
  if (r.timed) account_time(lib, *file, timing_slot_of(iopt), r.start);
  own.release();
  if (iret == 0 && iopt == READ) {
    lib.debug(3, "First 64 bytes of data read (at location %p) are (in hex) --",
              static_cast<void*>(r.intarray));
    dump_words(lib, r.intarray, words);
  }
  return iret;
}

}  // namespace bio
