// CREATE, OPENRW and OPENRO: a file enters the table and is opened.
//
//   op       access       others may   disposition
//   CREATE   read, write  nothing      create, or replace an existing file
//   OPENRW   read, write  nothing      open an existing file
//   OPENRO   read         read         open an existing file
//
// CREATE without a name makes a temporary file "KOV......tmp" in the temporary directory, which
// loses its name at once and vanishes when it is closed. OPENINFO options apply to the next
// open of the same thread: its flags (TIMING, REPORT) to all three, its option (2, delete on
// close) to CREATE only.

#include <cstdint>
#include <cstring>
#include <new>

#include "bio/filetable.h"
#include "bio/library.h"
#include "bio/limits.h"
#include "bio/openinfo.h"
#include "bio/operations.h"
#include "bio/requests.h"
#include "platform/files.h"

namespace bio {
namespace {

struct OpenMode {
  platform::Access access;
  platform::Share share;
  platform::Disposition disposition;
};

OpenMode mode_of(int32_t iopt) {
  switch (iopt) {
    case CREATE:
      return {platform::Access::kReadWrite, platform::Share::kNone,
              platform::Disposition::kCreateAlways};
    case OPENRW:
      return {platform::Access::kReadWrite, platform::Share::kNone,
              platform::Disposition::kOpenExisting};
    default:
      return {platform::Access::kRead, platform::Share::kRead,
              platform::Disposition::kOpenExisting};
  }
}

int32_t whole_records(uint64_t bytes, int32_t recl) {
  uint64_t records = bytes / (static_cast<uint64_t>(recl) * 4);
  return records > INT32_MAX ? INT32_MAX : static_cast<int32_t>(records);
}

}  // namespace

int32_t do_open(Library& lib, Request& r, int32_t& cntlwd) {
  OpenInfo* info = fetch_open_info(lib, true, r.parallel);
  if (info == nullptr) return kNoMemory;
  if (info->pending != 0) {
    info->pending = 0;
    if (r.iopt != CREATE) info->option = 0;
  }
  int32_t option = info->option;
  const uint32_t open_flags = info->open_create_flags;

  TimerMark start;
  if (open_flags & kOpenTiming) start = start_timer(lib);

  const int32_t recl = r.intvar_value;
  r.trace_number = recl;
  if (recl <= 0) return kNoRecl;

  bool temporary = false;
  if (!r.has_name()) {
    if (r.iopt != CREATE) return kNoFileName;
    if (platform::make_temporary_file("KOV", r.name, sizeof r.name) != 0) return kNoTemporaryName;
    r.own_text_length = static_cast<int32_t>(std::strlen(r.name));
    temporary = true;
    option = kOptionDeleteOnClose;
    lib.debug(1, "Temporary file to be created with name \"%s\".", r.name);
  }
  const char* name = r.name;

  // The global lock covers the choice of the slot too, so that two threads never take one slot.
  SectionLock global(lib, lib.global_lock, r.parallel);
  FileRecord* file = nullptr;
  int32_t slot = cntlwd;
  int32_t iret = add_file(lib, slot, &file, r.parallel);
  if (iret != 0) {
    if (temporary) platform::remove_file(name);
    return iret;
  }
  r.cntlwd = slot;
  SectionLock own(lib, file->lock, r.parallel);

  file->flags = r.iopt == OPENRO                 ? kFileReadOnly
                : option == kOptionDeleteOnClose ? kFileDeleteOnClose
                                                 : 0;
  uint32_t attributes = platform::kFileNormal | platform::kFileRandomAccess;
  if (option == kOptionDeleteOnClose && r.iopt == CREATE)
    attributes |= platform::kFileDeleteOnClose;
  lib.debug(2, "  Calling CreateFile, FlagsAndAttributes = %d, %#x.", static_cast<int>(attributes),
            attributes);
  const OpenMode mode = mode_of(r.iopt);
  int e = file->file.open(name, mode.access, mode.share, mode.disposition, attributes);
  if (e != 0) {
    if (e == platform::kNotDiskFile) {
      iret = kNotDiskFile;
    } else {
      iret = e;
      lib.debug(1, "CreateFile failed -- error code = %d.", e);
    }
    close_file(lib, slot, file, false);
    if (temporary) platform::remove_file(name);
    return iret;
  }
  // Nobody is told a temporary file's name, so it needs none: it cannot outlive the program.
  if (temporary) file->file.unlink_now();

  file->flags |= kFileOpen | kFileOpen2;
  uint64_t size = 0;
  if (r.iopt != CREATE && file->file.size(&size) != 0) size = 0;
  file->recl = recl;
  file->position = kPositionUnknown;
  file->file_size = file->high_water = file->room = size;
  file->record_count = whole_records(size, recl);

  if (open_flags & kOpenReport) {
    std::size_t length = std::strlen(name);
    file->name_copy.reset(new (std::nothrow) char[length + 1]);
    if (file->name_copy) std::memcpy(file->name_copy.get(), name, length + 1);
  }
  file->flags |= kFileLockReady;
  set_max_record_number(lib, *file, name);

  cntlwd = r.iopt == OPENRO ? -slot : slot;
  lib.debug(2,
            "Create/open successful.  cntlwd = %d, area addr = %p, filnum = %d, flags = %#x, "
            "filesize = %d records (0x%x%8.8x).",
            cntlwd, static_cast<void*>(file), file->file.descriptor(), file->flags,
            file->record_count, static_cast<unsigned>(size >> 32), static_cast<unsigned>(size));

  if ((open_flags & kOpenTiming) && lib.counter_ok) file->flags |= kFileTiming;
  if (open_flags & kOpenReport) file->flags |= kFileReport;
  if (file->timing()) {
    account_time(lib, *file, kOpenSlot, start);
    r.timed = true;
    r.start = start;
  }
  return 0;
}

}  // namespace bio
