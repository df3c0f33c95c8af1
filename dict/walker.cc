#include "dict/walker.h"

#include <algorithm>
#include <array>
#include <unordered_set>

#include "dbio/block_kinds.h"
#include "dbio/names.h"
#include "dbio/open_states.h"
#include "dbio/word_view.h"
#include "dict/descriptor.h"
#include "dict/dictionary.h"

namespace dict {

namespace {

using dbio::WordView;
constexpr int32_t kKeyWords = dbio::kKeyWords;
constexpr int32_t kHeaderBlock = 1;

// Index entry i (from 0) of an index block whose entries start at word `first`.
WordView index_entry(const WordView& block, int32_t first, int32_t i) {
  return block.part(first + int64_t{i} * kIndexEntryWords, kIndexEntryWords);
}

std::string str(int64_t v) { return std::to_string(v); }

class Walker {
 public:
  Walker(dbio::Context& ctx, int32_t u, const EntryVisitor& visit, DictionaryWalk& out)
      : ctx_(ctx),
        g_(ctx.grdblk),
        u_(u),
        visit_(visit),
        out_(out),
        bufsz_(ctx.grdblk.BUFSZ[u]),
        dbdlen_(ctx.grdblk.DBDLEN[u]),
        dl_(ctx.grdblk.DBDLEN[u] + kKeyWords) {}

  void run() {
    if (dbdlen_ < kKeyWords || data_capacity(bufsz_, dl_) < 1) {
      return problem("blocks of " + str(bufsz_) + " words cannot hold a dictionary entry of " + str(dl_) + " words");
    }
    if (g_.NUMDB[u_] == 0) {
      // The blocks of an empty dictionary are written by its first insertion.
      if (g_.DICNSI[u_] != 1) problem("empty dictionary with DICNSI " + str(g_.DICNSI[u_]) + ", expected 1");
      if (g_.DICNDB[u_] != 1) problem("empty dictionary with DICNDB " + str(g_.DICNDB[u_]) + ", expected 1");
      for (int32_t block : {g_.DICTPI[u_], g_.DICFDB[u_], g_.DICFSI[u_]}) {
        if (block > kHeaderBlock && block <= g_.USDBKS[u_] && seen_.insert(block).second) out_.blocks.push_back(block);
      }
      return;
    }
    const std::vector<int32_t> pi_copy = read(g_.DICTPI[u_], kPrimaryIndexType, "DICTPI");
    if (pi_copy.empty()) return;
    const WordView pi(pi_copy);
    const int32_t count = bounded(g_.DICNSI[u_], primary_capacity(bufsz_), "primary index (DICNSI)");
    const std::string pi_name = "primary index block " + str(g_.DICTPI[u_]);
    if (count > 0) {
      const int32_t first_si = index_entry(pi, kPrimaryFirstWord, 0)(dbio::kIndexBlockWord);
      if (first_si != g_.DICFSI[u_]) {
        problem(pi_name + " entry 1 names block " + str(first_si) + ", but DICFSI is " + str(g_.DICFSI[u_]));
      }
    }
    for (int32_t i = 0; i < count; ++i) {
      const WordView record = index_entry(pi, kPrimaryFirstWord, i);
      ascending(record.begin(), previous_si_key_, pi_name + " entry " + str(i + 1));
      walk_secondary(record(dbio::kIndexBlockWord), record.begin(), pi_name + " entry " + str(i + 1));
    }
    finish();
  }

 private:
  struct DataBlock {
    int32_t block, next, previous;
  };

  void problem(std::string line) { out_.problems.push_back(std::move(line)); }

