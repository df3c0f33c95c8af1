#include "xdb/datablocks.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dbio/blocks.h"
#include "dbio/pool.h"
#include "dbio/datamgr.h"
#include "dict/dictionary.h"
#include "dict/insert.h"
#include "dict/multikey.h"
#include "dict/descriptor.h"
#include "dict/relation.h"
#include "dbio/messages.h"
#include "dbio/open_states.h"
#include "dbio/block_kinds.h"
#include "dbio/logical_file.h"

namespace xdb {

namespace {

using Record = std::array<int32_t, dbio::kRecordWords + 1>;

using namespace dbio::logical_file;

// Groups and single records keep their current block in the root's lock slot.
constexpr int kAddr1 = kRootSlot.addr_word, kBlock1 = kRootSlot.block_word;
constexpr int32_t kFlagBlock1 = kRootSlot.flag;

// Group, shared and root blocks (dbio/block_kinds.h). A group block keeps at most BUFSZ - 5 words
// behind word 4.
constexpr int kGroupUsed = dbio::chain_block::kCountWord, kGroupKeyAt = dbio::chain_block::kFirstEntryWord,
              kGroupKeyWords = dbio::chain_block::kGroupKeyWords, kGroupSpare = dbio::chain_block::kGroupReserve;
constexpr int32_t kSharedType = dbio::kRecordKind, kSharedUsed = dbio::record_block::kUsedWord,
                  kSharedHeaderWords = dbio::record_block::kHeaderWords,
                  kRecordHeaderWords = dbio::record_block::kRecordHeaderWords;
constexpr int kRootKeyAt = dbio::root_block::kKeyWord, kRootDescriptorAt = dbio::root_block::kDescriptorWord;
constexpr int kNextWord = dbio::chain_block::kNextWord, kPreviousWord = dbio::chain_block::kPreviousWord;
// The root's copy of descriptor word k.
constexpr int root_copy(int32_t k) { return kRootDescriptorAt + k - 1; }

namespace desc = dict::descriptor;


int32_t first_free_record(const dbio::Grfist& f) {
  for (int32_t k = 1; k <= dbio::kLogicalFiles; ++k) {
    if (f.record[k][kSequence] == 0) return k;
  }
  return 0;
}

void recount(dbio::Grfist& f) {
  f.count = 1;
  for (int32_t k = dbio::kLogicalFiles; k >= 1; --k) {
    if (f.record[k][kSequence] != 0) {
      f.count = k;
      return;
    }
  }
}

void claim(dbio::Grfist& f, int32_t lfn) { f.count = std::max(f.count, lfn); }

void stamp(dbio::Context& ctx, Record& r) {
  r[kDate] = ctx.sysfil.IDATEV;
  r[kTime] = ctx.sysfil.ITIMEV;
}

void copy_key(dbio::Grfist& f, int32_t lfn, const int32_t* key) {
  std::copy_n(key, dbio::kKeyWords, f.name[lfn].begin() + 1);
}

// Block word k (from 1) of the block locked in the record's first slot.
int32_t& word1(dbio::Context& ctx, const Record& r, int k) { return ctx.W(int64_t{r[kAddr1]} + k - 1); }

// Locks `block` in the record's first slot, releasing what it held.
void lock_first_slot(dbio::Context& ctx, Record& r, int32_t block) {
  int32_t addr = r[kAddr1];
  dbio::DATMGR(ctx, r[kUnit], block, addr);
  r[kAddr1] = addr;
  r[kBlock1] = block;
  r[kFlags] &= ~kFlagBlock1;
}

void mark_first_slot(dbio::Context& ctx, Record& r) {
  if (r[kFlags] & kFlagBlock1) return;
  dbio::PAGMOD(ctx, r[kUnit], r[kBlock1]);
  r[kFlags] |= kFlagBlock1;
}

// A new block of the unit, cleared.
int32_t new_block(dbio::Context& ctx, int32_t unit, int32_t& addr) {
  int32_t block = 0;
  dbio::BLKGET(ctx, unit, block, addr);
  const int32_t bufsz = ctx.grdblk.BUFSZ[unit];
  std::fill_n(ctx.words(addr, bufsz), bufsz, 0);
  return block;
}

}  // namespace

void OPENGR(dbio::Context& ctx, int32_t DBNUM, const int32_t* KEY, int32_t MODE, int32_t& LFN, int32_t /*SPARE*/,
            int32_t& IERR) {
  auto& f = ctx.grfist;
  const int32_t lfn = first_free_record(f);
  if (lfn == 0) return void(IERR = 3);
  if (MODE < 0 || MODE > 2) return void(IERR = 5);
  int32_t ddl = 0;
  dict::DDLFND(ctx, ddl, KEY, DBNUM);

  std::array<int32_t, 15> d{};  // descriptor words 1..14 in d[1..14]
  int32_t state = kReading;
  if (MODE == 0) {
    int32_t ierr = 0;
    dict::DICRDR(ctx, DBNUM, KEY, d.data() + 1, ierr);
    if (ierr != 0) return void(IERR = 1);
    if (d[desc::kKind] != kGroup) return void(IERR = 4);
  } else {
    std::array<int32_t, 15> entry{};
    int32_t key[dbio::kKeyWords];
    std::copy_n(KEY, dbio::kKeyWords, key);
    int32_t ierr = 0;
    dict::DICINS(ctx, DBNUM, key, entry.data() + 1, ierr);
    if (ierr != 0) {
      dict::DICRDR(ctx, DBNUM, KEY, d.data() + 1, ierr);
      if (ierr != 0) return void(IERR = 2);
      if (d[desc::kKind] != kGroup) return void(IERR = 4);
      state = MODE == 1 ? kRewriting : kAppending;
    } else {
      int32_t addr = 0;
      const int32_t block = new_block(ctx, DBNUM, addr);
      ctx.W(addr) = ddl * dbio::kKindScale + dbio::kGroupKind;
      std::copy_n(KEY, dbio::kKeyWords, ctx.words(int64_t{addr} + kGroupKeyAt - 1, dbio::kKeyWords));
      ctx.W(int64_t{addr} + kGroupUsed - 1) = kGroupKeyWords;
      d[desc::kSequence] = ctx.grdblk.INFINU[DBNUM];
      d[desc::kKind] = kGroup;
      d[desc::kDataBlocks] = 1;
      d[desc::kFirstBlock] = d[desc::kLastBlock] = block;
      state = kAppending;
    }
  }

  Record& r = f.record[lfn];
  r.fill(0);
  for (int k : {1, 2, 3, 4, 5, 6, 8, 9, 10}) r[k] = d[k];
  r[kHighest] = d[desc::kHighest];
  r[kLastBlock] = d[desc::kLastBlock];
  r[kTookLast] = d[desc::kFirstBlock];
  r[kState] = state;
  r[kDdlObject] = ddl;
  r[kBehindLast] = kGroupKeyWords;
  r[kUnit] = DBNUM;
  copy_key(f, lfn, KEY);
  claim(f, lfn);
  lock_first_slot(ctx, r, MODE == 2 ? d[desc::kLastBlock] : d[desc::kFirstBlock]);
  if (MODE == 0) {
    if (ctx.grdblk.DBDLEN[DBNUM] >= 14) {
      r[kDate] = d[desc::kDate];
      r[kTime] = d[desc::kTime];
    }
  } else {
    mark_first_slot(ctx, r);
    stamp(ctx, r);
  }
  if (state == kRewriting) {
    // Written again from its start: no data words yet, in one block (word 9 counts both).
    word1(ctx, r, kGroupUsed) = kGroupKeyWords;
    r[kEntries] = 0;
    r[kDataBlocks] = 1;
  }
  LFN = lfn;
  IERR = 0;
}

void WRITGR(dbio::Context& ctx, int32_t LFN, const int32_t* BUFFER, int32_t NWORDS, int32_t& IERR) {
  if (LFN < 1 || LFN > dbio::kLogicalFiles || ctx.grfist.record[LFN][kKind] != kGroup) return void(IERR = 2);
  Record& r = ctx.grfist.record[LFN];
  if (r[kState] != kAppending && r[kState] != kRewriting) return void(IERR = 3);
  const int32_t unit = r[kUnit];
  const int32_t bufsz = ctx.grdblk.BUFSZ[unit];
  int64_t left = std::max(NWORDS, 0), done = 0;
  for (;;) {
    const int32_t used = word1(ctx, r, kGroupUsed);
    const int64_t room = std::max<int64_t>(int64_t{bufsz} - used - kGroupSpare, 0);
    const int64_t chunk = std::min(left, room);
    if (chunk > 0) {
      std::memcpy(ctx.words(int64_t{r[kAddr1]} + kGroupKeyAt - 1 + used, chunk), BUFFER + done, chunk * sizeof(int32_t));
    }
    mark_first_slot(ctx, r);
    word1(ctx, r, kGroupUsed) = static_cast<int32_t>(used + chunk);
    r[kDataBlocks] += static_cast<int32_t>(chunk);
    left -= chunk;
    done += chunk;
    if (left == 0) break;

    // The block is full: go on in the next block of the old chain, or in a new one.
    const int32_t next = r[kState] == kRewriting ? word1(ctx, r, kNextWord) : 0;
    if (r[kState] == kRewriting && next == 0) r[kState] = kAppending;
    if (r[kState] == kRewriting) {
      // The last block word keeps naming the old chain's last block until the close, which
      // returns the blocks from behind the current one up to it.
      lock_first_slot(ctx, r, next);
    } else {
      int32_t addr = 0;
      const int32_t previous = r[kBlock1];
      const int32_t block = new_block(ctx, unit, addr);
      word1(ctx, r, kNextWord) = block;
      lock_first_slot(ctx, r, block);
      word1(ctx, r, dbio::kTypeWord) = r[kDdlObject] * dbio::kKindScale + dbio::kGroupKind;
      word1(ctx, r, kNextWord) = 0;
      word1(ctx, r, kPreviousWord) = previous;
      r[kLastBlock] = block;
    }
    word1(ctx, r, kGroupUsed) = 0;
    r[kDataBlocks] += 1;
    mark_first_slot(ctx, r);
  }
  r[kEntries] += std::max(NWORDS, 0);
  stamp(ctx, r);
  IERR = 0;
}

void OPENRC(dbio::Context& ctx, int32_t DBNUM, const int32_t* KEY, int32_t LENGTH, int32_t& LFN, int32_t NEGFLG,
            int32_t& IERR) {
  auto& f = ctx.grfist;
  auto& g = ctx.grdblk;
  // Every argument is checked before the dictionary is touched, so a refused open leaves no entry.
  const int32_t lfn = first_free_record(f);
  if (lfn == 0) return void(IERR = 2);
  if (LENGTH < 1) return void(IERR = 4);
  if (DBNUM >= 1 && DBNUM <= dbio::kUnits && int64_t{LENGTH} + kSharedHeaderWords + kRecordHeaderWords > g.BUFSZ[DBNUM]) {
    return void(IERR = kTooLongForBlock);
  }
  std::array<int32_t, 15> d{};
  int32_t key[dbio::kKeyWords];
  std::copy_n(KEY, dbio::kKeyWords, key);
  int32_t ierr = 0;
  dict::DICINS(ctx, DBNUM, key, d.data() + 1, ierr);
  if (ierr != 0) return void(IERR = 1);

  Record& r = f.record[lfn];
  r.fill(0);
  copy_key(f, lfn, KEY);
  d.fill(0);
  d[desc::kSequence] = g.INFINU[DBNUM];
  d[desc::kKind] = kSingleRecord;
  d[desc::kLength] = LENGTH;

  // The record goes into the current shared block, or into a new one when it does not fit.
  const int32_t bufsz = g.BUFSZ[DBNUM];
  int32_t addr = 0;
  if (g.SRBLK[DBNUM] != 0) dbio::PAGFET(ctx, DBNUM, g.SRBLK[DBNUM], addr);
  if (g.SRBLK[DBNUM] == 0 || int64_t{bufsz} < int64_t{LENGTH} + kRecordHeaderWords + ctx.W(int64_t{addr} + kSharedUsed - 1)) {
    g.SRBLK[DBNUM] = new_block(ctx, DBNUM, addr);
    ctx.W(addr) = kSharedType;
    ctx.W(int64_t{addr} + kSharedUsed - 1) = kSharedHeaderWords;
  }
  const int32_t used = ctx.W(int64_t{addr} + kSharedUsed - 1);
  d[desc::kFirstBlock] = g.SRBLK[DBNUM];
  d[desc::kRecordAt] = used + 1;
  ctx.W(int64_t{addr} + kSharedUsed - 1) = used + LENGTH + kRecordHeaderWords;
  int32_t* rec = ctx.words(int64_t{addr} + used, int64_t{LENGTH} + kRecordHeaderWords);
  int32_t ddl = 0;
  dict::DDLFND(ctx, ddl, KEY, DBNUM);
  rec[0] = ddl;
  rec[1] = LENGTH;
  std::fill_n(rec + 2, LENGTH, 0);
  dbio::PAGMOD(ctx, DBNUM, g.SRBLK[DBNUM]);

  for (int k = 1; k <= 10; ++k) r[k] = d[k];
  if (NEGFLG != 0) r[kSequence] = -r[kSequence];
  r[kDdlObject] = ddl;
  r[kDicBlock] = ctx.sysfil.DICDBB;
  r[kDicOffset] = ctx.sysfil.DICDBO;
  r[kUnit] = DBNUM;
  stamp(ctx, r);
  claim(f, lfn);
  LFN = lfn;
  IERR = 0;
}

void WRITRC(dbio::Context& ctx, int32_t LFN, const int32_t* RECORD, int32_t& IERR) {
  if (LFN < 1 || LFN > dbio::kLogicalFiles) return void(IERR = 1);
  Record& r = ctx.grfist.record[LFN];
  if (r[kKind] != kSingleRecord) return void(IERR = 3);
  if (r[kSequence] < 0 && r[kWritten] == 1) return void(IERR = 2);
  int32_t addr = 0;
  dbio::PAGFET(ctx, r[kUnit], r[kFirstBlock], addr);
  std::copy_n(RECORD, r[kLength], ctx.words(int64_t{addr} + r[kRecordAt] - 1 + kRecordHeaderWords, r[kLength]));
  dbio::PAGMOD(ctx, r[kUnit], r[kFirstBlock]);
  r[kWritten] = 1;
  stamp(ctx, r);
  IERR = 0;
}

void OPENRL(dbio::Context& ctx, int32_t DBNUM, const int32_t* KEY, int32_t ENTLEN, int32_t& LFN, int32_t KEYTYP,
            int32_t KEYFLG, int32_t NEGFLG, int32_t& IERR) {
  auto& f = ctx.grfist;
  auto& g = ctx.grdblk;
  const int32_t lfn = first_free_record(f);
  if (lfn == 0) return void(IERR = 2);
  if (ENTLEN < 1) return void(IERR = 4);
  if (KEYTYP < 0 || KEYTYP > 6) return void(IERR = 3);
  const int32_t bufsz = DBNUM >= 1 && DBNUM <= dbio::kUnits ? g.BUFSZ[DBNUM] : 0;
  if (KEYTYP == 0 && int64_t{ENTLEN} + 4 > bufsz) return void(IERR = kTooLongForBlock);
  // Kind 3: the key lies inside the entry, a data block holds an entry and an index node three.
  if (KEYTYP > 0 && !dict::multikey::fits(bufsz, ENTLEN, KEYTYP)) return void(IERR = kTooLongForBlock);

  std::array<int32_t, 15> d{};
  int32_t key[dbio::kKeyWords];
  std::copy_n(KEY, dbio::kKeyWords, key);
  int32_t ierr = 0;
  dict::DICINS(ctx, DBNUM, key, d.data() + 1, ierr);
  if (ierr != 0) return void(IERR = 1);
  int32_t ddl = 0;
  dict::DDLFND(ctx, ddl, KEY, DBNUM);

  Record& r = f.record[lfn];
  r.fill(0);
  r[kUnit] = DBNUM;
  copy_key(f, lfn, KEY);
  d.fill(0);
  d[desc::kSequence] = g.INFINU[DBNUM];
  int32_t first_data = 0;
  if (KEYTYP == 0) {
    int32_t addr = 0;
    const int32_t root = new_block(ctx, DBNUM, addr);
    lock_first_slot(ctx, r, root);
    word1(ctx, r, dbio::kTypeWord) = 1;
    std::copy_n(KEY, dbio::kKeyWords, ctx.words(int64_t{r[kAddr1]} + kRootKeyAt - 1, dbio::kKeyWords));
    word1(ctx, r, root_copy(desc::kDataBlocks)) = 1;
    word1(ctx, r, root_copy(desc::kLevel2Blocks)) = 0;
    first_data = new_block(ctx, DBNUM, addr);
    d[desc::kKind] = kIntegerKeyed;
    d[desc::kRoot] = root;
    d[desc::kFirstBlock] = d[desc::kLastBlock] = first_data;
    d[desc::kLength] = ENTLEN;
    d[desc::kPerBlock] = (bufsz - 3) / ENTLEN;
    d[desc::kDataBlocks] = 1;
    std::copy_n(d.begin() + 1, g.DBDLEN[DBNUM], ctx.words(int64_t{r[kAddr1]} + kRootDescriptorAt - 1, g.DBDLEN[DBNUM]));
    mark_first_slot(ctx, r);
  } else {
    d[desc::kKind] = kMultiKey;
    d[desc::kLength] = ENTLEN;
    d[desc::kKeyWords] = KEYFLG % 2 != 0 ? -KEYTYP : KEYTYP;
  }
  for (int k = 2; k <= 10; ++k) r[k] = d[k];
  r[kSequence] = NEGFLG != 0 ? -d[desc::kSequence] : d[desc::kSequence];
  r[kState] = kRelationState;
  r[kDdlObject] = ddl;
  r[kBehindLast] = -1;
  r[kDicBlock] = ctx.sysfil.DICDBB;
  r[kDicOffset] = ctx.sysfil.DICDBO;
  r[kHighest] = 0;
  r[kLastBlock] = r[kTookLast] = d[desc::kFirstBlock];
  r[kLowest] = 0;
  claim(f, lfn);
  if (KEYTYP == 0) {
    int32_t addr = r[kDataSlot.addr_word];
    dbio::DATMGR(ctx, DBNUM, first_data, addr);
    r[kDataSlot.addr_word] = addr;
    r[kDataSlot.block_word] = first_data;
    ctx.W(addr) = ddl * dbio::kKindScale + dbio::kDataKind;
    std::fill_n(ctx.words(int64_t{addr} + kNextWord - 1, 3), 3, 0);  // next, previous, count
    dbio::PAGMOD(ctx, DBNUM, first_data);
    r[kFlags] = kRootSlot.flag | kDataSlot.flag;
  }
  stamp(ctx, r);
  LFN = lfn;
  IERR = 0;
}

void WRITRL(dbio::Context& ctx, int32_t LFN, const int32_t* ENTRY, int32_t& IERR) {
  if (LFN < 1 || LFN > dbio::kLogicalFiles) return void(IERR = 1);
  Record& r = ctx.grfist.record[LFN];
  if (r[kKind] == kIntegerKeyed) {
    dict::write_integer_keyed(ctx, LFN, ENTRY, IERR);
    if (IERR != 0) return;
  } else if (r[kKind] == kMultiKey) {
    // With rotated keys the last key word leads in the stored entry. The rotation is made on a
    // copy, so the caller's entry never changes.
    const int32_t k = std::abs(r[kKeyLength]), L = r[kLength];
    std::vector<int32_t> rotated;
    const int32_t* entry = ENTRY;
    if (r[kKeyLength] < 0 && k > 1) {
      rotated.assign(ENTRY, ENTRY + L);
      std::rotate(rotated.begin(), rotated.begin() + (k - 1), rotated.begin() + k);
      entry = rotated.data();
    }
    int32_t addr = 0;
    IERR = dict::RELPUT(ctx, LFN, entry, r[kSequence] < 0 ? 3 : 2, addr);
    if (IERR != 0) return;
    std::copy_n(entry, L, ctx.words(int64_t{addr} + 1, L));
  } else {
    return void(IERR = 3);
  }
  stamp(ctx, r);
  IERR = 0;
}

void CLOSGR(dbio::Context& ctx, int32_t& LFN) {
  auto& f = ctx.grfist;
  if (LFN < 1 || LFN > dbio::kLogicalFiles || f.record[LFN][kSequence] == 0) {
    LFN = -1;
    return;
  }
  Record& r = f.record[LFN];
  const int32_t unit = r[kUnit];
  if (unit < 1 || unit > dbio::kUnits || ctx.grdblk.DBOPND[unit] == dbio::kUnitClosed) {
    LFN = -1;
    return;
  }
  const int32_t kind = r[kKind];
  const bool writes = ctx.grdblk.DBOPND[unit] != dbio::kUnitReadOnly && !(kind == kGroup && r[kState] == kReading);
  if (writes) {
    if (kind == kGroup && r[kState] == kRewriting && r[kBlock1] != 0) {
      // The rest of the old chain behind the current block is released.
      const int32_t next = word1(ctx, r, kNextWord);
      if (next != 0) {
        dbio::BLKRET(ctx, unit, next, r[kLastBlock] == next ? 0 : r[kLastBlock]);
        r[kLastBlock] = r[kBlock1];
        word1(ctx, r, kNextWord) = 0;
        mark_first_slot(ctx, r);
      }
    }
    if (kind == kIntegerKeyed) {
      if (r[kBlock1] != r[3]) lock_first_slot(ctx, r, r[3]);
      word1(ctx, r, root_copy(desc::kLowest)) = r[kLowest];
      word1(ctx, r, root_copy(desc::kEntries)) = r[kEntries];
      word1(ctx, r, root_copy(desc::kDataBlocks)) = r[kDataBlocks];
      word1(ctx, r, root_copy(desc::kHighest)) = r[kHighest];
      word1(ctx, r, root_copy(desc::kLastBlock)) = r[kLastBlock];
      mark_first_slot(ctx, r);
    }
    if (ctx.grdblk.DBDLEN[unit] > 14) DIOMSG(ctx, 13, "CLOSGR  ");
    std::array<int32_t, 15> d{};
    d[desc::kSequence] = std::abs(r[kSequence]);
    d[desc::kKind] = kind;
    for (int k = 3; k <= 6; ++k) d[k] = r[k];
    d[desc::kLowest] = kind == kSingleRecord ? r[kRecordAt] : (kind == kGroup ? 0 : r[kLowest]);
    for (int k = 8; k <= 10; ++k) d[k] = r[k];
    d[desc::kHighest] = kind == kSingleRecord ? 0 : r[kHighest];
    d[desc::kLastBlock] = kind == kSingleRecord ? 0 : r[kLastBlock];
    d[desc::kDate] = r[kDate];
    d[desc::kTime] = r[kTime];
    int32_t key[dbio::kKeyWords];
    if (kind == kIntegerKeyed) {
      std::copy_n(ctx.words(int64_t{r[kAddr1]} + kRootKeyAt - 1, dbio::kKeyWords), dbio::kKeyWords, key);
    } else if (kind == kGroup) {
      if (r[kBlock1] != r[kFirstBlock]) lock_first_slot(ctx, r, r[kFirstBlock]);
      std::copy_n(ctx.words(int64_t{r[kAddr1]} + kGroupKeyAt - 1, dbio::kKeyWords), dbio::kKeyWords, key);
    } else {
      std::copy_n(f.name[LFN].begin() + 1, dbio::kKeyWords, key);
    }
    ctx.sysfil.DICDBB = r[kDicBlock];
    ctx.sysfil.DICDBO = r[kDicOffset];
    int32_t ierr = 0;
    dict::DICUPD(ctx, unit, key, d.data() + 1, ierr);
    if (ierr != 0) DIOMSG(ctx, 14, "CLOSGR  ", key[0], key[1]);
  }
  if (kind != kSingleRecord) {
    for (const Slot* slot : kSlots) {
      if (r[slot->block_word] != 0) dbio::DATREL(ctx, unit, r[slot->block_word]);
      r[slot->addr_word] = r[slot->block_word] = 0;
    }
  }
  r[kSequence] = r[kDdlObject] = r[kFlags] = r[kDicBlock] = r[kDicOffset] = 0;
  recount(f);
  LFN = -1;
}

}  // namespace xdb
