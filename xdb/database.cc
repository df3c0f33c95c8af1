#include "xdb/database.h"

#include <iostream>

#include "bio/requests.h"

namespace xdb {

void trace_blocks(Context& ctx) { ctx.DBGFLG[1] = ctx.DBGFLG[dbio::kTraceBlocks] = true; }

BlockIoStreams::BlockIoStreams(platform::Units& units) { bio::set_output_streams(units.output, units.message); }

BlockIoStreams::~BlockIoStreams() { bio::set_output_streams(&std::cout, &std::cerr); }

}  // namespace xdb
