#include "dict/dictionary.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "dbio/pool.h"
#include "dbio/messages.h"
#include "dbio/open_states.h"

namespace dict {

using dbio::page_block;
using dbio::page_buffer;
using dbio::page_unit;

namespace {

constexpr int32_t kNameBytes = 8;
constexpr int32_t kKeyWords = dbio::kKeyWords;

// Searches KEY in the ordered list of COUNT records that starts at pool index `list` and returns
// the block number carried by the record that covers it: the matching record, or the last record
// with a lower key. 0 when the key is lower than every record.
int32_t covering_child(dbio::Context& ctx, int64_t list, int32_t count, const int32_t* KEY) {
  int32_t pos = 0, notfnd = 0;
  DICSRC(KEY, ctx.words(list, int64_t{count} * kIndexEntryWords), kIndexEntryWords, kKeyWords, count, pos, notfnd);
  if (notfnd && pos == 1) return 0;
  const int32_t at = notfnd ? pos - kIndexEntryWords : pos;
  return ctx.W(list + at - 1 + kKeyWords);
}

// A block number that an index entry may name: one of the unit's blocks.
bool plausible_block(const dbio::Context& ctx, int32_t u, int32_t block) {
  return block >= 1 && block <= ctx.grdblk.USDBKS[u];
}

}  // namespace

int DICCMP(const int32_t* KEY1, const int32_t* KEY2) {
  // memcmp compares bytes as unsigned char, which is the name order.
  const int names = std::memcmp(KEY1, KEY2, kNameBytes);
  if (names != 0) return names < 0 ? -1 : 1;
  for (int k = 2; k < kKeyWords; ++k) {
    if (KEY1[k] != KEY2[k]) return KEY1[k] < KEY2[k] ? -1 : 1;
  }
  return 0;
}

void DICSRC(const int32_t* KEY, const int32_t* LIST, int32_t STRIDE, int32_t /*KEYLEN*/, int32_t COUNT, int32_t& POS,
            int32_t& NOTFND) {
  int32_t low = 1, high = COUNT;
  while (low <= high) {
    const int32_t mid = (low + high) / 2;
    const int32_t at = (mid - 1) * STRIDE + 1;
    const int c = DICCMP(KEY, LIST + at - 1);
    if (c == 0) {
      POS = at;
      NOTFND = 0;
      return;
    }
    if (c < 0) {
      high = mid - 1;
    } else {
      low = mid + 1;
    }
  }
  POS = (low - 1) * STRIDE + 1;
  NOTFND = 1;
}

void INTSRC(int32_t KEY, const int32_t* LIST, int32_t STRIDE, int32_t COUNT, int32_t& POS, int32_t& NOTFND) {
  POS = 1;
  NOTFND = 1;
  if (COUNT < 1 || KEY < LIST[0]) return;
  int32_t low = 1, high = COUNT;
  while (low <= high) {
    const int32_t mid = (low + high) / 2;
    const int32_t at = (mid - 1) * STRIDE + 1;
    const int32_t record = LIST[at - 1];
    if (KEY == record) {
      POS = at;
      NOTFND = 0;
      return;
    }
    if (KEY < record) {
      high = mid - 1;
    } else {
      low = mid + 1;
    }
  }
  POS = (low - 1) * STRIDE + 1;
}

void LSTINS(int32_t* LIST, int32_t COUNT, int32_t KEYLEN, int32_t STRIDE, int32_t POS, const int32_t* KEY,
            int32_t KEYLEN2, const int32_t* DATA, int32_t DATLEN, int32_t& DUP) {
  DUP = 0;
  const int32_t key_words = std::max(KEYLEN, KEYLEN2);
  int32_t* record = nullptr;
  if (POS < 1) {
    int32_t notfnd = 0;
    DICSRC(KEY, LIST, STRIDE, KEYLEN, COUNT, POS, notfnd);
    DUP = notfnd ? 0 : 1;
  }
  record = LIST + POS - 1;
  if (DUP == 0) {
    // Open a gap of one record at POS: the records from there to the end move up by STRIDE.
    const int64_t tail = int64_t{COUNT} * STRIDE - (POS - 1);
    if (tail > 0) std::memmove(record + STRIDE, record, static_cast<std::size_t>(tail) * sizeof(int32_t));
  }
  std::memcpy(record, KEY, static_cast<std::size_t>(key_words) * sizeof(int32_t));
  if (DATLEN > 0 && STRIDE > key_words) {
    std::memcpy(record + key_words, DATA, static_cast<std::size_t>(STRIDE - key_words) * sizeof(int32_t));
  }
}

void DICBLK(dbio::Context& ctx, int32_t DBNUM, int32_t BLOCK, int32_t& ADDR) {
  auto& s = ctx.sysfil;
  const int32_t u = std::abs(DBNUM), b = std::abs(BLOCK);
  auto link = [&](int32_t i) -> int32_t& { return dbio::slot_link(ctx, i); };
  auto page = [&](int32_t i) -> int32_t& { return dbio::slot_page(ctx, i); };

  // Walk the slot list, most recently used first, looking for the block and for the slot to use
  // if it is not cached: an empty slot passed on the way, else the first never-used slot, else
  // the last (least recently used) slot.
  int32_t slot = 0, before = 0, empty = 0, empty_before = 0;
  bool found = false;
  for (int32_t i = s.DLSTR, previous = 0, steps = 0; i >= 1 && i <= s.NPDICT && steps < s.NPDICT; ++steps) {
    slot = i;
    before = previous;
    int32_t& l = link(i);
    if (l < 0) {
      l = l == -1 ? 0 : -l;  // the never-used slot joins the slots in use
      break;
    }
    const int32_t p = page(i);
    if (p == 0) {
      empty = i;
      empty_before = previous;
    } else if (page_block(ctx, p) == b && std::abs(page_unit(ctx, p)) == u) {
      found = true;
      break;
    }
    if (l == 0) break;
    previous = i;
    i = l;
  }

  if (slot == 0) slot = 1;  // a slot list head outside the slots: start over from slot 1

  if (!found) {
    int32_t addr = 0;
    dbio::PAGFET(ctx, u, b, addr);  // leaves the page at the head of the page chain
    if (empty != 0) {
      slot = empty;
      before = empty_before;
    }
    dbio::cache_head_page(ctx, slot);
  }

  // The slot becomes the most recently used one.
  if (slot != s.DLSTR && before != 0) {
    link(before) = link(slot);
    link(slot) = s.DLSTR;
    s.DLSTR = slot;
  }
  ADDR = page_buffer(ctx, page(slot));
}

int64_t dictionary_lookup(dbio::Context& ctx, int32_t DBNUM, const int32_t* KEY) {
  auto& g = ctx.grdblk;
  auto& s = ctx.sysfil;
  const int32_t u = DBNUM;
  if (g.NUMDB[u] < 1) return 0;
  const int32_t bufsz = g.BUFSZ[u], dl = g.DBDLEN[u] + kKeyWords;

  // Counts read from blocks are bounded by the block's capacity, so that a damaged count can
  // never make a search run past its block.
  int32_t addr = 0;
  DICBLK(ctx, u, g.DICTPI[u], addr);
  const int32_t pi_count = std::clamp(g.DICNSI[u], 0, primary_capacity(bufsz));
  const int32_t si = covering_child(ctx, int64_t{addr} + kPrimaryFirstWord - 1, pi_count, KEY);
  if (!plausible_block(ctx, u, si)) return 0;

  DICBLK(ctx, u, si, addr);
  const int32_t si_count = std::clamp(ctx.W(int64_t{addr} + kSecondaryCountWord - 1), 0, secondary_capacity(bufsz));
  const int32_t data = covering_child(ctx, int64_t{addr} + kSecondaryFirstWord - 1, si_count, KEY);
  if (!plausible_block(ctx, u, data)) return 0;

  DICBLK(ctx, u, data, addr);
  const int32_t count = std::clamp(ctx.W(int64_t{addr} + kDataCountWord - 1), 0, data_capacity(bufsz, dl));
  const int64_t list = int64_t{addr} + kDataFirstWord - 1;
  int32_t pos = 0, notfnd = 0;
  DICSRC(KEY, ctx.words(list, int64_t{count} * dl), dl, kKeyWords, count, pos, notfnd);
  if (notfnd) return 0;
  s.DICDBB = data;
  s.DICDBO = pos + kDataCountWord - 1;
  return list + pos - 1;
}

void DICRDR(dbio::Context& ctx, int32_t DBNUM, const int32_t* KEY, int32_t* ENTRY, int32_t& IERR) {
  if (DBNUM < 1 || DBNUM > dbio::kUnits) dbio::DIOMSG(ctx, 1, "DICRDR  ", DBNUM);
  if (ctx.grdblk.DBOPND[DBNUM] == dbio::kUnitClosed) dbio::DIOMSG(ctx, 2, "DICRDR  ", DBNUM);
  const int64_t entry = dictionary_lookup(ctx, DBNUM, KEY);
  if (entry == 0) {
    IERR = 1;
    return;
  }
  const int32_t n = ctx.grdblk.DBDLEN[DBNUM];
  std::memcpy(ENTRY, ctx.words(entry + kKeyWords, n), static_cast<std::size_t>(n) * sizeof(int32_t));
  IERR = 0;
}

void DICUPD(dbio::Context& ctx, int32_t DBNUM, const int32_t* KEY, const int32_t* ENTRY, int32_t& IERR) {
  auto& g = ctx.grdblk;
  auto& s = ctx.sysfil;
  IERR = 1;
  // A unit that is not open has no dictionary to rewrite.
  if (DBNUM < 1 || DBNUM > dbio::kUnits || g.DBOPND[DBNUM] == dbio::kUnitClosed || g.NUMDB[DBNUM] < 1) return;
  const int32_t bufsz = g.BUFSZ[DBNUM], dbdlen = g.DBDLEN[DBNUM], dl = dbdlen + kKeyWords;

  // The remembered entry is rewritten without a search when it still carries ENTRY's sequence
  // number. The remembered position is not tied to a unit, so it is used only where it names an
  // entry boundary inside a dictionary data block of this unit.
  int64_t entry = 0;
  if (plausible_block(ctx, DBNUM, s.DICDBB)) {
    int32_t addr = 0;
    DICBLK(ctx, DBNUM, s.DICDBB, addr);
    const int32_t* block = ctx.words(addr, bufsz);
    const int32_t count = std::clamp(block[kDataCountWord - 1], 0, data_capacity(bufsz, dl));
    const int32_t first = kDataFirstWord - 1;  // offset of the first entry
    const int32_t offset = s.DICDBO;
    if (block[0] == kDictionaryDataType && offset >= first && (offset - first) % dl == 0 &&
        offset <= first + (count - 1) * dl && block[offset + kKeyWords] == ENTRY[0]) {
      entry = int64_t{addr} + offset;
    }
  }
  if (entry == 0) entry = dictionary_lookup(ctx, DBNUM, KEY);
  if (entry == 0) return;
  std::memcpy(ctx.words(entry + kKeyWords, dbdlen), ENTRY, static_cast<std::size_t>(dbdlen) * sizeof(int32_t));
  dbio::PAGMOD(ctx, DBNUM, s.DICDBB);
  IERR = 0;
}

}  // namespace dict
