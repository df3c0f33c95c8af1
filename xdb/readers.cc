#include "xdb/readers.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "dbio/block_kinds.h"
#include "dbio/logical_file.h"
#include "dbio/names.h"
#include "dbio/pool.h"
#include "dbio/word_view.h"
#include "dict/descriptor.h"
#include "dict/dictionary.h"
#include "dict/multikey.h"

namespace xdb {

namespace {

using dbio::WordView;
namespace desc = dict::descriptor;
namespace root_block = dbio::root_block;
namespace level2_block = dbio::level2_block;
namespace chain_block = dbio::chain_block;
namespace record_block = dbio::record_block;

// Descriptor word 2: the kind of a data block, as a logical file's record word 2 holds it.
using dbio::logical_file::kGroup, dbio::logical_file::kIntegerKeyed, dbio::logical_file::kMultiKey,
    dbio::logical_file::kSingleRecord;
using dbio::kTypeWord;

// An entry of a relation keyed by one word is keyed by its word 1.
constexpr int32_t kEntryKeyWord = 1;

// The words of a descriptor a reader uses (none beyond the standard ones).
WordView descriptor_words(const int32_t* descriptor) { return WordView(descriptor, desc::kStandardWords); }

// A block copied out of the pool (a page may be reused by the next fetch), its words numbered
// from 1. Before the first fetch it holds no words.
class BlockCopy {
 public:
  void assign(const int32_t* first, int32_t count) { words_.assign(first, first + count); }
  int32_t operator()(int64_t k) const { return view()(k); }
  WordView part(int64_t k, int64_t n) const { return view().part(k, n); }
  WordView view() const { return WordView(words_); }

