#include "dict/relation.h"

#include <algorithm>
#include <cstring>

#include "dbio/blocks.h"
#include "dbio/names.h"
#include "dbio/pool.h"
#include "dbio/datamgr.h"
#include "dict/dictionary.h"
#include "dbio/messages.h"
#include "dbio/open_states.h"
#include "dbio/block_kinds.h"
#include "dbio/logical_file.h"

namespace dict {

namespace {

using namespace dbio::logical_file;

// Block words (dbio/block_kinds.h).
constexpr int kRootPairCount = dbio::root_block::kPairCountWord, kRootPairs = dbio::root_block::kFirstPairWord;
constexpr int kLevel2Root = dbio::level2_block::kRootWord, kLevel2Count = dbio::level2_block::kPairCountWord,
              kLevel2Pairs = dbio::level2_block::kFirstPairWord, kLevel2HeaderWords = dbio::level2_block::kHeaderWords;
constexpr int kNext = dbio::chain_block::kNextWord, kPrevious = dbio::chain_block::kPreviousWord,
              kCount = dbio::chain_block::kCountWord, kEntriesAt = dbio::chain_block::kFirstEntryWord,
              kDataHeaderWords = dbio::chain_block::kHeaderWords;

// The pair (or the one before the insertion point) whose child holds `key`: its word index.
int32_t pair_for(int32_t key, const int32_t* pairs, int32_t count) {
  int32_t pos = 0, notfnd = 0;
  INTSRC(key, pairs, 2, count, pos, notfnd);
  if (notfnd != 0) pos = std::max(pos - 2, 1);
  return pos;
}

// An open kind-1 relation: the record, the unit and the shapes of its blocks.
class Relation {
 public:
  Relation(dbio::Context& c, int32_t lfn)
      : ctx(c), r(c.grfist.record[lfn]), unit(r[kUnit]), L(r[kLength]), bufsz(c.grdblk.BUFSZ[unit]) {}

  // Locks `block` in the slot (the slot's previous block is released); returns its address.
  int32_t lock(const Slot& s, int32_t block) {
    if (r[s.block_word] == block && r[s.addr_word] != 0) return r[s.addr_word];
    int32_t addr = r[s.addr_word];
    dbio::DATMGR(ctx, unit, block, addr);
    r[s.addr_word] = addr;
    r[s.block_word] = block;
    r[kFlags] &= ~s.flag;
    return addr;
  }
  // Marks the slot's block modified, once.
  void mark(const Slot& s) {
    if (r[kFlags] & s.flag) return;
    dbio::PAGMOD(ctx, unit, r[s.block_word]);
    r[kFlags] |= s.flag;
  }
  // Word k (from 1) of the block locked in the slot.
  int32_t& at(const Slot& s, int64_t k) { return ctx.W(int64_t{r[s.addr_word]} + k - 1); }
  // Words k .. k+n-1 of the block at pool address addr.
  int32_t* span(int32_t addr, int64_t k, int64_t n) { return ctx.words(int64_t{addr} + k - 1, n); }

  // Whether the level-2 block locked in its slot is the parent of the locked data block: its
  // pair for `key` names that block. The slots drift apart when a last entry only touches the
  // data slot, or when a level-2 split moves the data block's pair to the new level-2 block.
  bool level2_names_data_block(int32_t key) {
    if (r[kLevel2Slot.block_word] == 0) return false;
    const int32_t m = at(kLevel2Slot, kLevel2Count);
    if (m <= 0) return false;
    const int32_t* pairs = span(r[kLevel2Slot.addr_word], kLevel2Pairs, 2 * int64_t{m});
    return pairs[pair_for(key, pairs, m)] == r[kDataSlot.block_word];
  }

  bool data_block_has_room(int32_t n) const { return kDataHeaderWords + int64_t{n + 1} * L <= bufsz; }
  int32_t data_type() const { return r[kDdlObject] * 100 + 3; }

  // A new block, cleared; returns its number and address.
  int32_t new_block(int32_t& addr) {
    int32_t block = 0;
    dbio::BLKGET(ctx, unit, block, addr);
    std::fill_n(ctx.words(addr, bufsz), bufsz, 0);
    return block;
  }

