#pragma once
// The file table: which control word (`cntlwd`) stands for which open file.
//
// Slots are numbered 1 to kFileSlots; a control word is a slot number, negated when the file was
// opened read-only. Each slot owns one file record, allocated the first time the slot is used
// and kept (and reused) until the library goes away. A record is in the
// table while its magic equals the library's magic number; CLOSE and a failed open set it back
// to 0. Because a record's memory outlives its file, a control word that has gone stale (closed
// by another thread, say) leads to a closed record, never to freed memory.
//
// File record (one per slot):
//
//   file             the open system file (descriptor -1 when none)
//   magic            the library's magic number while the slot is in use, else 0
//   flags            kFileOpen | kFileOpen2 while open; kFileReadOnly; kFileDeleteOnClose;
//                    kFileLockReady; kFileTiming; kFileReport
//   RECL             record length in words
//   read/write count successful READ and WRITE transfers
//   record count     file size in whole records
//   position         byte offset where the last transfer ended; kPositionUnknown after a
//                    failure or a truncation
//   file size        bytes, as the library keeps it (the file is cut to it at close)
//   high water       the largest size the file had when a TRUNCATE shrank it
//   elapsed/user/system  per timing slot (open/truncate, read, write): counter ticks and
//                    processor time in 100-nanosecond units
//   lock             held around transfers, truncations and inquiries in parallel mode
//   max record       highest block number that READ and WRITE accept
//   name copy        the file name, kept only for the summary report
//   cache            a writable file's record cache (see block_cache.h), made at its first
//                    transfer: records written reach the file when their slot is reused, at
//                    a truncation that keeps them, and at the close
//   room             bytes the system file holds or has allocated ahead (see File::reserve): a
//                    WRITE ending beyond it first reserves room, so that a file that cannot
//                    grow fails the WRITE itself, not a later write of its cached record
//   failed write     the block whose write-out failed in the last READ or WRITE that failed
//                    while making room in the cache for another block (0: none)

#include <atomic>
#include <cstdint>
#include <memory>

#include "bio/block_cache.h"
#include "platform/files.h"
#include "platform/locks.h"

namespace bio {

class Library;

inline constexpr int32_t kMaxFilesCount = 2048;
inline constexpr int32_t kFileSlots = kMaxFilesCount - 3;

// File record flags.
inline constexpr uint32_t kFileOpen = 0x1;
inline constexpr uint32_t kFileReadOnly = 0x2;
inline constexpr uint32_t kFileOpen2 = 0x4;  // always set together with kFileOpen
inline constexpr uint32_t kFileDeleteOnClose = 0x400;
inline constexpr uint32_t kFileLockReady = 0x40000;
inline constexpr uint32_t kFileTiming = 0x80000;
inline constexpr uint32_t kFileReport = 0x100000;

inline constexpr uint64_t kPositionUnknown = 0xFFFFFFFF00000000ull;
inline constexpr int32_t kDefaultMaxRecord = 2147483647;

// Timing slots of a file record.
inline constexpr int kOpenSlot = 0;  // open and truncate
inline constexpr int kReadSlot = 1;
inline constexpr int kWriteSlot = 2;
inline constexpr int kTimingSlots = 3;

struct FileRecord {
  platform::File file;
  std::atomic<uint32_t> magic{0};
  uint32_t flags = 0;
  int32_t recl = 0;
  int32_t read_count = 0;
  int32_t write_count = 0;
  int32_t record_count = 0;
  uint64_t position = kPositionUnknown;
  uint64_t file_size = 0;
  uint64_t high_water = 0;
  uint64_t elapsed[kTimingSlots] = {};
  uint64_t user[kTimingSlots] = {};
  uint64_t system[kTimingSlots] = {};
  platform::Mutex lock;
  int32_t max_record = kDefaultMaxRecord;
  std::unique_ptr<char[]> name_copy;
  std::unique_ptr<BlockCache> cache;
  uint64_t room = 0;
  int64_t failed_write = 0;

  bool is_open() const { return (flags & kFileOpen) != 0; }
  bool timing() const { return (flags & kFileTiming) != 0; }
  // Back to the state of a freshly allocated record (the lock and the magic stay).
  // REQUIRES: the file is closed.
  void clear();
};

struct FileTable {
  int32_t count = 0;                                    // slots in use
  std::atomic<FileRecord*> slots[kFileSlots + 1] = {};  // index 0 is never used

  // Deletes every record, closing files still open (no truncation, no report).
  void discard_all();
  ~FileTable() { discard_all(); }
};

// Result of find when the control word names no file in use.
inline constexpr int32_t kNotFound = 1;

// findfiledata, find: the record of slot |cntlwd|. Returns 0 with the record, kNotFound, or
// 6004 for a slot number outside 1..kFileSlots.
int32_t find_file(Library& lib, int32_t cntlwd, FileRecord** record);

// findfiledata, add: takes slot |cntlwd| when it is valid and free, else the lowest free slot;
// allocates the slot's record on its first use, clears it and puts it in the table. Returns 0
// with the record and `cntlwd` = the slot, 6001 when every slot is in use, 6015 when the record
// cannot be allocated. `parallel`: parallel mode, in which the record is cleared under its lock.
// REQUIRES: in parallel mode, the global lock is held.
int32_t add_file(Library& lib, int32_t& cntlwd, FileRecord** record, bool parallel);

// Writes the cached records that the file does not hold yet, in ascending block order, each run
// of consecutive blocks with one call. Returns 0 or the first system error, with the block whose
// write failed in `failed_block` when given (the records not written stay in the cache, still to
// be written).
int32_t write_cached_records(FileRecord& file, int64_t* failed_block = nullptr);

// closefiledataarea: takes the record out of slot |cntlwd|, cuts a writable file to its
// recorded size, closes it, writes the summary report when `report` is set and the file asks
// for one, and clears the record. Returns 0 or the first system error met (the close goes on).
// REQUIRES: in parallel mode, the global lock and the record's lock are held.
int32_t close_file(Library& lib, int32_t cntlwd, FileRecord* record, bool report);

}  // namespace bio