 private:
  std::vector<int32_t> words_;
};

// Reads a block into a copy; false when the block number lies outside the file.
bool fetch(dbio::Context& ctx, int32_t unit, int32_t block, BlockCopy& into, Content& c, const char* what) {
  const auto& g = ctx.grdblk;
  if (block < 1 || block > g.USDBKS[unit]) {
    c.problems.push_back(std::string(what) + " block " + std::to_string(block) + " lies outside the file (" +
                         std::to_string(g.USDBKS[unit]) + " blocks)");
    return false;
  }
  c.reached.push_back(block);
  int32_t addr = 0;
  dbio::PAGFET(ctx, unit, block, addr);
  const int32_t bufsz = g.BUFSZ[unit];
  into.assign(ctx.words(addr, bufsz), bufsz);
  return true;
}

std::string block_text(int32_t block) { return "block " + std::to_string(block); }

}  // namespace

Content read_group(dbio::Context& ctx, int32_t unit, const int32_t* key, const int32_t* descriptor) {
  Content c;
  const WordView d = descriptor_words(descriptor);
  const int32_t bufsz = ctx.grdblk.BUFSZ[unit];
  BlockCopy b;
  std::set<int32_t> seen;
  int32_t previous = 0;
  for (int32_t block = d(desc::kFirstBlock); block != 0; block = b(chain_block::kNextWord)) {
    if (!seen.insert(block).second) {
      c.problems.push_back("group chain returns to " + block_text(block));
      break;
    }
    if (!fetch(ctx, unit, block, b, c, "group")) break;
    ++c.blocks;
    if (dbio::kind_of(b(kTypeWord)) != dbio::kGroupKind) {
      c.problems.push_back(block_text(block) + " of a group has type " + std::to_string(b(kTypeWord)));
    }
    if (b(chain_block::kPreviousWord) != previous) {
      c.problems.push_back(block_text(block) + " names " + std::to_string(b(chain_block::kPreviousWord)) +
                           " as previous, not " + std::to_string(previous));
    }
    // Words used behind the header, the key of a first block included.
    int32_t used = b(chain_block::kCountWord);
    if (used < 0 || used > bufsz - chain_block::kGroupReserve) {
      c.problems.push_back(block_text(block) + " claims " + std::to_string(used) + " used words");
      used = std::clamp(used, 0, bufsz - chain_block::kGroupReserve);
    }
    int32_t from = chain_block::kFirstEntryWord;
    if (previous == 0) {
      if (used < chain_block::kGroupKeyWords ||
          !std::equal(key, key + dbio::kKeyWords, b.part(chain_block::kFirstEntryWord, dbio::kKeyWords).begin())) {
        c.problems.push_back("first " + block_text(block) + " of a group does not hold its key");
      }
      from = chain_block::kFirstEntryWord + std::min(used, chain_block::kGroupKeyWords);
      used = std::max(used - chain_block::kGroupKeyWords, 0);
    }
    const WordView data = b.part(from, used);
    c.words.insert(c.words.end(), data.begin(), data.end());
    previous = block;
  }
  if (static_cast<int64_t>(c.words.size()) != d(desc::kEntries)) {
    c.problems.push_back("group holds " + std::to_string(c.words.size()) + " words, its descriptor says " +
                         std::to_string(d(desc::kEntries)));
  }
  if (d(desc::kLastBlock) != previous) {
    c.problems.push_back("group ends in " + block_text(previous) + ", its descriptor says " +
                         std::to_string(d(desc::kLastBlock)));
  }
  if (int64_t{d(desc::kDataBlocks)} != int64_t{d(desc::kEntries)} + c.blocks) {
    c.problems.push_back("group word " + std::to_string(desc::kDataBlocks) + " of the descriptor is " +
                         std::to_string(d(desc::kDataBlocks)) + ", not words plus blocks");
  }
  return c;
}

Content read_record(dbio::Context& ctx, int32_t unit, const int32_t* /*key*/, const int32_t* descriptor) {
  Content c;
  const WordView d = descriptor_words(descriptor);
  const int32_t shared = d(desc::kFirstBlock);
  BlockCopy b;
  if (!fetch(ctx, unit, shared, b, c, "shared record")) return c;
  c.blocks = 1;
  const int64_t bufsz = ctx.grdblk.BUFSZ[unit];
  if (b(kTypeWord) != dbio::kRecordKind) {
    c.problems.push_back("shared " + block_text(shared) + " has type " + std::to_string(b(kTypeWord)));
  }
  // The record starts at block word `first` with its header (DDL object, length); its words follow.
  const int64_t first = d(desc::kRecordAt), length = d(desc::kLength);
  const int64_t last = first - 1 + record_block::kRecordHeaderWords + length;
  if (first <= record_block::kHeaderWords || length < 1 ||
      last > std::min<int64_t>(b(record_block::kUsedWord), bufsz)) {
    c.problems.push_back("single record at word " + std::to_string(first) + " of " + std::to_string(length) +
                         " words does not lie inside the used part of " + block_text(shared));
    return c;
  }
  const WordView record = b.part(first, record_block::kRecordHeaderWords + length);
  if (record(record_block::kRecordLengthWord) != length) {
    c.problems.push_back("single record header says " + std::to_string(record(record_block::kRecordLengthWord)) +
                         " words, its descriptor " + std::to_string(length));
  }
  const WordView words = record.part(record_block::kRecordHeaderWords + 1, length);
  c.words.assign(words.begin(), words.end());
  return c;
}

Content read_integer_keyed(dbio::Context& ctx, int32_t unit, const int32_t* key, const int32_t* descriptor) {
  Content c;
  const WordView d = descriptor_words(descriptor);
  const int32_t L = d(desc::kLength);
  const int64_t bufsz = ctx.grdblk.BUFSZ[unit];
  if (L < 1 || L + chain_block::kHeaderWords > bufsz) {
    c.problems.push_back("relation entry length " + std::to_string(L) + " does not fit a block");
    return c;
  }
  const int64_t capacity = (bufsz - chain_block::kHeaderWords) / L;
  // Pair i (from 0) of a root or level-2 block whose pairs start at word `first`.
  auto pair = [](const BlockCopy& b, int32_t first, int64_t i) {
    return b.part(first + dbio::kPairWords * i, dbio::kPairWords);
  };

  // The root and its index: every pair's key is the first key of its child.
  BlockCopy root, level2, data;
  std::vector<std::pair<int32_t, int32_t>> data_pairs;  // (first key, block) in index order
  const int32_t root_number = d(desc::kRoot);
  if (fetch(ctx, unit, root_number, root, c, "root")) {
    if (root(kTypeWord) != dbio::kRootKind) {
      c.problems.push_back("root " + block_text(root_number) + " has type " + std::to_string(root(kTypeWord)));
    }
    if (!std::equal(key, key + dbio::kKeyWords, root.part(root_block::kKeyWord, dbio::kKeyWords).begin())) {
      c.problems.push_back("root does not hold its key");
    }
    const int64_t pairs = root(root_block::kPairCountWord);
    if (pairs < 0 || root_block::kFirstPairWord - 1 + dbio::kPairWords * pairs > bufsz) {
      c.problems.push_back("root claims " + std::to_string(pairs) + " pairs");
    } else {
      for (int64_t i = 0; i < pairs; ++i) {
        const WordView root_pair = pair(root, root_block::kFirstPairWord, i);
        const int32_t level2_key = root_pair(dbio::kPairKeyWord), level2_number = root_pair(dbio::kPairBlockWord);
        if (!fetch(ctx, unit, level2_number, level2, c, "level-2")) continue;
        if (level2(kTypeWord) != dbio::kLevel2Kind || level2(level2_block::kRootWord) != root_number) {
          c.problems.push_back("level-2 " + block_text(level2_number) + " has type " +
                               std::to_string(level2(kTypeWord)) + " and root " +
                               std::to_string(level2(level2_block::kRootWord)));
        }
        const int64_t m = level2(level2_block::kPairCountWord);
        if (m < 1 || level2_block::kFirstPairWord - 1 + dbio::kPairWords * m > bufsz) {
          c.problems.push_back("level-2 " + block_text(level2_number) + " claims " + std::to_string(m) + " pairs");
          continue;
        }
        if (pair(level2, level2_block::kFirstPairWord, 0)(dbio::kPairKeyWord) != level2_key) {
          c.problems.push_back("root pair key " + std::to_string(level2_key) +
                               " differs from the first key of level-2 " + block_text(level2_number));
        }
        for (int64_t j = 0; j < m; ++j) {
          const WordView level2_pair = pair(level2, level2_block::kFirstPairWord, j);
          data_pairs.emplace_back(level2_pair(dbio::kPairKeyWord), level2_pair(dbio::kPairBlockWord));
        }
      }
    }
  }

  // The data blocks along their chain, in key order.
  std::set<int32_t> seen;
  int32_t previous = 0;
  std::size_t index = 0;
  bool first_entry = true;
  int32_t last_key = 0;
  for (int32_t block = d(desc::kFirstBlock); block != 0; block = data(chain_block::kNextWord)) {
    if (!seen.insert(block).second) {
      c.problems.push_back("data chain returns to " + block_text(block));
      break;
    }
    if (!fetch(ctx, unit, block, data, c, "data")) break;
    ++c.blocks;
    if (dbio::kind_of(data(kTypeWord)) != dbio::kDataKind) {
      c.problems.push_back("data " + block_text(block) + " has type " + std::to_string(data(kTypeWord)));
    }
    if (data(chain_block::kPreviousWord) != previous) {
      c.problems.push_back("data " + block_text(block) + " has a wrong back link");
    }
    const int64_t n = data(chain_block::kCountWord);
    if (n < 0 || n > capacity) {
      c.problems.push_back("data " + block_text(block) + " claims " + std::to_string(n) + " entries");
      break;
    }
    auto entry = [&](int64_t i) { return data.part(chain_block::kFirstEntryWord + i * L, L); };
    if (n > 0) {  // an empty relation has one empty data block and no index
      if (index < data_pairs.size()) {
        if (data_pairs[index].second != block || data_pairs[index].first != entry(0)(kEntryKeyWord)) {
          c.problems.push_back("index pair " + std::to_string(index + 1) + " does not name data " +
                               block_text(block) + " with its first key");
        }
      } else {
        c.problems.push_back("data " + block_text(block) + " has no index pair");
      }
    }
    ++index;
    for (int64_t i = 0; i < n; ++i) {
      const WordView e = entry(i);
      const int32_t k = e(kEntryKeyWord);
      if (!first_entry && k <= last_key) {
        c.problems.push_back("key " + std::to_string(k) + " in data " + block_text(block) + " is not above " +
                             std::to_string(last_key));
      }
      first_entry = false;
      last_key = k;
      c.words.insert(c.words.end(), e.begin(), e.end());
    }
    previous = block;
  }
  if (d(desc::kEntries) > 0 && index != data_pairs.size()) {
    c.problems.push_back("the index names " + std::to_string(data_pairs.size()) + " data blocks, the chain has " +
                         std::to_string(index));
  }
  const int64_t entries = static_cast<int64_t>(c.words.size()) / L;
  if (entries != d(desc::kEntries)) {
    c.problems.push_back("relation holds " + std::to_string(entries) + " entries, its descriptor says " +
                         std::to_string(d(desc::kEntries)));
  }
  if (c.blocks != d(desc::kDataBlocks)) {
    c.problems.push_back("relation has " + std::to_string(c.blocks) + " data blocks, its descriptor says " +
                         std::to_string(d(desc::kDataBlocks)));
  }
  if (previous != d(desc::kLastBlock)) {
    c.problems.push_back("relation ends in " + block_text(previous) + ", its descriptor says " +
                         std::to_string(d(desc::kLastBlock)));
  }
  if (entries > 0 && (d(desc::kLowest) != WordView(c.words)(kEntryKeyWord) || d(desc::kHighest) != last_key)) {
    c.problems.push_back("relation's lowest or highest key in its descriptor is wrong");
  }
  return c;
}

namespace {

namespace mk = dict::multikey;

std::string str(int64_t v) { return std::to_string(v); }

// Type codes of its blocks: DDL object * 1000 + k * 100 + kind (dbio/block_kinds.h).
constexpr int32_t kObjectUnit = dbio::kObjectScale * dbio::kKindScale;
// An index entry whose entry lives in a data block holds, behind its k key words, that block and
// the entry's word in it; the last word of every index entry is its child (dict/multikey.h).
constexpr int32_t kBlockBehindKey = 1, kWordBehindKey = 2;

// Reads one relation keyed by several words; the layout is described in dict/multikey.h.
class MultiKeyReader {
 public:
  MultiKeyReader(dbio::Context& ctx, int32_t unit, const WordView& d, Content& c, MultiKeyShape& shape)
      : ctx_(ctx),
        unit_(unit),
        c_(c),
        shape_(shape),
        bufsz_(ctx.grdblk.BUFSZ[unit]),
        root_(d(desc::kRoot)),
        first_(d(desc::kFirstBlock)),
        L_(d(desc::kLength)),
        k_(d(desc::kKeyWords) == INT32_MIN ? 0 : std::abs(d(desc::kKeyWords))),
        rotated_(d(desc::kKeyWords) < 0),
        balance_(d(desc::kBalance)),
        count_(d(desc::kEntries)),
        built_(d(desc::kIndexRoot)),
        highest_(d(desc::kHighest)),
        last_(d(desc::kLastBlock)) {}

