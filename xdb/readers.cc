#include "xdb/readers.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "dbio/names.h"
#include "dbio/pool.h"
#include "dict/dictionary.h"
#include "dict/multikey.h"
#include "dbio/logical_file.h"

namespace xdb {

namespace {

// Descriptor word 2: the kind of a data block, as a logical file's record word 2 holds it.
using dbio::logical_file::kGroup, dbio::logical_file::kIntegerKeyed, dbio::logical_file::kMultiKey,
    dbio::logical_file::kSingleRecord;

// Reads a block into a copy (a page may be reused by the next fetch); false when the block
// number lies outside the file.
bool fetch(dbio::Context& ctx, int32_t unit, int32_t block, std::vector<int32_t>& into, Content& c,
           const char* what) {
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
  into.assign(ctx.words(addr, bufsz), ctx.words(addr, bufsz) + bufsz);
  return true;
}

int32_t type_of(int32_t code) { return code > 100 ? code % 100 : code; }

std::string block_text(int32_t block) { return "block " + std::to_string(block); }

}  // namespace

Content read_group(dbio::Context& ctx, int32_t unit, const int32_t* key, const int32_t* d) {
  Content c;
  const int32_t bufsz = ctx.grdblk.BUFSZ[unit];
  std::vector<int32_t> b;
  std::set<int32_t> seen;
  int32_t previous = 0;
  for (int32_t block = d[3]; block != 0; block = b[1]) {
    if (!seen.insert(block).second) {
      c.problems.push_back("group chain returns to " + block_text(block));
      break;
    }
    if (!fetch(ctx, unit, block, b, c, "group")) break;
    ++c.blocks;
    if (type_of(b[0]) != 4) c.problems.push_back(block_text(block) + " of a group has type " + std::to_string(b[0]));
    if (b[2] != previous) {
      c.problems.push_back(block_text(block) + " names " + std::to_string(b[2]) + " as previous, not " +
                           std::to_string(previous));
    }
    int32_t used = b[3];
    if (used < 0 || used > bufsz - 5) {
      c.problems.push_back(block_text(block) + " claims " + std::to_string(used) + " used words");
      used = std::clamp(used, 0, bufsz - 5);
    }
    int32_t from = 4;
    if (previous == 0) {
      if (used < 12 || !std::equal(key, key + dbio::kKeyWords, b.begin() + 4)) {
        c.problems.push_back("first " + block_text(block) + " of a group does not hold its key");
      }
      from = 4 + std::min(used, 12);
      used = std::max(used - 12, 0);
    }
    c.words.insert(c.words.end(), b.begin() + from, b.begin() + from + used);
    previous = block;
  }
  if (static_cast<int64_t>(c.words.size()) != d[7]) {
    c.problems.push_back("group holds " + std::to_string(c.words.size()) + " words, its descriptor says " +
                         std::to_string(d[7]));
  }
  if (d[11] != previous) {
    c.problems.push_back("group ends in " + block_text(previous) + ", its descriptor says " + std::to_string(d[11]));
  }
  if (int64_t{d[8]} != int64_t{d[7]} + c.blocks) {
    c.problems.push_back("group word 9 of the descriptor is " + std::to_string(d[8]) + ", not words plus blocks");
  }
  return c;
}

Content read_record(dbio::Context& ctx, int32_t unit, const int32_t* /*key*/, const int32_t* d) {
  Content c;
  std::vector<int32_t> b;
  if (!fetch(ctx, unit, d[3], b, c, "shared record")) return c;
  c.blocks = 1;
  const int64_t bufsz = ctx.grdblk.BUFSZ[unit];
  if (b[0] != 10) c.problems.push_back("shared " + block_text(d[3]) + " has type " + std::to_string(b[0]));
  const int64_t first = d[6], length = d[4];
  if (first < 3 || length < 1 || first + 1 + length > std::min<int64_t>(b[1], bufsz)) {
    c.problems.push_back("single record at word " + std::to_string(first) + " of " + std::to_string(length) +
                         " words does not lie inside the used part of " + block_text(d[3]));
    return c;
  }
  if (b[first] != length) {
    c.problems.push_back("single record header says " + std::to_string(b[first]) + " words, its descriptor " +
                         std::to_string(length));
  }
  c.words.assign(b.begin() + first + 1, b.begin() + first + 1 + length);
  return c;
}

Content read_integer_keyed(dbio::Context& ctx, int32_t unit, const int32_t* key, const int32_t* d) {
  Content c;
  const int32_t L = d[4];
  const int64_t bufsz = ctx.grdblk.BUFSZ[unit];
  if (L < 1 || L + 4 > bufsz) {
    c.problems.push_back("relation entry length " + std::to_string(L) + " does not fit a block");
    return c;
  }
  const int64_t capacity = (bufsz - 4) / L;

  // The root and its index: every pair's key is the first key of its child.
  std::vector<int32_t> root, level2, data;
  std::vector<std::pair<int32_t, int32_t>> data_pairs;  // (first key, block) in index order
  if (fetch(ctx, unit, d[2], root, c, "root")) {
    if (root[0] != 1) c.problems.push_back("root " + block_text(d[2]) + " has type " + std::to_string(root[0]));
    if (!std::equal(key, key + dbio::kKeyWords, root.begin() + 1)) c.problems.push_back("root does not hold its key");
    const int64_t pairs = root[22];
    if (pairs < 0 || 25 + 2 * pairs > bufsz) {
      c.problems.push_back("root claims " + std::to_string(pairs) + " pairs");
    } else {
      for (int64_t i = 0; i < pairs; ++i) {
        const int32_t level2_key = root[25 + 2 * i], level2_block = root[26 + 2 * i];
        if (!fetch(ctx, unit, level2_block, level2, c, "level-2")) continue;
        if (level2[0] != 2 || level2[1] != d[2]) {
          c.problems.push_back("level-2 " + block_text(level2_block) + " has type " + std::to_string(level2[0]) +
                               " and root " + std::to_string(level2[1]));
        }
        const int64_t m = level2[2];
        if (m < 1 || 3 + 2 * m > bufsz) {
          c.problems.push_back("level-2 " + block_text(level2_block) + " claims " + std::to_string(m) + " pairs");
          continue;
        }
        if (level2[3] != level2_key) {
          c.problems.push_back("root pair key " + std::to_string(level2_key) + " differs from the first key of level-2 " +
                               block_text(level2_block));
        }
        for (int64_t j = 0; j < m; ++j) data_pairs.emplace_back(level2[3 + 2 * j], level2[4 + 2 * j]);
      }
    }
  }

  // The data blocks along their chain, in key order.
  std::set<int32_t> seen;
  int32_t previous = 0;
  std::size_t index = 0;
  bool first_entry = true;
  int32_t last_key = 0;
  for (int32_t block = d[3]; block != 0; block = data[1]) {
    if (!seen.insert(block).second) {
      c.problems.push_back("data chain returns to " + block_text(block));
      break;
    }
    if (!fetch(ctx, unit, block, data, c, "data")) break;
    ++c.blocks;
    if (type_of(data[0]) != 3) c.problems.push_back("data " + block_text(block) + " has type " + std::to_string(data[0]));
    if (data[2] != previous) c.problems.push_back("data " + block_text(block) + " has a wrong back link");
    const int64_t n = data[3];
    if (n < 0 || n > capacity) {
      c.problems.push_back("data " + block_text(block) + " claims " + std::to_string(n) + " entries");
      break;
    }
    if (n > 0) {  // an empty relation has one empty data block and no index
      if (index < data_pairs.size()) {
        if (data_pairs[index].second != block || data_pairs[index].first != data[4]) {
          c.problems.push_back("index pair " + std::to_string(index + 1) + " does not name data " + block_text(block) +
                               " with its first key");
        }
      } else {
        c.problems.push_back("data " + block_text(block) + " has no index pair");
      }
    }
    ++index;
    for (int64_t i = 0; i < n; ++i) {
      const int32_t k = data[4 + i * L];
      if (!first_entry && k <= last_key) {
        c.problems.push_back("key " + std::to_string(k) + " in data " + block_text(block) + " is not above " +
                             std::to_string(last_key));
      }
      first_entry = false;
      last_key = k;
      c.words.insert(c.words.end(), data.begin() + 4 + i * L, data.begin() + 4 + (i + 1) * L);
    }
    previous = block;
  }
  if (d[7] > 0 && index != data_pairs.size()) {
    c.problems.push_back("the index names " + std::to_string(data_pairs.size()) + " data blocks, the chain has " +
                         std::to_string(index));
  }
  const int64_t entries = static_cast<int64_t>(c.words.size()) / L;
  if (entries != d[7]) {
    c.problems.push_back("relation holds " + std::to_string(entries) + " entries, its descriptor says " +
                         std::to_string(d[7]));
  }
  if (c.blocks != d[8]) {
    c.problems.push_back("relation has " + std::to_string(c.blocks) + " data blocks, its descriptor says " +
                         std::to_string(d[8]));
  }
  if (previous != d[11]) c.problems.push_back("relation ends in " + block_text(previous) + ", its descriptor says " + std::to_string(d[11]));
  if (entries > 0 && (d[6] != static_cast<int32_t>(c.words[0]) || d[10] != last_key)) {
    c.problems.push_back("relation's lowest or highest key in its descriptor is wrong");
  }
  return c;
}

namespace {

namespace mk = dict::multikey;

std::string str(int64_t v) { return std::to_string(v); }

// Reads one relation keyed by several words; the layout is described in dict/multikey.h.
class MultiKeyReader {
 public:
  MultiKeyReader(dbio::Context& ctx, int32_t unit, const int32_t* d, Content& c, MultiKeyShape& shape)
      : ctx_(ctx),
        unit_(unit),
        c_(c),
        shape_(shape),
        bufsz_(ctx.grdblk.BUFSZ[unit]),
        root_(d[2]),
        first_(d[3]),
        L_(d[4]),
        k_(d[5] == INT32_MIN ? 0 : std::abs(d[5])),
        rotated_(d[5] < 0),
        balance_(d[6]),
        count_(d[7]),
        built_(d[9]),
        highest_(d[10]),
        last_(d[11]) {}