  // A copy of block `block`, which `named_by` names as a dictionary block of type `type`; empty
  // when the number is not one of the unit's blocks, the block was reached before, or its type is
  // wrong (a problem line each).
  std::vector<int32_t> read(int32_t block, int32_t type, const std::string& named_by) {
    if (block <= kHeaderBlock || block > g_.USDBKS[u_]) {
      problem(named_by + " names block " + str(block) + ", outside 2.." + str(g_.USDBKS[u_]));
      return {};
    }
    if (!seen_.insert(block).second) {
      problem(named_by + " names block " + str(block) + ", which the walk has already reached");
      return {};
    }
    out_.blocks.push_back(block);
    int32_t addr = 0;
    DICBLK(ctx_, u_, block, addr);
    const int32_t* words = ctx_.words(addr, bufsz_);
    std::vector<int32_t> copy(words, words + bufsz_);
    const int32_t code = WordView(copy)(dbio::kTypeWord);
    if (code != type) {
      problem("block " + str(block) + " (named by " + named_by + ") has type " + str(code) + ", expected " + str(type));
      return {};
    }
    return copy;
  }

  int32_t bounded(int32_t count, int32_t capacity, const std::string& what) {
    if (count >= 1 && count <= capacity) return count;
    problem(what + " holds " + str(count) + " entries, outside 1.." + str(capacity));
    return std::clamp(count, 0, capacity);
  }

  // Keys of one level must ascend strictly.
  void ascending(const int32_t* key, std::array<int32_t, kKeyWords + 1>& previous, const std::string& where) {
    if (previous[kKeyWords] && DICCMP(previous.data(), key) >= 0) {
      problem(where + ": key " + describe_key(key) + " is not above " + describe_key(previous.data()));
    }
    std::copy_n(key, kKeyWords, previous.begin());
    previous[kKeyWords] = 1;
  }

  void same_key(const int32_t* index_key, const int32_t* child_key, const std::string& where, int32_t child) {
    if (DICCMP(index_key, child_key) != 0) {
      problem(where + ": key " + describe_key(index_key) + " differs from the first key " + describe_key(child_key) +
              " of block " + str(child));
    }
  }

  void walk_secondary(int32_t block, const int32_t* pi_record, const std::string& named_by) {
    const std::vector<int32_t> si_copy = read(block, kSecondaryIndexType, named_by);
    if (si_copy.empty()) return;
    const WordView si(si_copy);
    ++out_.secondary_blocks;
    const std::string name = "secondary index block " + str(block);
    if (si(kSecondaryIndexWord) != g_.DICTPI[u_]) {
      problem(name + " names primary index block " + str(si(kSecondaryIndexWord)) + ", not " + str(g_.DICTPI[u_]));
    }
    const int32_t count = bounded(si(kSecondaryCountWord), secondary_capacity(bufsz_), name);
    if (count > 0) same_key(pi_record, index_entry(si, kSecondaryFirstWord, 0).begin(), named_by, block);
    for (int32_t i = 0; i < count; ++i) {
      const WordView record = index_entry(si, kSecondaryFirstWord, i);
      ascending(record.begin(), previous_data_index_key_, name + " entry " + str(i + 1));
      walk_data(record(dbio::kIndexBlockWord), record.begin(), name + " entry " + str(i + 1));
    }
  }

  void walk_data(int32_t block, const int32_t* si_record, const std::string& named_by) {
    const std::vector<int32_t> data_copy = read(block, kDictionaryDataType, named_by);
    if (data_copy.empty()) return;
    const WordView data(data_copy);
    ++out_.data_blocks;
    const std::string name = "data block " + str(block);
    chain_.push_back({block, data(kDataNextWord), data(kDataPreviousWord)});
    const int32_t count = bounded(data(kDataCountWord), data_capacity(bufsz_, dl_), name);
    // Entry i (from 0): its key, then its descriptor.
    auto entry_at = [&](int32_t i) { return data.part(kDataFirstWord + int64_t{i} * dl_, dl_); };
    if (count > 0) same_key(si_record, entry_at(0).begin(), named_by, block);
    for (int32_t i = 0; i < count; ++i) {
      const int32_t offset = kDataFirstWord - 1 + i * dl_;  // the word before the entry
      const WordView entry = entry_at(i);
      const WordView entry_descriptor = entry.part(kKeyWords + 1, dbdlen_);
      ascending(entry.begin(), previous_entry_key_, name + " entry " + str(i + 1));
      const int32_t sequence = entry_descriptor(descriptor::kSequence);
      if (sequence < 1 || sequence > g_.INFINU[u_]) {
        problem(name + " entry " + str(i + 1) + ": sequence number " + str(sequence) + " outside 1.." +
                str(g_.INFINU[u_]));
      } else if (!sequences_.insert(sequence).second) {
        problem(name + " entry " + str(i + 1) + ": sequence number " + str(sequence) + " used twice");
      }
      ++out_.entries;
      if (visit_) visit_(WalkedEntry{block, offset, entry.begin(), entry_descriptor.begin()});
    }
  }

