#include "dict/multikey.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dbio/blocks.h"
#include "dbio/pool.h"
#include "dbio/datamgr.h"
#include "dbio/open_states.h"
#include "dbio/logical_file.h"

namespace dict {

namespace multikey {

bool fits(int32_t BUFSZ, int32_t L, int32_t k) {
  if (k < 1 || k > kMaxKeyWords || L < k) return false;
  if (int64_t{L} + kDataHeaderWords > BUFSZ) return false;
  return kNodeHeaderWords + int64_t{kMinNodeEntries} * index_entry_words(L, k) <= BUFSZ;
}

}  // namespace multikey

using multikey::entries_in_index;
using multikey::index_entry_words;
using multikey::kBelowFirstWord;
using multikey::kDataHeaderWords;
using multikey::kDataKind;
using multikey::kFirstEntryWord;
using multikey::kFirstIndexWord;
using multikey::kIndexKind;
using multikey::kInUseWord;
using multikey::kNextWord;
using multikey::kNodeHeaderWords;
using multikey::kParentWord;
using multikey::kPreviousWord;
using multikey::kStrideWord;
using multikey::node_capacity;

namespace {

using namespace dbio::logical_file;
constexpr int32_t kMaxEntries = 2147483646;  // the entry count stops at 2^31 - 2
constexpr int32_t kRefuseDuplicates = 3;     // RELPUT mode
constexpr int32_t kLinearSearchLimit = 16;   // more records than this are searched by halving


// The slot of index level `level` (1 = the root); level 4 and every deeper level share one.
const Slot& level_slot(std::size_t level) {
  static constexpr const Slot* kByLevel[] = {&kRootSlot, &kLevel2Slot, &kLevel3Slot, &kDeepSlot};
  return *kByLevel[std::min<std::size_t>(level, 4) - 1];
}

int compare_word(int32_t a, int32_t b) {
  const int32_t difference = static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
  return (difference > 0) - (difference < 0);
}

// The search shared by KEYFND and KEYFN1; compare(record) orders the key against a record.
template <typename Compare>
void search_records(const Compare& compare, const int32_t* LIST, int32_t STRIDE, int32_t COUNT, int32_t& POS,
                    int32_t& NOTFND) {
  auto record = [&](int32_t i) { return LIST + int64_t{i - 1} * STRIDE; };  // record i, from 1
  auto word_index = [&](int32_t i) { return (i - 1) * STRIDE + 1; };
  POS = 1;
  NOTFND = 1;
  if (COUNT < 1) return;
  const int last = compare(record(COUNT));
  if (last >= 0) {
    POS = word_index(last > 0 ? COUNT + 1 : COUNT);
    NOTFND = last > 0 ? 1 : 0;
    return;
  }
  // The key is below the last record: the answer lies among records 1 .. COUNT.
  if (COUNT > kLinearSearchLimit) {
    int32_t low = 1, high = COUNT - 1;
    while (low <= high) {
      const int32_t mid = (low + high) / 2;
      const int c = compare(record(mid));
      if (c == 0) {
        POS = word_index(mid);
        NOTFND = 0;
        return;
      }
      if (c < 0) {
        high = mid - 1;
      } else {
        low = mid + 1;
      }
    }
    POS = word_index(low);
    return;
  }
  for (int32_t i = 1; i < COUNT; ++i) {
    const int c = compare(record(i));
    if (c <= 0) {
      POS = word_index(i);
      NOTFND = c == 0 ? 0 : 1;
      return;
    }
  }
  POS = word_index(COUNT);
}

// One node of a descent: its block and the position taken in it, counted in entries from 0. Above
// the node where the descent ends it is the child followed (0 = word 7, j = the child of entry j);
// in that node it is the entry found or the insertion point.
struct Step {
  int32_t block, pos;
};

// The nodes of a descent, from the root down. An insert takes one descent per entry, so the steps
// of the trees one meets live in place; a deeper tree spills the rest to the heap.
class Path {
 public:
  static constexpr std::size_t kInlineSteps = 16;
  void clear() {
    size_ = 0;
    spilled_.clear();
  }
  std::size_t size() const { return size_; }
  void push_back(const Step& step) {
    if (size_ < kInlineSteps) {
      steps_[size_] = step;
    } else {
      spilled_.push_back(step);
    }
    ++size_;
  }
  const Step& operator[](std::size_t i) const { return i < kInlineSteps ? steps_[i] : spilled_[i - kInlineSteps]; }
  const Step& back() const { return (*this)[size_ - 1]; }

