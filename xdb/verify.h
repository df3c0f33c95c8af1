#pragma once
// Checking a database: everything the verification tool looks at, behind one call. The header
// invariants, the chain of released blocks, the dictionary (the walker), every data block
// through the readers, the stored DDL against the header, the holder of every block of the file,
// and the pool's own bookkeeping.

#include <cstdint>
#include <ostream>
#include <string>

#include "dbio/context.h"

namespace xdb {

struct Verdict {
  int64_t problems = 0;     // problem lines written
  int64_t data_blocks = 0;  // data blocks the dictionary lists
  int32_t blocks = 0;       // blocks of the file (USDBKS)
  int32_t block_words = 0;  // words per block (BUFSZ)
};

// Checks unit DBNUM, which is open. Each problem goes to `problems` as one line "<file>: <what>",
// and so does a note on blocks that are neither reachable nor released (not counted as a problem);
// when `listing` is given, one line per data block goes to it, in dictionary order (name, the ten
// qualifiers, kind, entry length, count).
Verdict verify_database(dbio::Context& ctx, int32_t DBNUM, const std::string& file, std::ostream& problems,
                        std::ostream* listing);

}  // namespace xdb
