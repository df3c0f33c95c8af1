#pragma once
// The dumper's main program: writes the neutral form of an XDB, from which the converter
// rebuilds an equivalent database (docs/dumpxdb.md tells how the neutral file is chosen).
//
//   dumpxdb xdb-file [output=neutral-file] [verbose=(yes|no)]
//
// The run: command line; the XDB opened read-only (".xdb" added when no file of the name as
// typed exists); its DDL into the pool; the dictionary checked and put in creation order; the
// output created under a temporary name; the header line; the DDL block, then every other data
// block in creation order; the end of the data; the output renamed to its final name.

#include <ostream>

#include "app/cmdline.h"
#include "platform/units.h"

namespace app {

inline constexpr const char* kDumperName = "DUMPXDB";

// Runs one dump and returns the exit status: 0 completed cleanly, 1 stopped on a fatal
// condition (the output then does not exist), 2 completed but skipped data blocks that cannot be
// read or written in the neutral form. `standard_output` receives the neutral file for the
// output name "-" (null: the process's standard output).
int run_dumpxdb(const CommandLine& command_line, platform::Units& units, std::ostream& standard_output);

}  // namespace app
