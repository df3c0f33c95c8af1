#pragma once
// For tests only: puts the block I/O library back into its state before the first request, so
// that the next request initialises it again from the environment (KOVDBG, KOV_BIOTRACE).
// Files still open are closed without truncation or report; the trace file is closed; the
// output streams go back to standard output and standard error.
//
// REQUIRES: no other thread is inside BIOXXX.

namespace bio {

void reset_library_for_testing();

}  // namespace bio
