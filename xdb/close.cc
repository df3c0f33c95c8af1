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
#include "dbio/messages.h"
#include "dbio/open_states.h"
#include "dbio/header_block.h"
#include "dbio/layouts.h"
#include "dbio/logical_file.h"

namespace xdb {

using dbio::page_block;
using dbio::page_buffer;
using dbio::page_unit;

namespace {

constexpr int32_t kHeaderWords = dbio::header_block::kHeaderWords;


}  // namespace

void PAGFLS(dbio::Context& ctx) {
  auto& s = ctx.sysfil;
  auto& g = ctx.grdblk;
  for (int32_t p = 1; p <= s.NOFP; ++p) {
    if (page_unit(ctx, p) >= 0) continue;
    const int32_t u = -page_unit(ctx, p);
    if (g.DBFLTY[u] != dbio::kNativeLayout) dbio::KOVGDM(ctx, u);
    for (int32_t q = p; q <= s.NOFP; ++q) {
      if (page_unit(ctx, q) != -u) continue;
      page_unit(ctx, q) = u;  // cleared first: a failed write is not attempted again
      dbio::BLKWRT(ctx, u, page_block(ctx, q), page_buffer(ctx, q), g.BUFSZ[u], s.BASEXB);
    }
  }
  for (int32_t u = 1; u <= dbio::kUnits; ++u) {
    if (g.DBOPND[u] != dbio::kUnitNewFile && g.DBOPND[u] != dbio::kUnitForUpdate) continue;
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
    dbio::write_out_unit(ctx, u);
  }
}

void PAGDBF(dbio::Context& ctx, int32_t DBNUM) {
  auto& f = ctx.grfist;
  bool closed_any = false;
  for (int32_t k = 1; k <= f.count && k <= dbio::kLogicalFiles; ++k) {
    if (f.record[k][dbio::logical_file::kSequence] == 0 || f.record[k][dbio::logical_file::kUnit] != DBNUM) continue;
    DIOMSG(ctx, 15, "PAGDBF  ", f.name[k].data() + 1, nullptr);
    // The flush before this wrote every page and cleared its modified mark, so the record's
    // marks no longer hold: the close must mark again every block it changes, or those changes
    // never reach the file.
    f.record[k][dbio::logical_file::kFlags] = 0;
    int32_t lfn = k;
    CLOSGR(ctx, lfn);
    closed_any = true;
  }
  if (closed_any) PAGFLS(ctx);
  dbio::forget_unit_pages(ctx, DBNUM);
}

void release_after_stop(dbio::Context& ctx, int32_t DBNUM) {
  auto& g = ctx.grdblk;
  if (DBNUM < 1 || DBNUM > dbio::kUnits || g.DBOPND[DBNUM] == dbio::kUnitClosed) return;
  int32_t recl = g.BUFSZ[DBNUM], iret = 0;
  dbio::BIOXXX(ctx, bio::CLOSE, g.DBHNDL[DBNUM], nullptr, 0, nullptr, 0, &recl, iret);
  g.DBOPND[DBNUM] = dbio::kUnitClosed;
}

void DBCLOS(dbio::Context& ctx, int32_t DBNUM, int32_t /*STATUS*/, int32_t& IERR) {
  auto& g = ctx.grdblk;
  if (DBNUM < 1 || DBNUM > dbio::kUnits) return void(IERR = kCloseUnitOutOfRange);
  if (g.DBOPND[DBNUM] == dbio::kUnitClosed) return void(IERR = kCloseUnitNotOpen);
  PAGFLS(ctx);
  PAGDBF(ctx, DBNUM);
  char routine[] = "DBCLOS";
  std::array<int32_t, 2> caller{};
  std::memcpy(caller.data(), "DBC     ", 8);
  int32_t recl = g.BUFSZ[DBNUM], iret = 0;
  dbio::BIOXXX(ctx, bio::CLOSE, g.DBHNDL[DBNUM], routine, 6, caller.data(), 2, &recl, iret);
  if (iret != 0) {
    bool fatal = false;
    dbio::BIOMSG(ctx, DBNUM, iret, bio::CLOSE, 0, "DBCLOS", fatal);
    if (fatal) return void(IERR = kCloseFailed);
  }
  g.DBOPND[DBNUM] = dbio::kUnitClosed;
  g.DDLVER[DBNUM] = 0;
  ctx.DBFRST = ctx.DBLAST = 0;
  for (int u = 1; u <= dbio::kUnits; ++u) {
    if (g.DBOPND[u] == dbio::kUnitClosed) continue;
    if (ctx.DBFRST == 0) ctx.DBFRST = u;
    ctx.DBLAST = u;
  }
  if (ctx.DBFRST == 0) ctx.DBFRST = ctx.DBLAST = 1;
  IERR = 0;
}

}  // namespace xdb