  void run() {
    if (!mk::fits(bufsz_, L_, k_)) {
      return problem("relation of entries of " + str(L_) + " words keyed by " + str(k_) +
                     " words does not fit blocks of " + str(bufsz_) + " words");
    }
    S_ = mk::index_entry_words(L_, k_);
    in_index_ = mk::entries_in_index(L_, k_);
    read_data_chain();
    used_.assign(chain_entries(), 0);
    const std::string built_word = "descriptor word " + str(desc::kIndexRoot);
    if (root_ == 0) {
      if (built_ != 0) problem(built_word + " is " + str(built_) + " but the relation has no index");
      if (data_.size() > 1) problem("a relation without an index has " + str(data_.size()) + " data blocks");
      for (int64_t i = 0; i < chain_entries(); ++i) emit(chain_entry(i), "data block");
    } else {
      if (in_index_ && !data_.empty()) problem("entries live in the index, yet there are data blocks");
      read_index_chain();
      visit(root_, 0, 0);
      bool same = tree_nodes_.size() == chain_nodes_.size();
      for (int32_t node : tree_nodes_) same = same && chain_nodes_.count(node) != 0;
      if (!same) {
        problem("the chain of index blocks (" + str(chain_nodes_.size()) + " blocks) and the index (" +
                str(tree_nodes_.size()) + " nodes) hold different blocks");
      }
      const auto unnamed = std::count(used_.begin(), used_.end(), 0);
      if (!in_index_ && unnamed != 0) problem(str(unnamed) + " data entries are named by no index entry");
      if (tree_nodes_.count(built_) == 0) problem(built_word + " names " + str(built_) + ", not an index node");
    }
    const int64_t entries = static_cast<int64_t>(c_.words.size()) / L_;
    if (entries != count_) problem("relation holds " + str(entries) + " entries, its descriptor says " + str(count_));
    judge_descents();
    if (k_ == 1 && entries > 0 && highest_ != key_at(keys() - 1)[0]) judge_highest();
    if (std::abs(int64_t{balance_}) > bufsz_ / 2) problem("append balance " + str(balance_) + " is out of bounds");
    // Entries are returned as they were written: a rotated key's first stored word goes back last.
    if (rotated_ && k_ > 1) {
      for (auto at = c_.words.begin(); at != c_.words.end(); at += L_) std::rotate(at, at + 1, at + k_);
    }
  }

