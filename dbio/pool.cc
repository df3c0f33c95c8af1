#include "dbio/pool.h"

#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <vector>

#include "dbio/blocks.h"
#include "dbio/ddl_plan.h"
#include "dbio/words.h"
#include "dbio/messages.h"
#include "dbio/open_states.h"
#include "dbio/layouts.h"

namespace dbio {

namespace {

constexpr int32_t kFirstDdlBlockDataWord = 17;  // behind the group's 12-word key
constexpr int32_t kDdlBlockDataWord = 5;

// Writes page p's block back when the page is modified, and clears the mark.
void write_back(Context& ctx, int32_t p) {
  int32_t unit = page_unit(ctx, p);
  if (unit >= 0) return;
  unit = -unit;
  if (ctx.grdblk.DBFLTY[unit] != kNativeLayout) KOVGDM(ctx, unit);
  page_unit(ctx, p) = unit;
  BLKWRT(ctx, unit, page_block(ctx, p), page_buffer(ctx, p), ctx.grdblk.BUFSZ[unit], ctx.sysfil.BASEXB);
}

// Moves page p, which is on the page chain, to its head.
void move_to_head(Context& ctx, int32_t p) {
  auto& s = ctx.sysfil;
  if (p == s.FREE) return;
  int32_t before = up_link(ctx, p);
  int32_t after = down_link(ctx, p);
  down_link(ctx, before) = after;
  if (after > 0) up_link(ctx, after) = before;
  if (p == s.LSTUSD) s.LSTUSD = before;
  down_link(ctx, p) = s.FREE;
  up_link(ctx, s.FREE) = p;
  up_link(ctx, p) = 0;
  s.FREE = p;
}

}  // namespace

void reset_chains(Context& ctx) {
  auto& s = ctx.sysfil;
  s.FREE = 1;
  s.DLSTR = 1;
  s.LSTUSD = 0;
  s.LOCKED = 0;
  for (int32_t i = 1; i <= s.NPDICT; ++i) {
    slot_link(ctx, i) = i == s.NPDICT ? -1 : -(i + 1);
    slot_page(ctx, i) = 0;
  }
  for (int32_t p = 1; p <= s.NOFP; ++p) {
    down_link(ctx, p) = p == s.NOFP ? -1 : -(p + 1);
    up_link(ctx, p) = p - 1;
    page_unit(ctx, p) = 0;
    page_block(ctx, p) = 0;
  }
}

void push_page_to_head(Context& ctx, int32_t p) {
  auto& s = ctx.sysfil;
  down_link(ctx, p) = s.FREE;
  if (s.FREE > 0) up_link(ctx, s.FREE) = p;
  up_link(ctx, p) = 0;
  s.FREE = p;
  if (s.LSTUSD == 0) s.LSTUSD = p;
}

void PAGFET(Context& ctx, int32_t DBNUM, int32_t BLOCK, int32_t& ADDR) {
  auto& s = ctx.sysfil;
  const int32_t u = std::abs(DBNUM), b = std::abs(BLOCK);
  if (s.FREE < 1) dbio::DIOMSG(ctx, 8, "PAGFET  ");

  // Choose the page.
  int32_t p = 0;
  bool found = false, never_used = false;
  if (DBNUM < 0 && s.LSTUSD != 0) {
    int32_t next = down_link(ctx, s.LSTUSD);
    if (next > 0) {
      p = next;
      never_used = true;
    } else {
      p = s.LSTUSD;
    }
  } else {
    p = s.FREE;
    for (int32_t steps = 0;; ++steps) {
      int32_t down = down_link(ctx, p);
      if (down < 0) {
        never_used = true;
        break;
      }
      if (DBNUM > 0 && page_block(ctx, p) == b && std::abs(page_unit(ctx, p)) == u) {
        found = true;
        break;
      }
      if (down == 0 || steps > s.NOFP) break;  // the last page: reuse it
      p = down;
    }
  }

  if (!found) {
    if (never_used) {
      int32_t down = down_link(ctx, p);
      down_link(ctx, p) = down == -1 ? 0 : -down;
      s.LSTUSD = p;
    } else {
      write_back(ctx, p);
    }
    page_unit(ctx, p) = u;
    page_block(ctx, p) = b;
    if (DBNUM > 0) {
      if (ctx.grdblk.DBFLTY[u] != kNativeLayout) KOVGDM(ctx, u);
      BLKRD(ctx, u, b, page_buffer(ctx, p), ctx.grdblk.BUFSZ[u], s.BASEXB);
    }
  }
  move_to_head(ctx, p);
  ADDR = page_buffer(ctx, s.FREE);
}

void PAGMOD(Context& ctx, int32_t DBNUM, int32_t BLOCK) {
  auto& s = ctx.sysfil;
  const int32_t u = std::abs(DBNUM), b = std::abs(BLOCK);
  auto holds = [&](int32_t p) { return page_block(ctx, p) == b && std::abs(page_unit(ctx, p)) == u; };
  auto mark = [&](int32_t p) { page_unit(ctx, p) = -u; };

  for (int32_t p = s.LOCKED, steps = 0; p > 0 && steps <= s.NOFP; p = down_link(ctx, p), ++steps) {
    if (holds(p)) return mark(p);
  }
  for (int32_t i = s.DLSTR, steps = 0; i > 0 && steps <= s.NPDICT; ++steps) {
    int32_t page = slot_page(ctx, i);
    if (page > 0 && holds(page)) return mark(page);
    int32_t link = slot_link(ctx, i);
    if (link < 1) break;
    i = link;
  }
  for (int32_t p = s.FREE, steps = 0; p > 0 && steps <= s.NOFP; ++steps) {
    if (down_link(ctx, p) < 0) break;  // never used: no block
    if (holds(p)) return mark(p);
    if (down_link(ctx, p) < 1) break;
    p = down_link(ctx, p);
  }
}

void KOVGDM(Context& ctx, int32_t DBNUM) {
  auto& s = ctx.sysfil;
  auto& g = ctx.grdblk;
  const int32_t u = DBNUM;
  if (u < 1 || u > kUnits || g.DBOPND[u] == kUnitClosed) return;
  if (s.BASEDD < 1) return;  // no pool configured
  if (ctx.W(s.BASEDD) == g.DDLVER[u] &&
      int64_t{ctx.W(s.BASEDD + 1)} * kDdlObjectScale + ctx.W(s.BASEDD + 2) == g.DDLSIZ[u]) {
    return;
  }
  if (g.DDLVER[u] == 0) {
    if (g.DBFLTY[u] == kNativeLayout) return;
    dbio::DIOMSG(ctx, 17, "KOVGDM  ", u, g.DBFLTY[u]);
  }
  if (g.DDLBLK[u] <= 0) dbio::DIOMSG(ctx, 18, "KOVGDM  ", u, g.DDLVER[u]);

  // Copy the DDL group's data words into the DDL area, which ends where the object index
  // begins. A damaged group (a count beyond its block, a chain that does not end) can fill the
  // area but never run past it.
  const int32_t bufsz = g.BUFSZ[u];
  const int64_t area_end = s.BASRML;  // first word behind the DDL area
  int64_t target = s.BASEDD;
  int32_t block = g.DDLBLK[u];
  for (int32_t blocks = 0; block > 0 && blocks < g.USDBKS[u]; ++blocks) {
    BLKRD(ctx, u, -block, s.BASEXB, bufsz, s.BASEXB);
    int32_t* b = ctx.words(s.BASEXB, bufsz);
    if (g.DBFLTY[u] != kNativeLayout) CNVINT(ctx, 1, g.DBFLTY[u], bufsz, s.BASEXB, s.BASEXB);
    int32_t first = b[2] == 0 ? kFirstDdlBlockDataWord : kDdlBlockDataWord;
    int64_t count = b[2] == 0 ? int64_t{b[3]} - 12 : b[3];
    if (count < 0) count = 0;
    if (count > bufsz - first + 1) count = bufsz - first + 1;
    if (count > area_end - target) count = area_end - target;
    std::memmove(ctx.words(target, count), b + first - 1, count * sizeof(int32_t));
    target += count;
    block = b[1];
  }
  int32_t size = ctx.W(s.BASEDD + 2);
  ctx.W(s.BASEDD + 1) = size / kDdlObjectScale;
  ctx.W(s.BASEDD + 2) = size % kDdlObjectScale;

  if (g.DBDLEN[u] > 12) {
    const int32_t objects = ctx.W(s.BASEDD + 1);
    const int32_t room = s.DDLCFG / kDdlObjectScale;
    int64_t e = int64_t{s.BASEDD} + 3;
    for (int32_t i = 0; i < objects && e + kDdlRecordWords <= area_end; ++i, e += kDdlRecordWords) {
      int32_t k = ctx.W(e + 4);
      if (k >= 1 && k <= room) ctx.W(int64_t{s.BASRML} + k - 1) = static_cast<int32_t>(e);
    }
  }
  // The first free word lies behind everything copied. (Placed behind the directory records,
  // as the object index might suggest, its zero would fall on the second word of the element
  // lists and end the first object's list there.)
  s.BASELP = static_cast<int32_t>(target + 1);
  if (s.BASELP < area_end) ctx.W(s.BASELP) = 0;
}

namespace {

// Frees the pages of one unit while other units keep theirs: locked and cached pages of the other
// units stay where they are; the page chain is rebuilt from the other units' remaining pages (in
// page order), followed by every page without a block as never-used pages.
void free_unit_pages(Context& ctx, int32_t unit) {
  auto& s = ctx.sysfil;
  std::vector<char> held(static_cast<std::size_t>(s.NOFP) + 1, 0);  // locked or cached: stays
  for (int32_t p = s.LOCKED, steps = 0; p > 0 && steps <= s.NOFP; p = down_link(ctx, p), ++steps) held[p] = 1;

  // Dictionary cache: slots of this unit are emptied; the others move to the front in list order.
  std::vector<int32_t> kept;
  for (int32_t i = s.DLSTR, steps = 0; i > 0 && steps <= s.NPDICT; ++steps) {
    int32_t page = slot_page(ctx, i);
    if (page > 0 && std::abs(page_unit(ctx, page)) != unit) kept.push_back(page);
    int32_t link = slot_link(ctx, i);
    if (link < 1) break;
    i = link;
  }
  const int32_t used = static_cast<int32_t>(kept.size());
  for (int32_t i = 1; i <= s.NPDICT; ++i) {
    if (i <= used) {
      slot_page(ctx, i) = kept[i - 1];
      held[kept[i - 1]] = 1;
      slot_link(ctx, i) = i < used ? i + 1 : (used == s.NPDICT ? 0 : i + 1);
    } else {
      slot_page(ctx, i) = 0;
      slot_link(ctx, i) = i == s.NPDICT ? -1 : -(i + 1);
    }
  }
  s.DLSTR = 1;

  for (int32_t p = 1; p <= s.NOFP; ++p) {
    if (std::abs(page_unit(ctx, p)) == unit) {
      page_unit(ctx, p) = 0;
      page_block(ctx, p) = 0;
    }
  }
  std::vector<int32_t> chain, blockless;
  for (int32_t p = 1; p <= s.NOFP; ++p) {
    if (held[p]) continue;
    (page_unit(ctx, p) != 0 ? chain : blockless).push_back(p);
  }
  // Page 1 is kept in use when possible: the chain's first page moves into it.
  if (!chain.empty() && page_unit(ctx, 1) == 0 && !held[1]) {
    int32_t from = chain.front();
    std::memcpy(ctx.words(page_buffer(ctx, 1), s.PAGSIZ), ctx.words(page_buffer(ctx, from), s.PAGSIZ),
                static_cast<std::size_t>(s.PAGSIZ) * 4);
    page_unit(ctx, 1) = page_unit(ctx, from);
    page_block(ctx, 1) = page_block(ctx, from);
    page_unit(ctx, from) = 0;
    page_block(ctx, from) = 0;
    chain.front() = 1;
    std::erase(blockless, 1);
    blockless.push_back(from);
    std::sort(blockless.begin(), blockless.end());
  }
  int32_t previous = 0;
  for (int32_t p : chain) {
    if (previous) down_link(ctx, previous) = p;
    up_link(ctx, p) = previous;
    previous = p;
  }
  s.LSTUSD = previous;
  for (std::size_t i = 0; i < blockless.size(); ++i) {
    int32_t p = blockless[i];
    if (previous) down_link(ctx, previous) = previous == s.LSTUSD ? p : -p;
    up_link(ctx, p) = previous;
    previous = p;
  }
  if (previous) down_link(ctx, previous) = previous == s.LSTUSD ? 0 : -1;
  s.FREE = !chain.empty() ? chain.front() : (!blockless.empty() ? blockless.front() : 0);
}

}  // namespace

void forget_unit_pages(Context& ctx, int32_t unit) {
  auto& s = ctx.sysfil;
  if (s.NOFP < 1) return;
  int32_t mine = 0, others = 0;
  for (int32_t p = 1; p <= s.NOFP; ++p) {
    int32_t u = std::abs(page_unit(ctx, p));
    if (u == unit) ++mine;
    else if (u != 0) ++others;
  }
  if (mine == 0) return;
  if (others == 0) {
    reset_chains(ctx);
  } else {
    free_unit_pages(ctx, unit);
  }
}

void cache_head_page(Context& ctx, int32_t i) {
  auto& s = ctx.sysfil;
  const int32_t fresh = s.FREE;
  const int32_t old = slot_page(ctx, i);
  slot_page(ctx, i) = fresh;
  const int32_t next = down_link(ctx, fresh);
  if (old == 0) {
    // The page leaves the page chain; the next page heads it.
    s.FREE = next > 0 ? next : 0;
    if (next > 0) up_link(ctx, next) = 0;
    if (s.LSTUSD == fresh) s.LSTUSD = 0;
  } else {
    // The slot's former page takes the fetched page's place at the head of the page chain.
    down_link(ctx, old) = next;
    if (next > 0) up_link(ctx, next) = old;
    up_link(ctx, old) = 0;
    s.FREE = old;
    if (s.LSTUSD == fresh) s.LSTUSD = old;
  }
}

}  // namespace dbio
