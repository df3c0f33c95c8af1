#pragma once
// Paging pool configuration: presets the database layer's shared state and lays the pool out
// into bookkeeping arrays, page buffers, an exchange area and a DDL area (see dbio/context.h for
// the layout). Made once per run, before the first database is opened.

#include <cstdint>

#include "dbio/context.h"

namespace xdb {

// Status codes of PAGSET.
inline constexpr int32_t kPoolTooSmall = 1;
inline constexpr int32_t kBadOutputUnit = 2;

// Configures the pool in the context's pool array from word START (1-based) for LENGTH words,
// with pages of PAGSIZ words (rounded up to even), DDL room DDLCFG (objects * 100000 + data words,
// 0 = none) and NDICT dictionary-cache entries (0 = default, negative = exactly -NDICT).
// IERR: 0 configured; 1 the pool is too small for the page size; 2 OUTPUT is negative.
void PAGSET(dbio::Context& ctx, int32_t OUTPUT, int32_t START, int32_t LENGTH, int32_t PAGSIZ,
            int32_t DDLCFG, int32_t NDICT, int32_t SPARE, int32_t& IERR);

}  // namespace xdb