 private:
  struct DataBlock {
    int64_t first, n;  // index of its first entry among the chain's entries, entries
  };
  static constexpr std::size_t kMaxDepth = 64;

  void problem(std::string text) { c_.problems.push_back(std::move(text)); }
  void note(std::string text) { c_.notes.push_back(std::move(text)); }
  // The keys in key order as the walk met them, k words each.
  int64_t keys() const { return static_cast<int64_t>(keys_.size()) / k_; }
  const int32_t* key_at(int64_t i) const { return keys_.data() + i * k_; }

  // Keys lying 2^31 or more apart are ordered by the sign of their wrapping difference, which is
  // not transitive: a < b < c < a can hold. A key the writer places through a search lies above the
  // neighbour before it and below the one behind it, for it was compared with both. A key above the
  // highest so far is compared with the highest key alone and goes behind the last entry; the
  // highest key is the last entry but once: the key whose arrival fills the single data block goes
  // where the search in the index built then puts it, and is the highest key wherever that is. So
  // the writer leaves at most one pair of neighbours P, Q that do not ascend (Q the next key above
  // the highest, P the last entry then), and a key X with P < X < Q closes the circle: the key that
  // built the index, with data blocks the first entry of the second data block (the block made for
  // it), in the index any key. Equal neighbours and a second such pair are never the writer's.
  //
  // The key that built the index (the first entry of the second data block), or nullptr when the
  // entries live in the index and it may be any key.
  const int32_t* builder() const {
    if (in_index_ || shape_.data_entries.size() < 2) return nullptr;
    return chain_entry(shape_.data_entries.front()).part(1, k_).begin();
  }
  // True when the key that built the index can be `x`, given where the entries live.
  bool may_have_built(const int32_t* x) const {
    if (in_index_) return true;
    const int32_t* b = builder();
    return b && std::equal(x, x + k_, b);
  }
  void judge_descents() {
    if (descents_.size() != 1 || root_ == 0) return;
    const Descent& d = descents_.front();
    const int32_t *p = key_at(d.at - 1), *q = key_at(d.at);
    if (dict::compare_keys(q, p, k_) >= 0) return;
    auto closes = [&](const int32_t* x) {
      return dict::compare_keys(p, x, k_) < 0 && dict::compare_keys(x, q, k_) < 0;
    };
    bool closed = false;
    if (const int32_t* b = builder()) {
      closed = closes(b);
    } else if (in_index_) {
      for (int64_t i = 0; i < keys() && !closed; ++i) closed = closes(key_at(i));
    }
    if (!closed) return;
    c_.problems.erase(c_.problems.begin() + static_cast<std::ptrdiff_t>(d.problem));
    note("a key in " + d.where + " is below the key before it, as the writer leaves it for keys 2^31 or more "
         "apart, whose order is not transitive; not a problem");
  }
  // One key word: the descriptor's highest key must be the last key, but while no key has come
  // above the key that built the index (so no pair of neighbours departs), that key is the highest
  // wherever it lies, and above the last key.
  void judge_highest() {
    const int32_t last = key_at(keys() - 1)[0];
    const std::string line = "highest key in the descriptor is " + str(highest_) + ", the last entry's key " + str(last);
    bool held = false;
    for (int64_t i = 0; i < keys() && !held; ++i) held = key_at(i)[0] == highest_ && may_have_built(key_at(i));
    if (!descents_.empty() || !held || dict::compare_keys(&highest_, &last, 1) <= 0) return problem(line);
    note(line + ", above it, as the writer leaves it for keys 2^31 or more apart, whose order is not transitive; "
         "not a problem");
  }
  int64_t chain_entries() const { return static_cast<int64_t>(shape_.chain_words.size()) / L_; }
  // Entry i (from 0) of the data blocks' entries, in chain order.
  WordView chain_entry(int64_t i) const { return WordView(shape_.chain_words).part(1 + i * L_, L_); }