  dbio::Context& ctx;
  std::array<int32_t, dbio::kRecordWords + 1>& r;
  const int32_t unit, L, bufsz;
};

// Inserts a record of `stride` words at word index pos (1-based) of a list of `count` records.
void insert_at(int32_t* list, int32_t count, int32_t stride, int32_t pos, const int32_t* record) {
  int32_t* at = list + (pos - 1);
  std::memmove(at + stride, at, (static_cast<std::size_t>(count) * stride - (pos - 1)) * sizeof(int32_t));
  std::memcpy(at, record, static_cast<std::size_t>(stride) * sizeof(int32_t));
}

}  // namespace

void RELFND(dbio::Context& ctx, int32_t LFN, int32_t KEY, int32_t& BLK1, int32_t& BLK2, int32_t& BLK3,
            int32_t& POS, int32_t& NOTFND) {
  Relation rel(ctx, LFN);
  auto& r = rel.r;
  bool path_known = false;
  if (r[kDataSlot.block_word] != 0) {
    const int32_t n = rel.at(kDataSlot, kCount);
    if (n == 0) {
      NOTFND = kEmptyRelation;
      return;
    }
    const int32_t first = rel.at(kDataSlot, kEntriesAt), last = rel.at(kDataSlot, kEntriesAt + int64_t{n - 1} * rel.L);
    path_known = first <= KEY && KEY <= last && rel.level2_names_data_block(KEY);
  }
  if (!path_known) {
    const int32_t root = rel.lock(kRootSlot, r[kRoot]);
    const int32_t c = rel.at(kRootSlot, kRootPairCount);
    if (c <= 0) {
      NOTFND = kEmptyRelation;
      return;
    }
    const int32_t* root_pairs = rel.span(root, kRootPairs, 2 * int64_t{c});
    if (KEY < root_pairs[0]) {
      rel.lock(kLevel2Slot, root_pairs[1]);
      rel.lock(kDataSlot, r[kFirstBlock]);
      BLK1 = r[kRootSlot.block_word];
      BLK2 = r[kLevel2Slot.block_word];
      BLK3 = r[kDataSlot.block_word];
      POS = 1;
      NOTFND = kBelowFirstBlock;
      return;
    }
    const int32_t level2_block = root_pairs[pair_for(KEY, root_pairs, c)];
    const int32_t level2 = rel.lock(kLevel2Slot, level2_block);
    const int32_t m = rel.at(kLevel2Slot, kLevel2Count);
    const int32_t* level2_pairs = rel.span(level2, kLevel2Pairs, 2 * int64_t{std::max(m, 1)});
    rel.lock(kDataSlot, level2_pairs[pair_for(KEY, level2_pairs, m)]);
  }
  BLK1 = r[kRootSlot.block_word];
  BLK2 = r[kLevel2Slot.block_word];
  BLK3 = r[kDataSlot.block_word];
  const int32_t n = rel.at(kDataSlot, kCount);
  INTSRC(KEY, rel.span(r[kDataSlot.addr_word], kEntriesAt, int64_t{std::max(n, 1)} * rel.L), rel.L, n, POS, NOTFND);
}

void WRTFST(dbio::Context& ctx, int32_t LFN, const int32_t* ENTRY) {
  Relation rel(ctx, LFN);
  auto& r = rel.r;
  const int32_t key = ENTRY[0];
  int32_t addr = 0;
  const int32_t level2_block = rel.new_block(addr);

  rel.lock(kRootSlot, r[kRoot]);
  rel.at(kRootSlot, 1) = 1;
  rel.at(kRootSlot, 22) = 1;
  rel.at(kRootSlot, kRootPairCount) = 1;
  rel.at(kRootSlot, kRootPairs) = key;
  rel.at(kRootSlot, kRootPairs + 1) = level2_block;
  rel.mark(kRootSlot);

  rel.lock(kLevel2Slot, level2_block);
  rel.at(kLevel2Slot, 1) = 2;
  rel.at(kLevel2Slot, kLevel2Root) = r[kRoot];
  rel.at(kLevel2Slot, kLevel2Count) = 1;
  rel.at(kLevel2Slot, kLevel2Pairs) = key;
  rel.at(kLevel2Slot, kLevel2Pairs + 1) = r[kFirstBlock];
  rel.mark(kLevel2Slot);

  const int32_t data = rel.lock(kDataSlot, r[kFirstBlock]);
  rel.at(kDataSlot, 1) = rel.data_type();
  rel.at(kDataSlot, kNext) = 0;
  rel.at(kDataSlot, kPrevious) = 0;
  rel.at(kDataSlot, kCount) = 1;
  std::memcpy(rel.span(data, kEntriesAt, rel.L), ENTRY, sizeof(int32_t) * rel.L);
  rel.mark(kDataSlot);

  r[kEntries] = r[kDataBlocks] = r[kLevel2Blocks] = 1;
  r[kHighest] = r[kLowest] = key;
  r[kTookLast] = r[kFirstBlock];
  r[kBehindLast] = rel.L + kDataHeaderWords;
}

void WRTLST(dbio::Context& ctx, int32_t LFN, const int32_t* ENTRY) {
  Relation rel(ctx, LFN);
  auto& r = rel.r;
  const int32_t key = ENTRY[0];
  int32_t data = rel.lock(kDataSlot, r[kLastBlock]);
  r[kHighest] = key;
  r[kEntries] += 1;
  const int32_t n = rel.at(kDataSlot, kCount);
  if (rel.data_block_has_room(n)) {
    std::memcpy(rel.span(data, kEntriesAt + int64_t{n} * rel.L, rel.L), ENTRY, sizeof(int32_t) * rel.L);
    rel.at(kDataSlot, kCount) = n + 1;
    rel.mark(kDataSlot);
    r[kTookLast] = r[kDataSlot.block_word];
    r[kBehindLast] = (n + 1) * rel.L + kDataHeaderWords;
    return;
  }

  // A new last data block holding only this entry.
  int32_t addr = 0;
  const int32_t old_block = r[kDataSlot.block_word];
  const int32_t new_block = rel.new_block(addr);
  rel.at(kDataSlot, kNext) = new_block;
  rel.mark(kDataSlot);
  r[kDataBlocks] += 1;
  data = rel.lock(kDataSlot, new_block);
  rel.at(kDataSlot, 1) = rel.data_type();
  rel.at(kDataSlot, kNext) = 0;
  rel.at(kDataSlot, kPrevious) = old_block;
  rel.at(kDataSlot, kCount) = 1;
  std::memcpy(rel.span(data, kEntriesAt, rel.L), ENTRY, sizeof(int32_t) * rel.L);
  rel.mark(kDataSlot);
  r[kLastBlock] = r[kTookLast] = new_block;
  r[kBehindLast] = rel.L + kDataHeaderWords;

  // Its pair goes behind the last pair of the last level-2 block, or into a new level-2 block.
  rel.lock(kRootSlot, r[kRoot]);
  const int32_t c = rel.at(kRootSlot, kRootPairCount);
  rel.lock(kLevel2Slot, rel.at(kRootSlot, kRootPairs + 2 * int64_t{c - 1} + 1));
  const int32_t m = rel.at(kLevel2Slot, kLevel2Count);
  if (kLevel2HeaderWords + 2 * int64_t{m + 1} <= rel.bufsz) {
    rel.at(kLevel2Slot, kLevel2Pairs + 2 * int64_t{m}) = key;
    rel.at(kLevel2Slot, kLevel2Pairs + 2 * int64_t{m} + 1) = new_block;
    rel.at(kLevel2Slot, kLevel2Count) = m + 1;
    rel.mark(kLevel2Slot);
    return;
  }
  const int32_t level2_block = rel.new_block(addr);
  r[kLevel2Blocks] += 1;
  rel.lock(kLevel2Slot, level2_block);
  rel.at(kLevel2Slot, 1) = 2;
  rel.at(kLevel2Slot, kLevel2Root) = r[kRoot];
  rel.at(kLevel2Slot, kLevel2Count) = 1;
  rel.at(kLevel2Slot, kLevel2Pairs) = key;
  rel.at(kLevel2Slot, kLevel2Pairs + 1) = new_block;
  rel.mark(kLevel2Slot);
  if (2 * int64_t{c} + 27 > rel.bufsz) dbio::DIOMSG(ctx, 6, "WRTLST  ", rel.unit);
  rel.at(kRootSlot, kRootPairs + 2 * int64_t{c}) = key;
  rel.at(kRootSlot, kRootPairs + 2 * int64_t{c} + 1) = level2_block;
  rel.at(kRootSlot, kRootPairCount) = c + 1;
  rel.mark(kRootSlot);
}

void WRTFRT(dbio::Context& ctx, int32_t LFN, const int32_t* ENTRY) {
  Relation rel(ctx, LFN);
  auto& r = rel.r;
  const int32_t key = ENTRY[0];
  rel.lock(kRootSlot, r[kRoot]);
  rel.lock(kLevel2Slot, rel.at(kRootSlot, kRootPairs + 1));
  const int32_t data = rel.lock(kDataSlot, rel.at(kLevel2Slot, kLevel2Pairs + 1));
  const int32_t n = rel.at(kDataSlot, kCount);
  if (!rel.data_block_has_room(n)) {
    SPLIT1(ctx, LFN, r[kRootSlot.block_word], r[kLevel2Slot.block_word], r[kDataSlot.block_word], ENTRY, 1);
  } else {
    r[kEntries] += 1;
    insert_at(rel.span(data, kEntriesAt, int64_t{n + 1} * rel.L), n, rel.L, 1, ENTRY);
    rel.at(kDataSlot, kCount) = n + 1;
    rel.mark(kDataSlot);
    r[kTookLast] = r[kDataSlot.block_word];
    r[kBehindLast] = rel.L + kDataHeaderWords;
    rel.at(kRootSlot, kRootPairs) = key;
    rel.mark(kRootSlot);
    rel.at(kLevel2Slot, kLevel2Pairs) = key;
    rel.mark(kLevel2Slot);
  }
  r[kLowest] = key;
}

void SPLIT1(dbio::Context& ctx, int32_t LFN, int32_t /*BLK1*/, int32_t /*BLK2*/, int32_t /*BLK3*/,
            const int32_t* ENTRY, int32_t FRONT) {
  Relation rel(ctx, LFN);
  auto& r = rel.r;
  const int32_t L = rel.L, k = ENTRY[0];
  const int32_t n = rel.at(kDataSlot, kCount);
  const int32_t old_block = r[kDataSlot.block_word];
  const int32_t old_addr = r[kDataSlot.addr_word];
  const int32_t capacity = (rel.bufsz - kDataHeaderWords) / L;  // entries a data block holds
  int32_t* old_entries = rel.span(old_addr, kEntriesAt, int64_t{capacity} * L);
  auto key_of = [&](int32_t i) { return old_entries[int64_t{i - 1} * L]; };  // entry i, from 1

  // How many entries stay: half, except for keys below -200, which are kept apart from the
  // non-negative ones.
  int32_t s = n / 2;
  if (k < -200) {
    const int32_t last = key_of(n);
    if (last < 0) {
      s = (int64_t{k} == int64_t{last} + 1) ? n : n / 2;
    } else {
      s = 0;
      while (s < n && key_of(s + 1) <= -200) ++s;
    }
  }
  bool entry_in_old = FRONT == 1 || (s < n && k < key_of(s + 1));
  // With very long entries the usual choice could put one entry too many into a block: then the
  // n + 1 entries are divided so that both blocks hold what they can.
  int32_t t = entry_in_old ? s + 1 : s;  // entries, the new one included, that end in the old block
  if (t > capacity || n + 1 - t > capacity) {
    t = std::min(t, capacity);
    t = std::max(t, n + 1 - capacity);
    int32_t below = 0;  // existing entries with a lower key
    while (below < n && key_of(below + 1) < k) ++below;
    entry_in_old = below < t;
    s = entry_in_old ? t - 1 : t;
  }

  int32_t new_addr = 0;
  const int32_t new_block = rel.new_block(new_addr);
  dbio::PAGMOD(ctx, rel.unit, new_block);
  const int32_t former_next = ctx.W(int64_t{old_addr} + kNext - 1);
  ctx.W(int64_t{old_addr} + kNext - 1) = new_block;
  ctx.W(int64_t{old_addr} + kCount - 1) = s;
  rel.mark(kDataSlot);
  int32_t* fresh = ctx.words(new_addr, rel.bufsz);
  fresh[0] = rel.data_type();
  fresh[kNext - 1] = former_next;
  fresh[kPrevious - 1] = old_block;
  fresh[kCount - 1] = n - s;
  std::memcpy(fresh + kEntriesAt - 1, old_entries + int64_t{s} * L, sizeof(int32_t) * int64_t{n - s} * L);

  // Place the new entry.
  int32_t* target = entry_in_old ? old_entries : fresh + kEntriesAt - 1;
  int32_t* target_count = entry_in_old ? &ctx.W(int64_t{old_addr} + kCount - 1) : &fresh[kCount - 1];
  int32_t pos = 1, notfnd = 1;
  if (*target_count > 0) INTSRC(k, target, L, *target_count, pos, notfnd);
  insert_at(target, *target_count, L, pos, ENTRY);
  *target_count += 1;
  r[kEntries] += 1;
  r[kDataBlocks] += 1;
  const int32_t new_first_key = fresh[kEntriesAt - 1];

  if (former_next == 0) {
    r[kLastBlock] = new_block;
  } else {
    int32_t next_addr = 0;
    dbio::PAGFET(ctx, rel.unit, former_next, next_addr);
    ctx.W(int64_t{next_addr} + kPrevious - 1) = new_block;
    dbio::PAGMOD(ctx, rel.unit, former_next);
  }

  // The new data block's pair in the level-2 block, which splits when full.
  if (FRONT == 1) rel.at(kLevel2Slot, kLevel2Pairs) = k;
  const int32_t m = rel.at(kLevel2Slot, kLevel2Count);
  const int32_t pair[2] = {new_first_key, new_block};
  int32_t new_level2 = 0, new_level2_first_key = 0;
  if (2 * int64_t{m} + 5 <= rel.bufsz) {
    int32_t* pairs = rel.span(r[kLevel2Slot.addr_word], kLevel2Pairs, 2 * int64_t{m + 1});
    int32_t p = 1, nf = 1;
    INTSRC(new_first_key, pairs, 2, m, p, nf);
    insert_at(pairs, m, 2, p, pair);
    rel.at(kLevel2Slot, kLevel2Count) = m + 1;
    rel.mark(kLevel2Slot);
  } else {
    int32_t addr2 = 0;
    new_level2 = rel.new_block(addr2);
    dbio::PAGMOD(ctx, rel.unit, new_level2);
    int32_t* old_pairs = rel.span(r[kLevel2Slot.addr_word], kLevel2Pairs, 2 * int64_t{m});
    int32_t* moved = ctx.words(addr2, rel.bufsz);
    const int32_t keep = m / 2, move = m - m / 2;
    moved[0] = 2;
    moved[kLevel2Root - 1] = r[kRoot];
    moved[kLevel2Count - 1] = move;
    std::memcpy(moved + kLevel2Pairs - 1, old_pairs + 2 * keep, sizeof(int32_t) * 2 * move);
    std::fill(old_pairs + 2 * keep, old_pairs + 2 * m, 0);
    rel.at(kLevel2Slot, kLevel2Count) = keep;
    rel.mark(kLevel2Slot);
    new_level2_first_key = moved[kLevel2Pairs - 1];
    const bool into_old = new_first_key < new_level2_first_key;
    int32_t* pairs = into_old ? old_pairs : moved + kLevel2Pairs - 1;
    int32_t* count = into_old ? &rel.at(kLevel2Slot, kLevel2Count) : &moved[kLevel2Count - 1];
    int32_t p = 1, nf = 1;
    INTSRC(new_first_key, pairs, 2, *count, p, nf);
    insert_at(pairs, *count, 2, p, pair);
    *count += 1;
    new_level2_first_key = moved[kLevel2Pairs - 1];
  }

  // The root: a new lowest key, and the pair of a new level-2 block.
  if (FRONT == 1) {
    rel.at(kRootSlot, kRootPairs) = k;
    rel.mark(kRootSlot);
  }
  if (new_level2 != 0) {
    const int32_t c = rel.at(kRootSlot, kRootPairCount);
    if (2 * int64_t{c} + 27 > rel.bufsz) dbio::DIOMSG(ctx, 6, "SPLIT1  ", rel.unit);
    int32_t* pairs = rel.span(r[kRootSlot.addr_word], kRootPairs, 2 * int64_t{c + 1});
    int32_t p = 1, nf = 1;
    INTSRC(new_level2_first_key, pairs, 2, c, p, nf);
    const int32_t root_pair[2] = {new_level2_first_key, new_level2};
    insert_at(pairs, c, 2, p, root_pair);
    rel.at(kRootSlot, kRootPairCount) = c + 1;
    rel.mark(kRootSlot);
    r[kLevel2Blocks] += 1;
  }
}

void write_integer_keyed(dbio::Context& ctx, int32_t LFN, const int32_t* ENTRY, int32_t& IERR) {
  Relation rel(ctx, LFN);
  auto& r = rel.r;
  const int32_t key = ENTRY[0];
  IERR = 0;
  if (r[kEntries] == 0) return WRTFST(ctx, LFN, ENTRY);
  if (key > r[kHighest]) return WRTLST(ctx, LFN, ENTRY);
  if (key < r[kLowest]) return WRTFRT(ctx, LFN, ENTRY);
  int32_t b1 = 0, b2 = 0, b3 = 0, pos = 1, notfnd = 1;
  RELFND(ctx, LFN, key, b1, b2, b3, pos, notfnd);
  const int32_t data = r[kDataSlot.addr_word];
  const int32_t n = rel.at(kDataSlot, kCount);
  if (notfnd == kFound) {
    if (r[kSequence] < 0) {
      IERR = 2;
      return;
    }
    std::memcpy(rel.span(data, kEntriesAt + int64_t{pos} - 1, rel.L), ENTRY, sizeof(int32_t) * rel.L);
    rel.mark(kDataSlot);
  } else if (rel.data_block_has_room(n)) {
    insert_at(rel.span(data, kEntriesAt, int64_t{n + 1} * rel.L), n, rel.L, pos, ENTRY);
    rel.at(kDataSlot, kCount) = n + 1;
    r[kEntries] += 1;
    rel.mark(kDataSlot);
  } else {
    return SPLIT1(ctx, LFN, b1, b2, b3, ENTRY, 0);
  }
  r[kTookLast] = r[kDataSlot.block_word];
  r[kBehindLast] = pos + 3 + rel.L;
}

void DDLFND(dbio::Context& ctx, int32_t& DDLNO, const int32_t* NAME, int32_t DBNUM) {
  auto& g = ctx.grdblk;
  auto& s = ctx.sysfil;
  DDLNO = 0;
  if (DBNUM < 1 || DBNUM > dbio::kUnits || g.DDLVER[DBNUM] == 0 || g.DBOPND[DBNUM] == dbio::kUnitReadOnly) return;
  dbio::KOVGDM(ctx, DBNUM);
  char text[8];
  std::memcpy(text, NAME, 8);
  const int32_t packed[2] = {dbio::pack_name_word(text), dbio::pack_name_word(text + 4)};
  const int32_t objects = ctx.W(s.BASEDD + 1);
  if (objects <= 0) return;
  const int32_t* directory = ctx.words(int64_t{s.BASEDD} + 3, 5 * int64_t{objects});
  auto compare = [&](int32_t r) {  // record r (from 1) against the packed name
    const int32_t* rec = directory + 5 * int64_t{r - 1};
    if (rec[0] != packed[0]) return rec[0] < packed[0] ? -1 : 1;
    if (rec[1] != packed[1]) return rec[1] < packed[1] ? -1 : 1;
    return 0;
  };
  int32_t found = 0;
  if (objects > 16) {
    int32_t low = 1, high = objects;
    while (low <= high && !found) {
      int32_t mid = (low + high) / 2, c = compare(mid);
      if (c == 0) found = mid;
      else if (c < 0) low = mid + 1;
      else high = mid - 1;
    }
  } else {
    for (int32_t i = 1; i <= objects && !found; ++i) {
      if (compare(i) == 0) found = i;
    }
  }
  if (found == 0) return;
  DDLNO = g.DBDLEN[DBNUM] == 12 ? found : directory[5 * int64_t{found - 1} + 4];
}

}  // namespace dict
