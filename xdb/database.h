#pragma once
// The database layer as a program meets it: the context that holds one run's database state, and
// the switches a program sets on it. Programs include xdb/ headers only; this one names what they
// need of the layers below.

#include <ostream>

#include "dbio/context.h"
#include "platform/units.h"

namespace xdb {

// One run's database layer: shared state, paging pool and message units.
using Context = dbio::Context;

// Switches on the trace lines of every block the database layer allocates, reads and writes.
void trace_blocks(Context& ctx);

// While it lives, the block I/O library's debug lines go to the run's output unit and its summary
// reports to the run's message unit; afterwards they go back to the standard streams, since the
// run's streams may not outlive it.
class BlockIoStreams {
 public:
  explicit BlockIoStreams(platform::Units& units);
  ~BlockIoStreams();
  BlockIoStreams(const BlockIoStreams&) = delete;
  BlockIoStreams& operator=(const BlockIoStreams&) = delete;
};

}  // namespace xdb