  // Type codes: kind + k * 100, plus DDL object * 1000 where that applies, the same in all blocks.
  void check_type(int32_t code, int32_t kind, bool with_ddl, const std::string& what) {
    const int32_t expected = k_ * dbio::kKindScale + kind;
    if (with_ddl ? code < 0 || code % kObjectUnit != expected : code != expected) {
      return problem(what + " has type " + str(code) + ", expected " + str(expected) +
                     (with_ddl ? " modulo " + str(kObjectUnit) : ""));
    }
    if (!with_ddl) return;
    if (ddl_ < 0) ddl_ = code / kObjectUnit;
    if (code / kObjectUnit != ddl_) problem(what + " names DDL object " + str(code / kObjectUnit) + ", others " + str(ddl_));
  }

  void read_data_chain() {
    BlockCopy b;
    std::unordered_set<int32_t> seen;
    int32_t previous = 0;
    for (int32_t block = first_; block != 0; block = b(mk::kNextWord)) {
      const std::string what = "data " + block_text(block);
      if (!seen.insert(block).second) {
        problem("data chain returns to " + block_text(block));
        break;
      }
      if (!fetch(ctx_, unit_, block, b, c_, "data")) break;
      ++c_.blocks;
      check_type(b(kTypeWord), mk::kDataKind, true, what);
      if (b(mk::kPreviousWord) != previous) {
        problem(what + " names " + str(b(mk::kPreviousWord)) + " as previous, not " + str(previous));
      }
      if (b(mk::kStrideWord) != L_) problem(what + " has entry length " + str(b(mk::kStrideWord)) + ", not " + str(L_));
      const int64_t in_use = b(mk::kInUseWord);
      if (in_use < mk::kDataHeaderWords + L_ || in_use > bufsz_ || (in_use - mk::kDataHeaderWords) % L_ != 0) {
        problem(what + " claims " + str(in_use) + " words in use");
        break;
      }
      const int64_t n = (in_use - mk::kDataHeaderWords) / L_;
      data_[block] = {chain_entries(), n};
      shape_.data_entries.push_back(static_cast<int32_t>(n));
      const WordView entries = b.part(mk::kFirstEntryWord, n * L_);
      shape_.chain_words.insert(shape_.chain_words.end(), entries.begin(), entries.end());
      previous = block;
    }
    if (previous != last_) problem("data chain ends in " + block_text(previous) + ", its descriptor says " + str(last_));
  }

