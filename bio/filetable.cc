#include "bio/filetable.h"

#include <cstdlib>
#include <new>

#include "bio/library.h"
#include "bio/requests.h"
#include "bio/timing.h"

namespace bio {
namespace {

int32_t slot_of(int32_t cntlwd) {
  // |INT32_MIN| does not fit; it is out of range like every other slot above kFileSlots.
  return cntlwd == INT32_MIN ? INT32_MAX : std::abs(cntlwd);
}

bool valid_slot(int32_t slot) { return slot >= 1 && slot <= kFileSlots; }

// write_out for a record in hand.
int32_t write_out_record(FileRecord& file, int64_t& failed_block) {
  failed_block = 0;
  if (!file.is_open() || !file.file.is_open() || (file.flags & kFileReadOnly) != 0) return 0;
  if (int32_t e = write_cached_records(file, &failed_block)) return e;
  if (file.room > file.file_size) {
    if (int e = file.file.truncate(file.file_size)) return e;
    file.room = file.file_size;
  }
  return 0;
}

}  // namespace

void FileRecord::clear() {
  flags = 0;
  recl = 0;
  read_count = write_count = record_count = 0;
  position = kPositionUnknown;
  file_size = high_water = 0;
  for (int i = 0; i < kTimingSlots; ++i) elapsed[i] = user[i] = system[i] = 0;
  max_record = kDefaultMaxRecord;
  name_copy.reset();
  cache.reset();
  room = 0;
}

void FileTable::discard_all() {
  for (auto& slot : slots) {
    FileRecord* record = slot.exchange(nullptr);
    // A writable file still open gets what it was given, as if the end of the process closed it.
    if (record != nullptr) {
      int64_t failed_block = 0;
      (void)write_out_record(*record, failed_block);
    }
    delete record;
  }
  count = 0;
}

namespace {

// find_file without its debug lines.
int32_t look_up(Library& lib, int32_t cntlwd, FileRecord** record) {
  *record = nullptr;
  const int32_t slot = slot_of(cntlwd);
  if (!valid_slot(slot)) return kInvalidIndex;
  FileRecord* found = lib.table.slots[slot].load(std::memory_order_acquire);
  if (found == nullptr || found->magic.load(std::memory_order_acquire) != lib.magic) return kNotFound;
  *record = found;
  return 0;
}

}  // namespace

int32_t find_file(Library& lib, int32_t cntlwd, FileRecord** record) {
  *record = nullptr;
  lib.debug(3, "At entry to findfiledata -- option = %d, filedataptr = %p, cntlwd = %d.", 0,
            static_cast<void*>(*record), cntlwd);
  const int32_t iret = look_up(lib, cntlwd, record);
  lib.debug(3, "At exit from findfiledata -- iret = %d, filedataptr = %p, cntlwd = %d.", iret,
            static_cast<void*>(*record), cntlwd);
  return iret;
}

int32_t add_file(Library& lib, int32_t& cntlwd, FileRecord** record, bool parallel) {
  lib.debug(3, "At entry to findfiledata -- option = %d, filedataptr = %p, cntlwd = %d.", 1,
            static_cast<void*>(*record), cntlwd);
  FileTable& table = lib.table;
  auto in_use = [&](int32_t s) {
    FileRecord* r = table.slots[s].load(std::memory_order_relaxed);
    return r != nullptr && r->magic.load(std::memory_order_relaxed) == lib.magic;
  };

  int32_t iret = 0;
  int32_t slot = 0;
  if (table.count >= kFileSlots) {
    iret = kTooManyFiles;
  } else {
    int32_t wanted = slot_of(cntlwd);
    if (valid_slot(wanted) && !in_use(wanted)) {
      slot = wanted;
    } else {
      for (int32_t s = 1; s <= kFileSlots && slot == 0; ++s) {
        if (!in_use(s)) slot = s;
      }
    }
    if (slot == 0) {
      table.count = kFileSlots;
      iret = kTooManyFiles;
    }
  }

  if (iret == 0) {
    FileRecord* r = table.slots[slot].load(std::memory_order_relaxed);
    if (r == nullptr) {
      r = new (std::nothrow) FileRecord;
      if (r == nullptr) {
        iret = kNoMemory;
      } else {
        table.slots[slot].store(r, std::memory_order_release);
      }
    }
    if (iret == 0) {
      lib.debug(3,
                "In findfiledata -- data area table addr = %p, slot found at index %d, entries "
                "count (before add) = %d.",
                static_cast<void*>(&table), slot, table.count);
      // A thread with a stale control word for this slot may still be inside the record.
      SectionLock own(lib, r->lock, parallel);
      r->clear();
      r->magic.store(lib.magic, std::memory_order_release);
      ++table.count;
      cntlwd = slot;
      *record = r;
    }
  }
  lib.debug(3, "At exit from findfiledata -- iret = %d, filedataptr = %p, cntlwd = %d.", iret,
            static_cast<void*>(*record), cntlwd);
  return iret;
}

int32_t write_out(Library& lib, int32_t cntlwd, int64_t& failed_block) {
  failed_block = 0;
  FileRecord* file = nullptr;
  if (look_up(lib, cntlwd, &file) != 0) return 0;
  SectionLock own(lib, file->lock, lib.parallel.load());
  return write_out_record(*file, failed_block);
}

int64_t failed_write_out(Library& lib, int32_t cntlwd) {
  FileRecord* file = nullptr;
  if (look_up(lib, cntlwd, &file) != 0) return 0;
  SectionLock own(lib, file->lock, lib.parallel.load());
  return file->failed_write;
}

int32_t close_file(Library& lib, int32_t cntlwd, FileRecord* record, bool report) {
  lib.debug(3, "At entry to closefiledataarea -- filedataptr = %p, cntlwd = %d.",
            static_cast<void*>(record), cntlwd);
  if (record == nullptr) {
    lib.debug(3, "At exit from closefiledataarea -- iret = %d.", 0);
    return 0;
  }
  int32_t slot = slot_of(cntlwd);
  if (valid_slot(slot) && lib.table.slots[slot].load(std::memory_order_relaxed) == record &&
      record->magic.load(std::memory_order_relaxed) == lib.magic) {
    lib.debug(3,
              "In closefiledataarea -- filedatatable slot found at index %d, entries count "
              "(before delete) = %d.",
              slot, lib.table.count);
    record->magic.store(0, std::memory_order_release);
    --lib.table.count;
  }

  int32_t iret = 0;
  if (record->is_open()) {
    lib.debug(3, "In closefiledataarea -- file to be closed.  Flags = %#x.", record->flags);
  }
  if (record->is_open() && record->file.is_open()) {
    // The file on disk holds every record written and ends where the library's size says.
    if ((record->flags & kFileReadOnly) == 0) {
      iret = write_cached_records(*record);
      int32_t cut = record->file.truncate(record->file_size);
      if (iret == 0) iret = cut;
    }
    int32_t closed = record->file.close();
    if (iret == 0) iret = closed;
  }
  record->flags &= ~(kFileOpen | kFileOpen2 | kFileLockReady);
  if (report && (record->flags & kFileReport) != 0) write_summary_report(lib, *record);
  record->file.close();  // a record whose open failed half-way
  record->clear();
  lib.debug(3, "At exit from closefiledataarea -- iret = %d.", iret);
  return iret;
}

}  // namespace bio
