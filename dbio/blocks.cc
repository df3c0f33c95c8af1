#include "dbio/blocks.h"

#include <cstdlib>
#include <ostream>

#include "bio/requests.h"
#include "dbio/bridge.h"
#include "dbio/block_walk.h"
#include "dbio/words.h"
#include "dbio/pool.h"
#include "dbio/datamgr.h"
#include "platform/format.h"
#include "platform/stop.h"
#include "dbio/messages.h"
#include "dbio/open_states.h"
#include "dbio/layouts.h"
#include "dbio/block_kinds.h"

namespace dbio {

namespace {

using platform::iw;

// A released root or level-2 block lists the blocks below it: the block numbers of its pairs.
constexpr int32_t kRootCountWord = root_block::kPairCountWord, kRootListWord = root_block::kFirstPairWord + 1;
constexpr int32_t kLevel2CountWord = level2_block::kPairCountWord, kLevel2ListWord = level2_block::kFirstPairWord + 1;
constexpr int32_t kBlockIoFailed = 999;

int32_t type_of(int32_t code) { return code > 100 ? code % 100 : code; }

// The unit checks shared by BLKGET and BLKRET: range, open, open for writing.
void check_unit(Context& ctx, int32_t u, int32_t block, const char* routine) {
  if (u < 1 || u > kUnits) dbio::DIOMSG(ctx, 1, routine, u);
  if (ctx.grdblk.DBOPND[u] == kUnitClosed) dbio::DIOMSG(ctx, 2, routine, u);
  if (ctx.grdblk.DBOPND[u] == kUnitReadOnly) dbio::DIOMSG(ctx, 3, routine, block, u);
}

// Takes the last entry of a released block's list; false when the list is empty or its count
// does not fit the block (a damaged count hands out the block itself instead).
bool take_listed(Context& ctx, int32_t u, int32_t head, int32_t addr, int32_t count_word, int32_t list_word,
                 int32_t& listed) {
  int32_t c = ctx.W(int64_t{addr} + count_word - 1);
  if (c <= 0 || int64_t{list_word} + 2 * (int64_t{c} - 1) > ctx.grdblk.BUFSZ[u]) return false;
  ctx.W(int64_t{addr} + count_word - 1) = c - 1;
  listed = ctx.W(int64_t{addr} + list_word - 1 + 2 * (int64_t{c} - 1));
  PAGMOD(ctx, u, head);
  return true;
}

[[noreturn]] void stop_with_fatal_line(Context& ctx) {
  ctx.out().flush();
  *ctx.units.output << " FATAL ERROR DETECTED\n";
  ctx.units.output->flush();
  platform::stop_run();
}

}  // namespace

void BLKGET(Context& ctx, int32_t DBNUM, int32_t& BLOCK, int32_t& ADDR) {
  auto& g = ctx.grdblk;
  const int32_t u = DBNUM;
  check_unit(ctx, u, BLOCK, "BLKGET  ");
  if (g.DEDBKS[u] == 0) {
    if (g.USDBKS[u] >= g.MAXBKS[u]) dbio::DIOMSG(ctx, 4, "BLKGET  ", u);
    g.FREBKS[u] -= 1;
    g.USDBKS[u] += 1;
    BLOCK = g.USDBKS[u];
    PAGFET(ctx, -u, BLOCK, ADDR);
  } else {
    int32_t head = g.DEDBKS[u], addr = 0;
    PAGFET(ctx, u, head, addr);
    int32_t type = type_of(ctx.W(addr));
    if (type == kPrimaryIndexKind) dbio::DIOMSG(ctx, 9, "BLKGET  ", u);
    int32_t listed = 0;
    if (type == kRootKind && take_listed(ctx, u, head, addr, kRootCountWord, kRootListWord, listed)) {
      // A level-2 block of the released root becomes the head of the chain, behind it the root.
      int32_t root = head;
      head = listed;
      PAGFET(ctx, u, head, addr);
      if (ctx.W(int64_t{addr} + 1) != root) ctx.W(int64_t{addr} + 1) = root;
      g.DEDBKS[u] = head;
      type = kLevel2Kind;
    }
    if (type == kLevel2Kind && take_listed(ctx, u, head, addr, kLevel2CountWord, kLevel2ListWord, listed)) {
      BLOCK = listed;
    } else {
      BLOCK = head;
      g.DEDBKS[u] = ctx.W(int64_t{addr} + chain_word(ctx.W(addr)) - 1);
    }
    PAGFET(ctx, u, BLOCK, ADDR);
  }
  if (ctx.DBGFLG[kTraceBlocks]) {
    ctx.out() << " ACCESS BLKGET CALLED DBNUM, BLOCK NUMBER RETURNED =" << iw(u, 5) << iw(BLOCK, 12) << '\n';
  }
}

void BLKRET(Context& ctx, int32_t DBNUM, int32_t FIRST, int32_t LAST) {
  auto& s = ctx.sysfil;
  auto& g = ctx.grdblk;
  const int32_t u = DBNUM, f = std::abs(FIRST), l = std::abs(LAST);
  check_unit(ctx, u, FIRST, "BLKRET  ");
  if (ctx.DBGFLG[kTraceBlocks]) {
    ctx.out() << " ACCESS BLKRET FOR DATABASE " << iw(u, 3) << " RANGE " << iw(f, 10) << iw(l, 10) << '\n';
  }
  bool cached = false;
  for (int32_t i = 1; i <= s.NPDICT; ++i) {
    int32_t page = slot_page(ctx, i);
    if (page > 0 && page_block(ctx, page) == f && std::abs(page_unit(ctx, page)) == u) {
      slot_page(ctx, i) = 0;
      push_page_to_head(ctx, page);
      cached = true;
      break;
    }
  }
  if (!cached && s.LOCKED != 0) dbio::DATREL(ctx, u, f);
  int32_t target = f;
  if (LAST > 0) {
    if (s.LOCKED != 0) dbio::DATREL(ctx, u, l);
    target = l;
  }
  int32_t addr = 0;
  PAGFET(ctx, u, target, addr);
  PAGMOD(ctx, u, target);
  ctx.W(int64_t{addr} + chain_word(ctx.W(addr)) - 1) = g.DEDBKS[u];
  g.DEDBKS[u] = f;
}

void BLKRD(Context& ctx, int32_t DBNUM, int32_t BLOCK, int64_t BUFFER, int32_t LENGTH, int64_t EXCH) {
  auto& g = ctx.grdblk;
  const int32_t u = DBNUM, b = std::abs(BLOCK);
  const bool native = g.DBFLTY[u] == kNativeLayout;
  const int32_t count = native ? LENGTH : LENGTH * file_words_per_word(g.DBFLTY[u]);
  if (ctx.DBGFLG[kTraceBlocks]) {
    ctx.out() << " ACCESS BLKRD REQUEST FOR BLOCK NUMBER " << iw(b, 10) << " FROM DATABASE " << iw(g.GRFNUM[u], 3)
              << '\n';
  }
  int32_t* into = ctx.words(native ? BUFFER : EXCH, count);
  int32_t control = g.DBHNDL[u], block = b, iret = 0;
  BIOXXX(ctx, bio::READ, control, nullptr, 0, into, count, &block, iret);
  if (iret != 0) {
    // The read may have failed on writing out another block to make room: that is the failure.
    const int64_t written = bio::failed_write_out(ctx.block_io, control);
    bool fatal = false;
    if (written > 0) {
      BIOMSG(ctx, u, iret, bio::WRITE, static_cast<int32_t>(written), "BLKRD", fatal);
    } else {
      BIOMSG(ctx, u, iret, bio::READ, b, "BLKRD", fatal);
    }
    if (fatal) dbio::DIOMSG(ctx, kBlockIoFailed, "BLKRD");
  }
  if (!native && BLOCK > 0) BLKFIX(ctx, kRead, u, b, EXCH, BUFFER, LENGTH);
}

void BLKWRT(Context& ctx, int32_t DBNUM, int32_t BLOCK, int64_t BUFFER, int32_t LENGTH, int64_t EXCH) {
  auto& g = ctx.grdblk;
  const int32_t u = DBNUM, b = std::abs(BLOCK);
  if (u < 1 || u > kUnits) {
    ctx.out() << " ILLEGAL ACCESS DATA BASE NUMBER " << iw(u, 12) << " PASSED TO BLKWRT.\n";
    stop_with_fatal_line(ctx);
  }
  if (g.DBOPND[u] == kUnitReadOnly) {
    ctx.out() << " WRITE REQUEST TO ACCESS DATA BASE NUMBER" << iw(u, 12)
              << " WHICH WAS NOT OPENED WITH WRITE PERMISSION.\n";
    stop_with_fatal_line(ctx);
  }
  const int32_t* words = ctx.words(BUFFER, LENGTH);
  if (ctx.DBGFLG[kTraceBlocks]) {
    ctx.out() << " ACCESS BLKWRT REQUEST FOR BLOCK NUMBER" << iw(b, 12) << " TO DATA BASE" << iw(u, 4) << "  <";
    for (int k = 0; k < 4 && k < LENGTH; ++k) ctx.out() << iw(words[k], 11);
    ctx.out() << ">\n";
  }
  const bool native = g.DBFLTY[u] == kNativeLayout;
  int32_t count = LENGTH;
  int64_t from = BUFFER;
  if (!native) {
    BLKFIX(ctx, kWrite, u, b, BUFFER, EXCH, LENGTH);
    count = LENGTH * file_words_per_word(g.DBFLTY[u]);
    from = EXCH;
  }
  int32_t control = g.DBHNDL[u], block = b, iret = 0;
  BIOXXX(ctx, bio::WRITE, control, nullptr, 0, ctx.words(from, count), count, &block, iret);
  if (iret != 0) {
    const int64_t written = bio::failed_write_out(ctx.block_io, control);
    bool fatal = false;
    BIOMSG(ctx, u, iret, bio::WRITE, written > 0 ? static_cast<int32_t>(written) : b, "BLKWRT", fatal);
    if (fatal) dbio::DIOMSG(ctx, kBlockIoFailed, "BLKWRT");
  }
}

void write_out_unit(Context& ctx, int32_t DBNUM) {
  const int32_t u = DBNUM;
  int64_t failed_block = 0;
  const int32_t iret = bio::write_out(ctx.block_io, ctx.grdblk.DBHNDL[u], failed_block);
  if (iret != 0) {
    bool fatal = false;
    BIOMSG(ctx, u, iret, bio::WRITE, static_cast<int32_t>(failed_block), "BLKWRT", fatal);
    if (fatal) dbio::DIOMSG(ctx, kBlockIoFailed, "BLKWRT");
  }
}

}  // namespace dbio
