#pragma once
// Checking the paging pool's bookkeeping (the chains are described in dbio/pool.h):
//
//   - every page is in exactly one of three places: the page chain from FREE, the locked chain
//     from LOCKED, or one dictionary-cache slot;
//   - on the page chain the pages in use come first and the never-used pages (holding no block)
//     after them; every up link names the page before (0 for the head), and LSTUSD names the last
//     page in use (0 when none);
//   - the slot list from DLSTR visits every dictionary-cache slot once, the never-used slots last
//     and without a page; a slot's page holds a block;
//   - no block is held by two pages.
//
// Each broken rule is one line; chains are followed with every page counted once, so a cycle or a
// link out of range ends the walk of that chain with a line instead of looping.

#include <string>
#include <vector>

#include "dbio/context.h"

namespace dbio {

// The problems found in the pool of `ctx`; empty when its bookkeeping is sound (or no pool is
// configured).
std::vector<std::string> check_pool(Context& ctx);

}  // namespace dbio