  void read_index_chain() {
    BlockCopy b;
    int32_t previous = 0;
    for (int32_t block = root_; block != 0; block = b(mk::kNextWord)) {
      if (!chain_nodes_.insert(block).second) {
        problem("chain of index blocks returns to " + block_text(block));
        break;
      }
      if (!fetch(ctx_, unit_, block, b, c_, "index")) break;
      if (b(mk::kPreviousWord) != previous) {
        problem("index " + block_text(block) + " names " + str(b(mk::kPreviousWord)) + " as previous, not " +
                str(previous));
      }
      previous = block;
    }
  }

  // The node's entries in key order: those below its first entry, each entry, those above it.
  void visit(int32_t block, int32_t parent, std::size_t depth) {
    const std::string what = "index " + block_text(block);
    if (depth >= kMaxDepth) return problem("index deeper than " + str(kMaxDepth) + " levels at " + what);
    if (!tree_nodes_.insert(block).second) return problem(what + " is reached twice");
    BlockCopy b;
    if (!fetch(ctx_, unit_, block, b, c_, "index")) return;
    ++c_.blocks;
    check_type(b(kTypeWord), mk::kIndexKind, in_index_, what);
    if (b(mk::kStrideWord) != S_) {
      problem(what + " has index entry length " + str(b(mk::kStrideWord)) + ", not " + str(S_));
    }
    const int64_t in_use = b(mk::kInUseWord);
    if (in_use < mk::kNodeHeaderWords + S_ || in_use > bufsz_ || (in_use - mk::kNodeHeaderWords) % S_ != 0) {
      return problem(what + " claims " + str(in_use) + " words in use");
    }
    // A node's parent word is refreshed only when a descent passes it: a node that a split moved
    // under a new parent may still name its old one. So a node below the root may name any other
    // index node of this relation; the structure itself is checked by the descent. The root has no
    // parent and names none.
    const int32_t named = b(mk::kParentWord);
    const bool stale_but_allowed = parent != 0 && named != block && chain_nodes_.count(named) != 0;
    if (named != parent && !stale_but_allowed) {
      problem(what + " names " + str(named) + " as its parent, not " + str(parent));
    }
    const int32_t below_first = b(mk::kBelowFirstWord);
    const bool lowest = below_first == 0;
    if (lowest && lowest_depth_ == kMaxDepth) lowest_depth_ = depth;
    if (lowest && depth != lowest_depth_) {
      problem(what + " is a lowest-level node at level " + str(depth + 1) + ", others at " + str(lowest_depth_ + 1));
    }
    const int64_t m = (in_use - mk::kNodeHeaderWords) / S_;
    if (shape_.node_entries.size() <= depth) shape_.node_entries.resize(depth + 1);
    if (shape_.node_words.size() <= depth) shape_.node_words.resize(depth + 1);
    shape_.node_entries[depth].push_back(static_cast<int32_t>(m));
    std::vector<int32_t>& words = shape_.node_words[depth].emplace_back();
    for (int64_t i = 0; i < m; ++i) {
      const WordView entry = b.part(mk::kFirstIndexWord + i * S_, S_ - 1);
      words.insert(words.end(), entry.begin(), entry.end());
    }
    if (!lowest) visit(below_first, block, depth + 1);
    for (int64_t i = 0; i < m; ++i) {
      const WordView entry = b.part(mk::kFirstIndexWord + i * S_, S_);
      emit(entry, what);
      const int32_t child = entry(S_);
      if (lowest && child != 0) problem(what + " is in the lowest level, yet entry " + str(i + 1) + " has a child");
      if (!lowest && child == 0) problem(what + " entry " + str(i + 1) + " has no child");
      if (!lowest && child != 0) visit(child, block, depth + 1);
    }
  }

