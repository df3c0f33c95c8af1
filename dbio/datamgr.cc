#include "dbio/datamgr.h"

#include <cstdlib>

#include "dbio/pool.h"
#include "dbio/messages.h"

namespace dbio {

using dbio::down_link;
using dbio::page_block;
using dbio::page_buffer;
using dbio::page_unit;
using dbio::up_link;

namespace {

// Unlinks locked page p (whose predecessor on the locked chain is `before`, 0 for the head) and
// puts it at the head of the page chain.
void unlock(dbio::Context& ctx, int32_t p, int32_t before) {
  auto& s = ctx.sysfil;
  if (before == 0) {
    s.LOCKED = down_link(ctx, p);
  } else {
    down_link(ctx, before) = down_link(ctx, p);
  }
  dbio::push_page_to_head(ctx, p);
}

}  // namespace

void DATMGR(dbio::Context& ctx, int32_t DBNUM, int32_t BLOCK, int32_t& ADDR) {
  auto& s = ctx.sysfil;
  const int32_t a = std::abs(DBNUM), b = std::abs(BLOCK);
  if (ADDR != 0 && s.LOCKED != 0) {
    for (int32_t p = s.LOCKED, before = 0, steps = 0; p > 0 && steps <= s.NOFP; ++steps) {
      if (page_buffer(ctx, p) == ADDR) {
        unlock(ctx, p, before);
        break;
      }
      before = p;
      p = down_link(ctx, p);
    }
  }
  for (int32_t p = s.LOCKED, steps = 0; p > 0 && steps <= s.NOFP; p = down_link(ctx, p), ++steps) {
    if (page_block(ctx, p) == b && std::abs(page_unit(ctx, p)) == a) dbio::DIOMSG(ctx, 7, "DATMGR  ", a, b);
  }
  dbio::PAGFET(ctx, a, b, ADDR);
  const int32_t p = s.FREE;
  const int32_t next = down_link(ctx, p);
  if (next < 1) dbio::DIOMSG(ctx, 8, "DATMGR  ");
  // Off the page chain, onto the locked chain.
  s.FREE = next;
  up_link(ctx, next) = 0;
  if (s.LSTUSD == p) s.LSTUSD = 0;
  down_link(ctx, p) = s.LOCKED;
  s.LOCKED = p;
}

void DATREL(dbio::Context& ctx, int32_t DBNUM, int32_t BLOCK) {
  auto& s = ctx.sysfil;
  const int32_t a = std::abs(DBNUM), b = std::abs(BLOCK);
  for (int32_t p = s.LOCKED, before = 0, steps = 0; p > 0 && steps <= s.NOFP; ++steps) {
    if (page_block(ctx, p) == b && std::abs(page_unit(ctx, p)) == a) return unlock(ctx, p, before);
    before = p;
    p = down_link(ctx, p);
  }
}

}  // namespace dbio
