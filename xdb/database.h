#pragma once
// The database layer as a program meets it: the context that holds one run's database state, and
// the switches a program sets on it. Programs include xdb/ headers only; this one names what they
// need of the layers below.

#include <memory>
#include <ostream>

#include "dbio/context.h"
#include "platform/units.h"

namespace xdb {

// One run's database layer: shared state, paging pool and message units.
using Context = dbio::Context;

// Switches on the trace lines of every block the database layer allocates, reads and writes.
void trace_blocks(Context& ctx);

// The block I/O library of one run: the files it has open, its trace and its settings, taken
// from the environment (KOVDBG, KOV_BIOTRACE) at its first request. Its debug lines go to the
// run's output unit and its summary reports to the run's message unit. A run makes one before
// its context and hands it over; when it goes away it closes whatever is still open.
class BlockIo {
 public:
  explicit BlockIo(platform::Units& units);
  ~BlockIo();
  BlockIo(const BlockIo&) = delete;
  BlockIo& operator=(const BlockIo&) = delete;

  bio::Library& library() { return *library_; }

 private:
  std::unique_ptr<bio::Library> library_;
};

}  // namespace xdb
