#pragma once
// Adding an entry to the dictionary, splitting full data blocks and full secondary index blocks.

#include <cstdint>

#include "dbio/context.h"

namespace dict {

// Inserts KEY (12 words) with descriptor ENTRY (DBDLEN words) into the dictionary of DBNUM.
// ENTRY(1) is set to INFINU + 1, the new entry's sequence number. IERR 0: inserted (NUMDB and
// INFINU each grow by 1; DICDBB/DICDBO locate the entry unless a new lowest key went through a
// split); 1: the key exists, nothing changed but ENTRY(1). KEY and ENTRY hold the caller's values
// again on return. A full primary index stops the run (fatal code 6).
void DICINS(dbio::Context& ctx, int32_t DBNUM, int32_t* KEY, int32_t* ENTRY, int32_t& IERR);

}  // namespace dict
