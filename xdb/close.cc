#include "xdb/close.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bio/requests.h"
#include "dbio/blocks.h"
#include "dbio/bridge.h"
#include "dbio/pool.h"
#include "xdb/datablocks.h"
#include "xdb/messages.h"

namespace xdb {

using dbio::down_link;
using dbio::page_block;
using dbio::page_buffer;
using dbio::page_unit;
using dbio::up_link;

namespace {

constexpr int32_t kNativeLayout = 1;
constexpr int32_t kHeaderWords = 18;

// Frees the pages of one unit while other units keep theirs: locked and cached pages of the other
// units stay where they are; the page chain is rebuilt from the other units' remaining pages (in
// page order), followed by every page without a block as never-used pages.
void free_unit_pages(dbio::Context& ctx, int32_t unit) {
  auto& s = ctx.sysfil;
  std::vector<char> held(static_cast<std::size_t>(s.NOFP) + 1, 0);  // locked or cached: stays
  for (int32_t p = s.LOCKED, steps = 0; p > 0 && steps <= s.NOFP; p = down_link(ctx, p), ++steps) held[p] = 1;

  // Dictionary cache: slots of this unit are emptied; the others move to the front in list order.
  std::vector<int32_t> kept;
  for (int32_t i = s.DLSTR, steps = 0; i > 0 && steps <= s.NPDICT; ++steps) {
    int32_t page = ctx.W(s.DBASEP + i);
    if (page > 0 && std::abs(page_unit(ctx, page)) != unit) kept.push_back(page);
    int32_t link = ctx.W(s.DBASEL + i);
    if (link < 1) break;
    i = link;
  }
  const int32_t used = static_cast<int32_t>(kept.size());
  for (int32_t i = 1; i <= s.NPDICT; ++i) {
    if (i <= used) {
      ctx.W(s.DBASEP + i) = kept[i - 1];
      held[kept[i - 1]] = 1;
      ctx.W(s.DBASEL + i) = i < used ? i + 1 : (used == s.NPDICT ? 0 : i + 1);
    } else {
      ctx.W(s.DBASEP + i) = 0;
      ctx.W(s.DBASEL + i) = i == s.NPDICT ? -1 : -(i + 1);
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

void PAGFLS(dbio::Context& ctx) {
  auto& s = ctx.sysfil;
  auto& g = ctx.grdblk;
  for (int32_t p = 1; p <= s.NOFP; ++p) {
    if (page_unit(ctx, p) >= 0) continue;
    const int32_t u = -page_unit(ctx, p);
    if (g.DBFLTY[u] != kNativeLayout) dbio::KOVGDM(ctx, u);
    for (int32_t q = p; q <= s.NOFP; ++q) {
      if (page_unit(ctx, q) != -u) continue;
      page_unit(ctx, q) = u;  // cleared first: a failed write is not attempted again
      dbio::BLKWRT(ctx, u, page_block(ctx, q), page_buffer(ctx, q), g.BUFSZ[u], s.BASEXB);
    }
  }
  for (int32_t u = 1; u <= dbio::kUnits; ++u) {
    if (g.DBOPND[u] != 2 && g.DBOPND[u] != 3) continue;
    int32_t addr = 0;
    dbio::PAGFET(ctx, u, 1, addr);
    const int32_t values[kHeaderWords] = {g.BUFSZ[u],  g.MAXBKS[u], g.FREBKS[u], g.USDBKS[u], g.DEDBKS[u],
                                          g.DICTPI[u], g.NUMDB[u],  g.INFINU[u], g.DICFDB[u], g.DICNDB[u],
                                          g.DICNSI[u], g.DICFSI[u], g.GRFNUM[u], g.DDLVER[u], g.DDLSIZ[u],
                                          g.DDLBLK[u], g.DBDLEN[u], g.SRBLK[u]};
    const int32_t words = std::max(g.BUFSZ[u], kHeaderWords);
    int32_t* header = ctx.words(addr, words);
    std::memcpy(header, values, sizeof values);
    std::fill(header + kHeaderWords, header + words, 0);
    dbio::BLKWRT(ctx, u, 1, addr, g.BUFSZ[u], s.BASEXB);
  }
}

void PAGDBF(dbio::Context& ctx, int32_t DBNUM) {
  auto& s = ctx.sysfil;
  auto& f = ctx.grfist;
  bool closed_any = false;
  for (int32_t k = 1; k <= f.count && k <= dbio::kLogicalFiles; ++k) {
    if (f.record[k][1] == 0 || f.record[k][26] != DBNUM) continue;
    DIOMSG(ctx, 15, "PAGDBF  ", f.name[k].data() + 1, nullptr);
    int32_t lfn = k;
    CLOSGR(ctx, lfn);
    closed_any = true;
  }
  if (closed_any) PAGFLS(ctx);
  if (s.NOFP < 1) return;
  int32_t mine = 0, others = 0;
  for (int32_t p = 1; p <= s.NOFP; ++p) {
    int32_t u = std::abs(page_unit(ctx, p));
    if (u == DBNUM) ++mine;
    else if (u != 0) ++others;
  }
  if (mine == 0) return;
  if (others == 0) {
    dbio::reset_chains(ctx);
  } else {
    free_unit_pages(ctx, DBNUM);
  }
}

void release_after_stop(dbio::Context& ctx, int32_t DBNUM) {
  auto& g = ctx.grdblk;
  if (DBNUM < 1 || DBNUM > dbio::kUnits || g.DBOPND[DBNUM] == 0) return;
  int32_t recl = g.BUFSZ[DBNUM], iret = 0;
  dbio::BIOXXX(bio::CLOSE, g.DBHNDL[DBNUM], nullptr, 0, nullptr, 0, &recl, iret);
  g.DBOPND[DBNUM] = 0;
}

void DBCLOS(dbio::Context& ctx, int32_t DBNUM, int32_t /*STATUS*/, int32_t& IERR) {
  auto& g = ctx.grdblk;
  if (DBNUM < 1 || DBNUM > dbio::kUnits) return void(IERR = kCloseUnitOutOfRange);
  if (g.DBOPND[DBNUM] == 0) return void(IERR = kCloseUnitNotOpen);
  PAGFLS(ctx);
  PAGDBF(ctx, DBNUM);
  char routine[] = "DBCLOS";
  std::array<int32_t, 2> caller{};
  std::memcpy(caller.data(), "DBC     ", 8);
  int32_t recl = g.BUFSZ[DBNUM], iret = 0;
  dbio::BIOXXX(bio::CLOSE, g.DBHNDL[DBNUM], routine, 6, caller.data(), 2, &recl, iret);
  if (iret != 0) {
    bool fatal = false;
    dbio::BIOMSG(ctx, DBNUM, iret, bio::CLOSE, 0, "DBCLOS", fatal);
    if (fatal) return void(IERR = kCloseFailed);
  }
  g.DBOPND[DBNUM] = 0;
  g.DDLVER[DBNUM] = 0;
  ctx.DBFRST = ctx.DBLAST = 0;
  for (int u = 1; u <= dbio::kUnits; ++u) {
    if (g.DBOPND[u] == 0) continue;
    if (ctx.DBFRST == 0) ctx.DBFRST = u;
    ctx.DBLAST = u;
  }
  if (ctx.DBFRST == 0) ctx.DBFRST = ctx.DBLAST = 1;
  IERR = 0;
}

}  // namespace xdb
