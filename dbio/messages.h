#pragma once
// The DBIO message catalog: every error the database layer detects below the XDB interface is
// reported here by an internal code and the name of the detecting routine.
//
//   code   severity         text (after five blanks)
//   1      user fatal       DATA BASE UNIT n IS OUT OF RANGE.
//   2..4   system fatal     closed unit / read-only unit / no block left
//   5, 12  user warning     database not opened / opened read-only, no action taken
//   6..11  system fatal     dictionary overflow, locking, pool exhausted, dead chain, lost entries
//   13, 14 system fatal     CLOSGR inconsistencies
//   15, 16 user warning     a logical file left open at close / at a purge (the key follows)
//   17..20 system fatal     DDL missing or inconsistent for a foreign-layout database
//   9999                    the shared-state dump alone
//   other                   message 6059: no text for the code
//
// A fatal code prints its message, the dumps when debug flag 22 is set, writes every modified
// page back (the context's flush_before_stop, which the open/close layer installs), prints " FATAL ERROR DETECTED" on standard output and stops the run. A
// warning returns to the caller.

#include <cstdint>
#include <string_view>

#include "dbio/context.h"

namespace dbio {

inline constexpr int32_t kDumpOnly = 9999;

// ROUTINE is the caller's name (at most 8 characters, blank padded in the message). ARG1 and
// ARG2 point to the code's arguments (some codes take a short array at ARG1); null means 0.
void DIOMSG(dbio::Context& ctx, int32_t code, std::string_view routine, const int32_t* arg1,
            const int32_t* arg2);
// The same with plain integer arguments.
void DIOMSG(dbio::Context& ctx, int32_t code, std::string_view routine, int32_t arg1 = 0, int32_t arg2 = 0);

// The five dumps of the shared state (/SYSFIL/, /GRFIST/, /GRDBLK/, memory blocks, dictionary cache).
void dump_shared_state(dbio::Context& ctx);

}  // namespace dbio
