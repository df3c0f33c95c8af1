// BIOXXX: the request entry, and the requests that need no more than a few lines (CLOSE,
// ERASE, GETRECL, GETERRMSG, TRACEBACK, DISCONNECT, SETPARALLEL).
//
// Every request runs: the debug entry lines (level 1: the arguments and the parallel flag;
// level 2: the name), the operation, the time accounting of a timed file, the trace row and
// the debug exit line. An operation code outside 0..14 returns 6000 before any of that.

#include "bio/requests.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "bio/filetable.h"
#include "bio/library.h"
#include "bio/messages.h"
#include "bio/operations.h"
#include "bio/trace.h"
#include "platform/files.h"
#include "platform/syserror.h"

namespace bio {
namespace {

// Which trace row an operation writes.
enum class RowKind { kNone, kWithoutText, kWithText };

RowKind row_kind(int32_t iopt) {
  switch (iopt) {
    case TRACEBACK:
      return RowKind::kNone;
    case WRITE:
    case READ:
    case TRUNCATE:
    case SETPARALLEL:
      return RowKind::kWithoutText;
    default:
      return RowKind::kWithText;
  }
}

// The name in charvar: at most kMaxNameLength characters, up to the first NUL.
void take_name(Request& r) {
  std::size_t n = 0;
  const std::size_t limit =
      std::min<std::size_t>(static_cast<std::size_t>(r.chrvrl), kMaxNameLength);
  while (n < limit && r.charvar[n] != '\0') {
    r.name[n] = r.charvar[n];
    ++n;
  }
  r.name[n] = '\0';
  r.own_text_length = static_cast<int32_t>(n);
}

}  // namespace

int32_t do_close(Library& lib, Request& r, int32_t& cntlwd) {
  if (r.cntlwd == 0) return 0;
  FileRecord* file = nullptr;
  int32_t found = find_file(lib, r.cntlwd, &file);
  if (found == kNotFound) return 0;
  if (found != 0) return found;
  cntlwd = 0;
  SectionLock global(lib, lib.global_lock, r.parallel);
  SectionLock own(lib, file->lock, r.parallel);
  // Another thread may have closed the same control word while this one waited.
  if (file->magic.load(std::memory_order_acquire) != lib.magic) return 0;
  return close_file(lib, r.cntlwd, file, true);
}

int32_t do_erase(Library&, Request& r) {
  if (!r.has_name()) return kNoFileName;
  int e = platform::remove_file(r.name);
  return e == platform::kErrorFileNotFound ? 0 : e;
}

int32_t do_getrecl(Library& lib, Request& r) {
  FileRecord* file = nullptr;
  if (find_file(lib, r.cntlwd, &file) == 0) {
    SectionLock own(lib, file->lock, r.parallel);
    if (file->is_open()) {
      if (r.intvar != nullptr) *r.intvar = file->recl;
      return 0;
    }
  }
  return r.has_name() ? 0 : kNoFileName;
}

int32_t do_geterrmsg(Library& lib, Request& r) {
  const int32_t code = r.intvar_value;
  r.trace_number = code;
  for (int32_t k = 0; k < std::min<int32_t>(3, r.intarrayleng); ++k) r.intarray[k] = 0;
  const std::size_t length = error_text(code, r.message, sizeof r.message);
  if (r.intarrayleng >= 1) r.intarray[0] = static_cast<int32_t>(length);
  if (r.intarrayleng >= 2) r.intarray[1] = 1;  // message levels available
  if (r.chrvrl > 0) {
    const std::size_t room = static_cast<std::size_t>(r.chrvrl);
    const std::size_t copied = std::min(room, length);
    std::memcpy(r.charvar, r.message, copied);
    std::memset(r.charvar + copied, ' ', room - copied);
  }
  r.own_text = r.message;
  r.own_text_length = static_cast<int32_t>(length);
  lib.debug(2, "Error msg info -- code = %d, length = %d, msg = \"%s\"", code,
            static_cast<int>(length), r.message);
  return 0;
}

void BIOXXX(Library& lib, int32_t iopt, int32_t& cntlwd, char* charvar, int32_t chrvrl,
            int32_t* intarray, int32_t intarrayleng, int32_t* intvar, int32_t& iret) {
  if (iopt < 0 || iopt >= kOperationCount) {
    iret = kInvalidIopt;
    return;
  }
  if (iopt != GETERRMSG) lib.ensure_initialised();

  Request r;
  r.iopt = iopt;
  r.cntlwd = cntlwd;
  r.charvar = charvar;
  r.chrvrl = charvar != nullptr && chrvrl > 0 ? chrvrl : 0;
  r.intarray = intarray;
  r.intarrayleng = intarray != nullptr && intarrayleng > 0 ? intarrayleng : 0;
  r.intvar = intvar;
  r.intvar_value = intvar != nullptr ? *intvar : 0;
  r.parallel = lib.parallel.load(std::memory_order_relaxed);
  r.name[0] = '\0';
  r.message[0] = '\0';
  if (iopt != GETERRMSG && iopt != TRACEBACK) take_name(r);

  if (lib.debugging(1)) {
    lib.debug(1,
              "At entry -- iopt = %d (%s), cntlwd = %d, charvarleng = %d, A(Intarray) = %p, "
              "intarrayleng = %d, intvar = %d.",
              iopt, operation_name(iopt), cntlwd, chrvrl, static_cast<void*>(intarray),
              intarrayleng, r.intvar_value);
    lib.debug(1, "  Parallel operation active flag = %d.", r.parallel ? 1 : 0);
    if (iopt == GETERRMSG) {
      lib.debug(2, "A(charvar) = %#x.",
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(charvar)));
    } else {
      lib.debug(2, "charvar = \"%s\"", r.name);
    }
  }

