#pragma once
// The paging pool: every block of every open database is read, changed and written through its
// pages. Each page is in exactly one of three places:
//
//   the page chain    from FREE along the down links, most recently used first: the pages in use
//                     (down link >= 0: the next page, 0 = the last page of the chain), then the
//                     pages that never held a block (down link -q: the next such page is q, -1 =
//                     none). LSTUSD is the last page in use (0 while none is); its down link names
//                     the first never-used page, if any. Up links point back along the chain.
//   the locked chain  from LOCKED along the down links, 0 ending it (pages of open relations)
//   a dictionary-cache slot
//
// Page p's unit word is 0 (no block), u (block of unit u, unchanged) or -u (modified since it
// was read or written). A page is written back only when it is reused or flushed.

#include <cstdint>

#include "dbio/context.h"

namespace dbio {

// Makes block |BLOCK| of unit |DBNUM| resident, moves its page to the head of the page chain and
// returns in ADDR the pool index of the block's word 1. A negative DBNUM says the block is new:
// the pool is neither searched nor read (the page keeps whatever it held).
void PAGFET(Context& ctx, int32_t DBNUM, int32_t BLOCK, int32_t& ADDR);

// Marks the page holding block |BLOCK| of unit |DBNUM| modified; nothing when none holds it.
void PAGMOD(Context& ctx, int32_t DBNUM, int32_t BLOCK);

// Makes sure the DDL area holds the DDL of unit DBNUM, loading it from the unit's DDL group.
void KOVGDM(Context& ctx, int32_t DBNUM);

// Page table accessors.
inline int32_t& down_link(Context& ctx, int32_t p) { return ctx.W(ctx.sysfil.BASELL + p); }
inline int32_t& up_link(Context& ctx, int32_t p) { return ctx.W(ctx.sysfil.BASEBL + p); }
inline int32_t& page_unit(Context& ctx, int32_t p) { return ctx.W(ctx.sysfil.BASEDB + p); }
inline int32_t& page_block(Context& ctx, int32_t p) { return ctx.W(ctx.sysfil.BASEBN + p); }
inline int32_t page_buffer(Context& ctx, int32_t p) { return ctx.W(ctx.sysfil.BASEAD + p); }

// Dictionary-cache slot accessors (slots 1..NPDICT, most recently used first from DLSTR along the
// links): the slot's link (> 0: the next slot; 0: the last slot in use; -q: never used, the next
// never-used slot is q, -1 none) and its page (0: empty).
inline int32_t& slot_link(Context& ctx, int32_t i) { return ctx.W(int64_t{ctx.sysfil.DBASEL} + i); }
inline int32_t& slot_page(Context& ctx, int32_t i) { return ctx.W(int64_t{ctx.sysfil.DBASEP} + i); }

// Puts every page and every dictionary-cache slot in its never-used state: the page chain holds
// all pages, none in use; no page is locked; every slot is empty. Buffer indices are not touched.
void reset_chains(Context& ctx);

// Forgets the pages of unit DBNUM: when no other unit has pages, every page and slot returns to
// its never-used state (reset_chains); otherwise the unit's pages and dictionary-cache slots are
// emptied while the locked and cached pages of the other units stay where they are, and the page
// chain is rebuilt from the other units' pages (in page order) followed by the never-used ones.
void forget_unit_pages(Context& ctx, int32_t DBNUM);

// Puts page p (taken off a cache slot or the locked chain) at the head of the page chain.
void push_page_to_head(Context& ctx, int32_t p);

// Moves the page at the head of the page chain (the one PAGFET has just made resident) into
// dictionary-cache slot i. The slot's former page, if it had one, takes the fetched page's place
// at the head of the chain; an empty slot lets the next page head it.
void cache_head_page(Context& ctx, int32_t i);

}  // namespace dbio
