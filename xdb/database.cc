#include "xdb/database.h"

#include "bio/library.h"

namespace xdb {

void trace_blocks(Context& ctx) { ctx.DBGFLG[1] = ctx.DBGFLG[dbio::kTraceBlocks] = true; }

BlockIo::BlockIo(platform::Units& units) : library_(std::make_unique<bio::Library>(*units.output, *units.message)) {}

BlockIo::~BlockIo() = default;

}  // namespace xdb