  // The data blocks in index order must be the chain from DICFDB, linked both ways.
  void finish() {
    if (chain_.empty()) {
      problem("the dictionary reaches no data block");
    } else if (chain_.front().block != g_.DICFDB[u_]) {
      problem("the first data block is " + str(chain_.front().block) + ", but DICFDB is " + str(g_.DICFDB[u_]));
    }
    for (std::size_t i = 0; i < chain_.size(); ++i) {
      const int32_t next = i + 1 < chain_.size() ? chain_[i + 1].block : 0;
      const int32_t previous = i > 0 ? chain_[i - 1].block : 0;
      const std::string name = "data block " + str(chain_[i].block);
      if (chain_[i].next != next) problem(name + " names next block " + str(chain_[i].next) + ", expected " + str(next));
      if (chain_[i].previous != previous) {
        problem(name + " names previous block " + str(chain_[i].previous) + ", expected " + str(previous));
      }
    }
    if (out_.entries != g_.NUMDB[u_]) {
      problem("NUMDB is " + str(g_.NUMDB[u_]) + ", but the dictionary holds " + str(out_.entries) + " entries");
    }
    if (out_.data_blocks != g_.DICNDB[u_]) {
      problem("DICNDB is " + str(g_.DICNDB[u_]) + ", but the index reaches " + str(out_.data_blocks) + " data blocks");
    }
    if (out_.secondary_blocks != g_.DICNSI[u_]) {
      problem("DICNSI is " + str(g_.DICNSI[u_]) + ", but the primary index reaches " + str(out_.secondary_blocks) +
              " secondary index blocks");
    }
  }

  dbio::Context& ctx_;
  const dbio::Grdblk& g_;
  const int32_t u_;
  const EntryVisitor& visit_;
  DictionaryWalk& out_;
  const int32_t bufsz_, dbdlen_, dl_;
  std::unordered_set<int32_t> seen_;  // blocks already reached
  std::vector<DataBlock> chain_;
  std::unordered_set<int32_t> sequences_;
  // The last key of each level so far; the extra word says whether there is one.
  std::array<int32_t, kKeyWords + 1> previous_si_key_{}, previous_data_index_key_{}, previous_entry_key_{};
};

}  // namespace

std::string describe_key(const int32_t* key) {
  const WordView words(key, kKeyWords);
  static_assert(dbio::kNameWords == 2);  // the name's two words
  std::string text = "'" + dbio::name_chars(words(1), words(dbio::kNameWords)) + "'";
  for (int k = dbio::kNameWords + 1; k <= kKeyWords; ++k) {
    text += (k == dbio::kNameWords + 1 ? "(" : ",") + str(words(k));
  }
  return text + ")";
}

DictionaryWalk walk_dictionary(dbio::Context& ctx, int32_t DBNUM, const EntryVisitor& visit) {
  DictionaryWalk walk;
  if (DBNUM < 1 || DBNUM > dbio::kUnits || ctx.grdblk.DBOPND[DBNUM] == dbio::kUnitClosed) {
    walk.problems.push_back("unit " + str(DBNUM) + " is not an open database");
    return walk;
  }
  Walker(ctx, DBNUM, visit, walk).run();
  return walk;
}

}  // namespace dict