  // The next entry in key order: its key must be above the one before; from an index entry the
  // entry is taken where it lives. `entry` is an index entry, or a data entry when there is no index.
  void emit(const WordView& entry, const std::string& where) {
    const WordView key = entry.part(1, k_);
    if (keys() > 0 && dict::compare_keys(key.begin(), key_at(keys() - 1), k_) <= 0) {
      descents_.push_back({c_.problems.size(), keys(), where});
      problem("a key in " + where + " is not above the key before it");
    }
    keys_.insert(keys_.end(), key.begin(), key.end());
    if (root_ == 0 || in_index_) {
      const WordView whole = entry.part(1, L_);
      return void(c_.words.insert(c_.words.end(), whole.begin(), whole.end()));
    }
    const int32_t data = entry(k_ + kBlockBehindKey), word = entry(k_ + kWordBehindKey);
    const auto it = data_.find(data);
    const int64_t offset = int64_t{word} - mk::kFirstEntryWord;
    if (it == data_.end() || offset < 0 || offset % L_ != 0 || offset / L_ >= it->second.n) {
      return problem(where + " names word " + str(word) + " of block " + str(data) + ", not a data entry");
    }
    const int64_t index = it->second.first + offset / L_;
    if (used_[index]) return problem(where + " names an entry of data " + block_text(data) + " named before");
    used_[index] = 1;
    const WordView stored = chain_entry(index);
    if (!std::equal(key.begin(), key.end(), stored.begin())) {
      problem(where + " holds a key that differs from its data entry's");
    }
    c_.words.insert(c_.words.end(), stored.begin(), stored.end());
  }