 private:
  std::array<Step, kInlineSteps> steps_;
  std::size_t size_ = 0;
  std::vector<Step> spilled_;
};

// The words of one index entry, zeroed: in place when the entry is short, on the heap when not.
class EntryWords {
 public:
  static constexpr int32_t kInlineWords = 64;
  explicit EntryWords(int32_t n) {
    if (n <= kInlineWords) {
      std::fill_n(local_.data(), n, 0);
      words_ = local_.data();
    } else {
      heap_.assign(static_cast<std::size_t>(n), 0);
      words_ = heap_.data();
    }
  }
  EntryWords(const EntryWords&) = delete;
  EntryWords& operator=(const EntryWords&) = delete;
  int32_t* data() { return words_; }
  int32_t& operator[](int32_t i) { return words_[i]; }

 private:
  std::array<int32_t, kInlineWords> local_;
  std::vector<int32_t> heap_;
  int32_t* words_ = nullptr;
};

// Where an entry lies: its block, and the block word of the entry's first word.
struct Place {
  int32_t block = 0, word = 0;
};

// An open kind-3 relation: the record, the unit and the shapes of its blocks.
class MultiKey {
 public:
  MultiKey(dbio::Context& c, int32_t lfn)
      : ctx(c),
        r(c.grfist.record[lfn]),
        unit(r[kUnit]),
        L(r[kLength]),
        k(std::abs(r[kKeyLength])),
        S(index_entry_words(L, k)),
        bufsz(c.grdblk.BUFSZ[unit]),
        in_index(entries_in_index(L, k)) {}

  int32_t put(const int32_t* entry, int32_t mode, int32_t& ADDR);

 private:
  // --- Locks and pool access. A block locked in one of the record's slots is reached through its
  // slot only (the pool does not find locked pages); any other block through the pool, and its
  // address holds only until the next fetch.

  // Locks `block` in slot s, releasing what the slot held; returns its address. No other slot
  // holds the block then: a descent locks its levels from the root down, so a node that moved one
  // level down when the root split has left its former slot before it is locked in the next.
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
  const Slot* slot_of(int32_t block) const {
    for (const Slot* s : kSlots) {
      if (r[s->block_word] == block && r[s->addr_word] != 0) return s;
    }
    return nullptr;
  }
  // The pool index of the block's word 1.
  int32_t address(int32_t block) {
    if (const Slot* s = slot_of(block)) return r[s->addr_word];
    int32_t addr = 0;
    dbio::PAGFET(ctx, unit, block, addr);
    return addr;
  }
  // Marks a block modified. REQUIRES: no fetch since it was changed.
  void modified(int32_t block) {
    if (const Slot* s = slot_of(block)) return mark(*s);
    dbio::PAGMOD(ctx, unit, block);
  }
  // Word w of the block at pool address addr.
  int32_t& W(int32_t addr, int64_t w) { return ctx.W(int64_t{addr} + w - 1); }
  int32_t* words(int32_t addr, int64_t w, int64_t n) { return ctx.words(int64_t{addr} + w - 1, n); }

  int32_t data_type() const { return r[kDdlObject] * 1000 + k * 100 + kDataKind; }
  int32_t index_type() const { return (in_index ? r[kDdlObject] * 1000 : 0) + k * 100 + kIndexKind; }
  int32_t entries_of_node(int32_t addr) { return (W(addr, kInUseWord) - kNodeHeaderWords) / S; }