  void run() {
    if (!mk::fits(bufsz_, L_, k_)) {
      return problem("relation of entries of " + str(L_) + " words keyed by " + str(k_) +
                     " words does not fit blocks of " + str(bufsz_) + " words");
    }
    S_ = mk::index_entry_words(L_, k_);
    in_index_ = mk::entries_in_index(L_, k_);
    read_data_chain();
    used_.assign(chain_entries(), 0);
    if (root_ == 0) {
      if (built_ != 0) problem("descriptor word 10 is " + str(built_) + " but the relation has no index");
      if (data_.size() > 1) problem("a relation without an index has " + str(data_.size()) + " data blocks");
      for (int64_t i = 0; i < chain_entries(); ++i) emit(shape_.chain_words.data() + i * L_, "data block");
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
      if (tree_nodes_.count(built_) == 0) problem("descriptor word 10 names " + str(built_) + ", not an index node");
    }
    const int64_t entries = static_cast<int64_t>(c_.words.size()) / L_;
    if (entries != count_) problem("relation holds " + str(entries) + " entries, its descriptor says " + str(count_));
    if (k_ == 1 && entries > 0 && highest_ != last_key_[0]) {
      problem("highest key in the descriptor is " + str(highest_) + ", the last entry's key " + str(last_key_[0]));
    }
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
  int64_t chain_entries() const { return static_cast<int64_t>(shape_.chain_words.size()) / L_; }

  // Type codes: kind + k * 100, plus DDL object * 1000 where that applies, the same in all blocks.
  void check_type(int32_t code, int32_t kind, bool with_ddl, const std::string& what) {
    const int32_t expected = k_ * 100 + kind;
    if (with_ddl ? code < 0 || code % 1000 != expected : code != expected) {
      return problem(what + " has type " + str(code) + ", expected " + str(expected) + (with_ddl ? " modulo 1000" : ""));
    }
    if (!with_ddl) return;
    if (ddl_ < 0) ddl_ = code / 1000;
    if (code / 1000 != ddl_) problem(what + " names DDL object " + str(code / 1000) + ", others " + str(ddl_));
  }

  void read_data_chain() {
    std::vector<int32_t> b;
    std::unordered_set<int32_t> seen;
    int32_t previous = 0;
    for (int32_t block = first_; block != 0; block = b[1]) {
      const std::string what = "data " + block_text(block);
      if (!seen.insert(block).second) {
        problem("data chain returns to " + block_text(block));
        break;
      }
      if (!fetch(ctx_, unit_, block, b, c_, "data")) break;
      ++c_.blocks;
      check_type(b[0], mk::kDataKind, true, what);
      if (b[2] != previous) problem(what + " names " + str(b[2]) + " as previous, not " + str(previous));
      if (b[4] != L_) problem(what + " has entry length " + str(b[4]) + ", not " + str(L_));
      const int64_t in_use = b[3];
      if (in_use < mk::kDataHeaderWords + L_ || in_use > bufsz_ || (in_use - mk::kDataHeaderWords) % L_ != 0) {
        problem(what + " claims " + str(in_use) + " words in use");
        break;
      }
      const int64_t n = (in_use - mk::kDataHeaderWords) / L_;
      data_[block] = {chain_entries(), n};
      shape_.data_entries.push_back(static_cast<int32_t>(n));
      const auto from = b.begin() + (mk::kFirstEntryWord - 1);
      shape_.chain_words.insert(shape_.chain_words.end(), from, from + n * L_);
      previous = block;
    }
    if (previous != last_) problem("data chain ends in " + block_text(previous) + ", its descriptor says " + str(last_));
  }

  void read_index_chain() {
    std::vector<int32_t> b;
    int32_t previous = 0;
    for (int32_t block = root_; block != 0; block = b[1]) {
      if (!chain_nodes_.insert(block).second) {
        problem("chain of index blocks returns to " + block_text(block));
        break;
      }
      if (!fetch(ctx_, unit_, block, b, c_, "index")) break;
      if (b[2] != previous) {
        problem("index " + block_text(block) + " names " + str(b[2]) + " as previous, not " + str(previous));
      }
      previous = block;
    }
  }

  // The node's entries in key order: those below its first entry, each entry, those above it.
  void visit(int32_t block, int32_t parent, std::size_t depth) {
    const std::string what = "index " + block_text(block);
    if (depth >= kMaxDepth) return problem("index deeper than " + str(kMaxDepth) + " levels at " + what);
    if (!tree_nodes_.insert(block).second) return problem(what + " is reached twice");
    std::vector<int32_t> b;
    if (!fetch(ctx_, unit_, block, b, c_, "index")) return;
    ++c_.blocks;
    check_type(b[0], mk::kIndexKind, in_index_, what);
    if (b[4] != S_) problem(what + " has index entry length " + str(b[4]) + ", not " + str(S_));
    const int64_t in_use = b[3];
    if (in_use < mk::kNodeHeaderWords + S_ || in_use > bufsz_ || (in_use - mk::kNodeHeaderWords) % S_ != 0) {
      return problem(what + " claims " + str(in_use) + " words in use");
    }
    if (b[5] != parent) problem(what + " names " + str(b[5]) + " as its parent, not " + str(parent));
    const bool lowest = b[6] == 0;
    if (lowest && lowest_depth_ == kMaxDepth) lowest_depth_ = depth;
    if (lowest && depth != lowest_depth_) {
      problem(what + " is a lowest-level node at level " + str(depth + 1) + ", others at " + str(lowest_depth_ + 1));
    }
    const int64_t m = (in_use - mk::kNodeHeaderWords) / S_;
    if (shape_.node_entries.size() <= depth) shape_.node_entries.resize(depth + 1);
    shape_.node_entries[depth].push_back(static_cast<int32_t>(m));
    if (!lowest) visit(b[6], block, depth + 1);
    for (int64_t i = 0; i < m; ++i) {
      const int32_t* entry = b.data() + mk::kNodeHeaderWords + i * S_;
      emit(entry, what);
      const int32_t child = entry[S_ - 1];
      if (lowest && child != 0) problem(what + " is in the lowest level, yet entry " + str(i + 1) + " has a child");
      if (!lowest && child == 0) problem(what + " entry " + str(i + 1) + " has no child");
      if (!lowest && child != 0) visit(child, block, depth + 1);
    }
  }

  // The next entry in key order: its key must be above the one before; from an index entry the
  // entry is taken where it lives.
  void emit(const int32_t* entry, const std::string& where) {
    if (!last_key_.empty() && dict::compare_keys(entry, last_key_.data(), k_) <= 0) {
      problem("a key in " + where + " is not above the key before it");
    }
    last_key_.assign(entry, entry + k_);
    if (root_ == 0 || in_index_) return void(c_.words.insert(c_.words.end(), entry, entry + L_));
    const int32_t data = entry[k_], word = entry[k_ + 1];
    const auto it = data_.find(data);
    const int64_t offset = int64_t{word} - mk::kFirstEntryWord;
    if (it == data_.end() || offset < 0 || offset % L_ != 0 || offset / L_ >= it->second.n) {
      return problem(where + " names word " + str(word) + " of block " + str(data) + ", not a data entry");
    }
    const int64_t index = it->second.first + offset / L_;
    if (used_[index]) return problem(where + " names an entry of data " + block_text(data) + " named before");
    used_[index] = 1;
    const int32_t* stored = shape_.chain_words.data() + index * L_;
    if (!std::equal(entry, entry + k_, stored)) problem(where + " holds a key that differs from its data entry's");
    c_.words.insert(c_.words.end(), stored, stored + L_);
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
  std::vector<int32_t> last_key_;
};

}  // namespace

Content read_multikey(dbio::Context& ctx, int32_t unit, const int32_t* /*key*/, const int32_t* descriptor,
                      MultiKeyShape* shape) {
  Content c;
  MultiKeyShape local;
  MultiKeyShape& s = shape ? *shape : local;
  s = MultiKeyShape{};
  MultiKeyReader(ctx, unit, descriptor, c, s).run();
  return c;
}

Content read_data_block(dbio::Context& ctx, int32_t unit, const int32_t* key, int32_t& kind) {
  std::array<int32_t, 14> d{};
  int32_t ierr = 0;
  dict::DICRDR(ctx, unit, key, d.data(), ierr);
  kind = ierr == 0 ? d[1] : 0;
  if (ierr != 0) return Content{{}, 0, {"no dictionary entry for the key"}, {}};
  switch (d[1]) {
    case kGroup: return read_group(ctx, unit, key, d.data());
    case kSingleRecord: return read_record(ctx, unit, key, d.data());
    case kIntegerKeyed: return read_integer_keyed(ctx, unit, key, d.data());
    case kMultiKey: return read_multikey(ctx, unit, key, d.data());
    default: return Content{{}, 0, {"kind " + std::to_string(d[1]) + " cannot be read yet"}, {}};
  }
}

}  // namespace xdb
