#pragma once
// The data manager: pages of open relations and groups are locked so that the pool never reuses
// them while a logical file works on them. Locked pages form the locked chain from LOCKED, linked
// by their down links (0 ends it); a released page goes back to the head of the page chain.

#include <cstdint>

#include "dbio/context.h"

namespace dbio {

// Releases the locked page whose buffer address is ADDR (when ADDR != 0), then locks block
// |BLOCK| of unit |DBNUM| and returns its address in ADDR. Locking a block that is already locked
// (fatal code 7) or the last page of the page chain (fatal code 8) stops the run.
void DATMGR(dbio::Context& ctx, int32_t DBNUM, int32_t BLOCK, int32_t& ADDR);

// Releases the locked page holding block |BLOCK| of unit |DBNUM|, if any.
void DATREL(dbio::Context& ctx, int32_t DBNUM, int32_t BLOCK);

}  // namespace dbio