  // KEYFN1 or KEYFND, as the key length asks.
  void find_key(const int32_t* key, const int32_t* list, int32_t stride, int32_t count, int32_t& pos,
                int32_t& notfnd) const {
    if (k == 1) return KEYFN1(key[0], list, stride, count, pos, notfnd);
    KEYFND(key, k, list, stride, count, pos, notfnd);
  }
  bool above_highest(const int32_t* key) const { return compare_keys(key, &r[kHighestKey], k) > 0; }

  int32_t NEWBLK(int32_t type, int32_t stride);
  void BLKLNK(int32_t block, int32_t behind);
  void adopt(int32_t block, int32_t addr, int32_t parent);
  void IDXFND(const int32_t* key, Path& path, bool& found);
  void descend_right(Path& path);
  Place located(const Step& step);
  Place IDXINS(const Path& path, const int32_t* item);
  Place insert(int32_t node, int32_t pos, const int32_t* item);
  int32_t left_part(int32_t n) const;
  int32_t split(int32_t node, int32_t left, std::vector<int32_t>& middle);
  void new_root(int32_t old_root, int32_t right, const std::vector<int32_t>& middle);
  void IDXBLD();
  Place append(const int32_t* entry, Path& path);

  dbio::Context& ctx;
  std::array<int32_t, dbio::kRecordWords + 1>& r;
  const int32_t unit, L, k, S, bufsz;
  const bool in_index;
};

// Takes a block and makes it an empty block of the given type: words 2-3 = 0, word 4 = stride + 5
// (a data block with its first entry), word 5 = stride, everything else cleared; marked modified.
int32_t MultiKey::NEWBLK(int32_t type, int32_t stride) {
  int32_t block = 0, addr = 0;
  dbio::BLKGET(ctx, unit, block, addr);
  int32_t* b = ctx.words(addr, bufsz);
  std::fill_n(b, bufsz, 0);
  b[0] = type;
  b[kInUseWord - 1] = stride + kDataHeaderWords;
  b[kStrideWord - 1] = stride;
  dbio::PAGMOD(ctx, unit, block);
  return block;
}

// Links `block` into its chain directly behind `behind`; behind the last data block it becomes the
// last data block.
void MultiKey::BLKLNK(int32_t block, int32_t behind) {
  int32_t addr = address(behind);
  const int32_t next = W(addr, kNextWord);
  W(addr, kNextWord) = block;
  modified(behind);
  addr = address(block);
  W(addr, kNextWord) = next;
  W(addr, kPreviousWord) = behind;
  modified(block);
  if (next != 0) {
    W(address(next), kPreviousWord) = block;
    modified(next);
  } else if (behind == r[kLastBlock]) {
    r[kLastBlock] = block;
  }
}

// A node reached from `parent` names it in word 6.
void MultiKey::adopt(int32_t block, int32_t addr, int32_t parent) {
  int32_t& word = W(addr, kParentWord);
  if (word == parent) return;
  word = parent;
  if (ctx.grdblk.DBOPND[unit] != dbio::kUnitReadOnly) modified(block);
}

// Descends from the root to the node that holds KEY or, when it is not there, to the lowest-level
// node where it belongs. Each node is locked in the slot of its level.
void MultiKey::IDXFND(const int32_t* key, Path& path, bool& found) {
  path.clear();
  found = false;
  for (int32_t block = r[kRoot], parent = 0;;) {
    const int32_t addr = lock(level_slot(path.size() + 1), block);
    adopt(block, addr, parent);
    const int32_t m = entries_of_node(addr);
    int32_t pos = 1, notfnd = 1;
    find_key(key, words(addr, kFirstIndexWord, int64_t{m} * S), S, m, pos, notfnd);
    const int32_t at = (pos - 1) / S;
    path.push_back({block, at});
    if (notfnd == 0) return void(found = true);
    const int32_t child = W(addr, kBelowFirstWord + int64_t{at} * S);
    if (child == 0) return;
    parent = block;
    block = child;
  }
}

// Descends from the root along the last child of each node; the insertion point is the end of the
// right-most lowest-level node.
void MultiKey::descend_right(Path& path) {
  path.clear();
  for (int32_t block = r[kRoot], parent = 0;;) {
    const int32_t addr = lock(level_slot(path.size() + 1), block);
    adopt(block, addr, parent);
    const int32_t in_use = W(addr, kInUseWord);
    path.push_back({block, (in_use - kNodeHeaderWords) / S});
    const int32_t child = W(addr, in_use);
    if (child == 0) return;
    parent = block;
    block = child;
  }
}

// The place of the entry that IDXFND found at `step`: the index entry itself, or the data block
// and word it names (the data block is then locked in the data slot).
Place MultiKey::located(const Step& step) {
  const int32_t addr = address(step.block);
  const int64_t word = kFirstIndexWord + int64_t{step.pos} * S;
  if (in_index) return {step.block, static_cast<int32_t>(word)};
  const int32_t data = W(addr, word + k), data_word = W(addr, word + k + 1);
  lock(kDataSlot, data);
  return {data, data_word};
}

// Stores the index entry `item` at entry position pos of a node with room.
Place MultiKey::insert(int32_t node, int32_t pos, const int32_t* item) {
  const int32_t addr = address(node);
  const int32_t m = entries_of_node(addr);
  KEYINS(words(addr, kFirstIndexWord, int64_t{m + 1} * S), m, S, pos * S + 1, item, S);
  W(addr, kInUseWord) += S;
  modified(node);
  return {node, kFirstIndexWord + pos * S};
}

// Entries the left node keeps when a full node of n entries splits. Half of them go to the new
// node, only a tenth while entries mostly arrive in ascending order (balance above BUFSZ / 3);
// while they mostly arrive out of order (balance below 1) the left node keeps that share instead.
// REQUIRES: n >= kMinNodeEntries, so that both nodes keep at least one entry.
int32_t MultiKey::left_part(int32_t n) const {
  const int32_t balance = r[kBalance];
  const int32_t a = std::max(balance > bufsz / 3 ? n / 10 : n / 2, 1);
  return balance < 1 ? a : n - a - 1;
}

// Splits `node`: it keeps its first `left` entries; the next one is returned in `middle`, its
// child replaced by the new node, which takes that child as word 7 and the entries behind it. The
// new node is linked behind `node`, and the children it took name it as their parent. Its own
// parent word is left to the caller.
int32_t MultiKey::split(int32_t node, int32_t left, std::vector<int32_t>& middle) {
  int32_t addr = address(node);
  const int32_t n = entries_of_node(addr);
  const bool lowest = W(addr, kBelowFirstWord) == 0;
  int32_t* tail_words = words(addr, kFirstIndexWord + int64_t{left} * S, int64_t{n - left} * S);
  const std::vector<int32_t> tail(tail_words, tail_words + int64_t{n - left} * S);
  std::fill(tail_words, tail_words + tail.size(), 0);
  W(addr, kInUseWord) = kNodeHeaderWords + left * S;
  modified(node);

  const int32_t right = n - left - 1;
  const int32_t fresh = NEWBLK(index_type(), S);
  addr = address(fresh);
  W(addr, kInUseWord) = kNodeHeaderWords + right * S;
  W(addr, kBelowFirstWord) = tail[S - 1];
  std::copy(tail.begin() + S, tail.end(), words(addr, kFirstIndexWord, int64_t{right} * S));
  modified(fresh);
  BLKLNK(fresh, node);

  middle.assign(tail.begin(), tail.begin() + S);
  middle[S - 1] = fresh;
  if (!lowest) {
    for (int32_t i = 0; i <= right; ++i) {
      const int32_t child = tail[int64_t{i + 1} * S - 1];
      W(address(child), kParentWord) = fresh;
      modified(child);
    }
  }
  return fresh;
}

// A new root above the old one, with the old root as word 7 and one entry leading to `right`. It
// goes in front of the old root in the chain of index blocks.
void MultiKey::new_root(int32_t old_root, int32_t right, const std::vector<int32_t>& middle) {
  const int32_t root = NEWBLK(index_type(), S);
  int32_t addr = address(root);
  W(addr, kNextWord) = old_root;
  W(addr, kInUseWord) = kNodeHeaderWords + S;
  W(addr, kBelowFirstWord) = old_root;
  std::copy(middle.begin(), middle.end(), words(addr, kFirstIndexWord, S));
  modified(root);
  addr = address(old_root);
  W(addr, kPreviousWord) = root;
  W(addr, kParentWord) = root;
  modified(old_root);
  W(address(right), kParentWord) = root;
  modified(right);
  r[kRoot] = root;
}

// Inserts the index entry `item` at the end of the descent `path`. When that node is full, the
// full nodes above it up to the first one with room (or a new root) are split from the top down,
// each passing one entry up into the node above, which has room by then; the descent continues in
// whichever part holds its position.
Place MultiKey::IDXINS(const Path& path, const int32_t* item) {
  const int h = static_cast<int>(path.size());
  auto full = [&](int32_t node) { return W(address(node), kInUseWord) + S > bufsz; };
  int t = h - 1;
  while (t >= 0 && full(path[t].block)) --t;
  int32_t node = t >= 0 ? path[t].block : 0, pos = t >= 0 ? path[t].pos : 0;
  std::vector<int32_t> middle;
  for (int i = t + 1; i < h; ++i) {
    const int32_t split_node = path[i].block, p = path[i].pos;
    const int32_t left = left_part(entries_of_node(address(split_node)));
    const int32_t right = split(split_node, left, middle);
    if (node == 0) {
      new_root(split_node, right, middle);
    } else {
      insert(node, pos, middle.data());
      W(address(right), kParentWord) = node;
      modified(right);
    }
    node = p <= left ? split_node : right;
    pos = p <= left ? p : p - left - 1;
  }
  return insert(node, pos, item);
}

// Builds the index from the single data block, which is full: one index entry per data entry, in
// the root alone when they fit, otherwise in lowest-level nodes under the root. When the entries
// live in the index, the data block is returned.
void MultiKey::IDXBLD() {
  const int32_t data = r[kFirstBlock];
  const int32_t data_addr = lock(kDataSlot, data);
  const int32_t n = (W(data_addr, kInUseWord) - kDataHeaderWords) / L;
  std::vector<int32_t> items(int64_t{n} * S, 0);
  for (int32_t i = 0; i < n; ++i) {
    const int32_t word = kFirstEntryWord + i * L;
    const int32_t* entry = words(data_addr, word, L);
    int32_t* item = items.data() + int64_t{i} * S;
    if (in_index) {
      std::copy_n(entry, L, item);
    } else {
      std::copy_n(entry, k, item);
      item[k] = data;
      item[k + 1] = word;
    }
  }

  const int32_t root = NEWBLK(index_type(), S);
  r[kRoot] = r[kIndexRoot] = root;
  const int32_t root_addr = lock(kRootSlot, root);
  W(root_addr, kParentWord) = 0;
  W(root_addr, kBelowFirstWord) = 0;

  // Entries of each lowest-level node; the root holds one entry between each two of them. Half
  // and half (less one on the left) when that fits two nodes; otherwise as many nodes as needed,
  // filled evenly. With entries of one word keyed by it, a full data block fills more than two
  // nodes. (Here n > capacity >= kMinNodeEntries, so the left node is never empty.)
  const int32_t capacity = node_capacity(bufsz, S);
  std::vector<int32_t> sizes;
  if (n > capacity) {
    if (n - n / 2 <= capacity) {
      sizes = {n / 2 - 1, n - n / 2};
    } else {
      const int32_t nodes = std::max(2, (n + 1 + capacity) / (capacity + 1));
      const int32_t spread = n - (nodes - 1);
      for (int32_t j = 0; j < nodes; ++j) sizes.push_back(spread / nodes + (j < spread % nodes ? 1 : 0));
    }
  }
  if (sizes.empty()) {
    std::copy(items.begin(), items.end(), words(root_addr, kFirstIndexWord, int64_t{n} * S));
    W(root_addr, kInUseWord) = kNodeHeaderWords + n * S;
  } else {
    std::vector<int32_t> nodes;
    const int32_t* from = items.data();
    int32_t previous = root;
    for (std::size_t j = 0; j < sizes.size(); ++j) {
      const int32_t node = NEWBLK(index_type(), S);
      const int32_t addr = address(node);
      W(addr, kInUseWord) = kNodeHeaderWords + sizes[j] * S;
      W(addr, kParentWord) = root;
      std::copy_n(from, int64_t{sizes[j]} * S, words(addr, kFirstIndexWord, int64_t{sizes[j]} * S));
      modified(node);
      BLKLNK(node, previous);
      previous = node;
      nodes.push_back(node);
      from += int64_t{sizes[j]} * S;
      if (j + 1 < sizes.size()) from += S;  // the entry between this node and the next goes to the root
    }
    W(root_addr, kBelowFirstWord) = nodes[0];
    from = items.data();
    for (std::size_t j = 0; j + 1 < sizes.size(); ++j) {
      from += int64_t{sizes[j]} * S;
      int32_t* entry = words(root_addr, kFirstIndexWord + int64_t(j) * S, S);
      std::copy_n(from, S, entry);
      entry[S - 1] = nodes[j + 1];
      from += S;
    }
    W(root_addr, kInUseWord) = kNodeHeaderWords + static_cast<int32_t>(sizes.size() - 1) * S;
  }
  mark(kRootSlot);

  if (in_index) {
    dbio::BLKRET(ctx, unit, data, 0);  // also releases its lock
    r[kFirstBlock] = r[kLastBlock] = 0;
    r[kDataSlot.addr_word] = r[kDataSlot.block_word] = 0;
    r[kFlags] &= ~kDataSlot.flag;
  }
}

// Places a new entry behind all others in the data blocks (a new last data block when the last one
// is full, after building the index if there is none yet) and enters it into the index at the end
// of `path`. Entries that live in the index go into the index only.
Place MultiKey::append(const int32_t* entry, Path& path) {
  Place place;
  if (r[kLastBlock] != 0) {
    const int32_t last = r[kLastBlock];
    const int32_t addr = lock(kDataSlot, last);
    const int32_t in_use = W(addr, kInUseWord);
    if (in_use + L <= bufsz) {
      W(addr, kInUseWord) = in_use + L;
      place = {last, in_use + 1};
    } else {
      if (r[kRoot] == 0) {
        IDXBLD();
        bool found = false;
        IDXFND(entry, path, found);
      }
      if (!in_index) {
        const int32_t data = NEWBLK(data_type(), L);
        BLKLNK(data, last);
        lock(kDataSlot, data);
        place = {data, kFirstEntryWord};
      }
    }
  }
  if (r[kRoot] != 0) {
    EntryWords item(S);
    if (in_index) {
      std::copy_n(entry, L, item.data());
    } else {
      std::copy_n(entry, k, item.data());
      item[k] = place.block;
      item[k + 1] = place.word;
    }
    const Place in_node = IDXINS(path, item.data());
    if (in_index) place = in_node;
  }
  return place;
}

// The four ways to an entry's place: the first entry gets a data block of its own; a key above all
// others is appended; another key is searched in the single data block (and inserted in key order
// while it has room); once the index exists, it is searched there and a new entry is appended to
// the data blocks and entered into the index.
int32_t MultiKey::put(const int32_t* entry, int32_t mode, int32_t& ADDR) {
  Path path;
  Place place;
  bool found = false, fresh = false, highest = false;
  if (r[kRoot] == 0 && r[kFirstBlock] == 0) {
    // The first entry: a data block of its own.
    const int32_t data = NEWBLK(data_type(), L);
    r[kFirstBlock] = r[kLastBlock] = data;
    lock(kDataSlot, data);
    place = {data, kFirstEntryWord};
    fresh = highest = true;
  } else if (above_highest(entry)) {
    if (r[kBalance] < bufsz / 2) ++r[kBalance];
    if (r[kRoot] != 0) descend_right(path);
    place = append(entry, path);
    fresh = highest = true;
  } else {
    if (r[kRoot] == 0) {
      // One data block, in key order.
      const int32_t data = r[kFirstBlock];
      const int32_t addr = lock(kDataSlot, data);
      const int32_t in_use = W(addr, kInUseWord);
      const int32_t n = (in_use - kDataHeaderWords) / L;
      int32_t pos = 1, notfnd = 1;
      find_key(entry, words(addr, kFirstEntryWord, int64_t{n} * L), L, n, pos, notfnd);
      if (notfnd == 0) {
        place = {data, kFirstEntryWord - 1 + pos};
        found = true;
      } else if (in_use + L <= bufsz) {
        KEYINS(words(addr, kFirstEntryWord, int64_t{n + 1} * L), n, L, pos, entry, k);
        W(addr, kInUseWord) = in_use + L;
        place = {data, kFirstEntryWord - 1 + pos};
        fresh = true;
      } else {
        IDXBLD();
      }
    }
    if (place.block == 0) {
      IDXFND(entry, path, found);
      if (found) {
        place = located(path.back());
      } else {
        if (std::abs(r[kBalance]) < bufsz / 2) --r[kBalance];
        place = append(entry, path);
        fresh = true;
      }
    }
  }
  if (found && mode == kRefuseDuplicates) return kDuplicateRefused;
  if (fresh && r[kEntries] < kMaxEntries) ++r[kEntries];
  if (highest) {
    std::copy_n(entry, k, &r[kHighestKey]);
    if (k == 1) r[kHighest] = entry[0];
  }
  const int32_t addr = address(place.block);
  modified(place.block);
  r[kLocated] = place.word - 1;
  ADDR = addr + place.word - 2;
  return kPlaced;
}

}  // namespace

int compare_keys(const int32_t* A, const int32_t* B, int32_t k) {
  for (int32_t i = 0; i < k; ++i) {
    if (const int c = compare_word(A[i], B[i])) return c;
  }
  return 0;
}

void KEYFND(const int32_t* KEY, int32_t k, const int32_t* LIST, int32_t STRIDE, int32_t COUNT, int32_t& POS,
            int32_t& NOTFND) {
  search_records([&](const int32_t* record) { return compare_keys(KEY, record, k); }, LIST, STRIDE, COUNT, POS,
                 NOTFND);
}

void KEYFN1(int32_t KEY, const int32_t* LIST, int32_t STRIDE, int32_t COUNT, int32_t& POS, int32_t& NOTFND) {
  search_records([&](const int32_t* record) { return compare_word(KEY, record[0]); }, LIST, STRIDE, COUNT, POS,
                 NOTFND);
}

void KEYINS(int32_t* LIST, int32_t COUNT, int32_t STRIDE, int32_t POS, const int32_t* KEY, int32_t KEYLEN) {
  int32_t* at = LIST + (POS - 1);
  const int64_t behind = int64_t{COUNT} * STRIDE - (POS - 1);
  std::memmove(at + STRIDE, at, static_cast<std::size_t>(behind) * sizeof(int32_t));
  std::copy_n(KEY, KEYLEN, at);
  std::fill(at + KEYLEN, at + STRIDE, 0);
}

int32_t RELPUT(dbio::Context& ctx, int32_t LFN, const int32_t* ENTRY, int32_t MODE, int32_t& ADDR) {
  return MultiKey(ctx, LFN).put(ENTRY, MODE, ADDR);
}

}  // namespace dict