  int32_t result = 0;
  switch (iopt) {
    case OPENINFO:
      result = do_openinfo(lib, r, cntlwd);
      break;
    case CREATE:
    case OPENRW:
    case OPENRO:
      result = do_open(lib, r, cntlwd);
      break;
    case WRITE:
    case READ:
    case TRUNCATE:
      result = do_transfer(lib, r);
      break;
    case CLOSE:
      result = do_close(lib, r, cntlwd);
      break;
    case ERASE:
      result = do_erase(lib, r);
      break;
    case GETRECL:
      result = do_getrecl(lib, r);
      break;
    case GETERRMSG:
      result = do_geterrmsg(lib, r);
      break;
    case INQUIRE:
      result = do_inquire(lib, r);
      break;
    case SETPARALLEL:
      lib.parallel.store(cntlwd != 0, std::memory_order_relaxed);
      break;
    default:  // TRACEBACK, DISCONNECT
      break;
  }
  iret = result;

  const RowKind kind = row_kind(iopt);
  if (kind != RowKind::kNone) {
    TraceRow row;
    row.iopt = iopt;
    row.iret = result;
    row.cntlwd = r.cntlwd;
    row.number = r.trace_number;
    row.start = r.timed ? &r.start : nullptr;
    row.with_text = kind == RowKind::kWithText;
    row.text = r.chrvrl > 0 ? r.charvar : r.own_text;
    row.text_length = r.chrvrl > 0 ? r.chrvrl : r.own_text_length;
    write_trace_row(lib, row);
  }
  lib.debug(1, "At exit -- iret = %d.", result);
}

void BIOXXX(int32_t iopt, int32_t& cntlwd, char* charvar, int32_t chrvrl, int32_t* intarray,
            int32_t intarrayleng, int32_t* intvar, int32_t& iret) {
  BIOXXX(process_library(), iopt, cntlwd, charvar, chrvrl, intarray, intarrayleng, intvar, iret);
}


}  // namespace bio
