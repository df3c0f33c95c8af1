#pragma once
// Checking an XDB: the verification behind the xdbcheck program.

#include <ostream>
#include <string>

#include "platform/units.h"

namespace app {

struct CheckOptions {
  bool list = false;  // one line per data block, in dictionary order
};

// Opens the XDB `name` read-only and checks its header, released-block chain, dictionary, every
// data block and the stored DDL, and that each block of the file belongs to exactly one of them
// (the single records share theirs). Problems go to the message unit, one line each, then a one-line
// summary; the listing (when asked for) goes to the output unit. Returns 0 when the database is
// sound, 1 otherwise.
int check_xdb(const std::string& name, const CheckOptions& options, platform::Units& units);

}  // namespace app