  dbio::Context& ctx_;
  const int32_t unit_;
  Content& c_;
  MultiKeyShape& shape_;
  const int32_t bufsz_;
  const int32_t root_, first_, L_, k_;
  const bool rotated_;
  const int32_t balance_, count_, built_, highest_, last_;
  int32_t S_ = 0;
  bool in_index_ = false;
  int32_t ddl_ = -1;
  std::size_t lowest_depth_ = kMaxDepth;
  std::unordered_map<int32_t, DataBlock> data_;
  std::vector<char> used_;
  std::unordered_set<int32_t> tree_nodes_, chain_nodes_;
  // A key not above the one before it: its problem line, its place among the keys, its block.
  struct Descent {
    std::size_t problem;
    int64_t at;
    std::string where;
  };
  std::vector<int32_t> keys_;
  std::vector<Descent> descents_;
};

}  // namespace

Content read_multikey(dbio::Context& ctx, int32_t unit, const int32_t* /*key*/, const int32_t* descriptor,
                      MultiKeyShape* shape) {
  Content c;
  MultiKeyShape local;
  MultiKeyShape& s = shape ? *shape : local;
  s = MultiKeyShape{};
  MultiKeyReader(ctx, unit, descriptor_words(descriptor), c, s).run();
  return c;
}

Content read_data_block(dbio::Context& ctx, int32_t unit, const int32_t* key, int32_t& kind) {
  std::array<int32_t, desc::kExtendedWords> words{};
  int32_t ierr = 0;
  dict::DICRDR(ctx, unit, key, words.data(), ierr);
  const WordView d(words.data(), words.size());
  kind = ierr == 0 ? d(desc::kKind) : 0;
  if (ierr != 0) return Content{{}, 0, {"no dictionary entry for the key"}, {}, {}};
  switch (d(desc::kKind)) {
    case kGroup: return read_group(ctx, unit, key, words.data());
    case kSingleRecord: return read_record(ctx, unit, key, words.data());
    case kIntegerKeyed: return read_integer_keyed(ctx, unit, key, words.data());
    case kMultiKey: return read_multikey(ctx, unit, key, words.data());
    default: return Content{{}, 0, {"kind " + std::to_string(d(desc::kKind)) + " cannot be read yet"}, {}, {}};
  }
}

}  // namespace xdb
