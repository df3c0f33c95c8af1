#include "xdb/block_scan.h"

#include <algorithm>
#include <cstdlib>

#include "dbio/block_kinds.h"
#include "dbio/ddl_plan.h"
#include "dbio/header_block.h"
#include "dbio/logical_file.h"
#include "dbio/pool.h"
#include "dbio/word_view.h"
#include "dict/descriptor.h"
#include "dict/dictionary.h"
#include "dict/multikey.h"
#include "dict/walker.h"

namespace xdb {

namespace {

namespace desc = dict::descriptor;
namespace chain_block = dbio::chain_block;
namespace record_block = dbio::record_block;
namespace key_block = dbio::key_block;
namespace mk = dict::multikey;
using dbio::kTypeWord;
using dbio::logical_file::kGroup, dbio::logical_file::kIntegerKeyed, dbio::logical_file::kMultiKey,
    dbio::logical_file::kSingleRecord;

std::string str(int64_t v) { return std::to_string(v); }

// Kinds 8 and 9 carry their DDL object in the thousands of the type code.
constexpr int32_t kKeyedObjectScale = dbio::kObjectScale * dbio::kKindScale;
// Deeper than any index of a file the size of an XDB can hold: a tree of nodes of at least
// kMinNodeEntries entries reaches 2^31 blocks long before this depth.
constexpr int kMaxIndexDepth = 64;

// One scan: the unit's geometry, the block in hand and the first problem met.
class Scan {
 public:
  Scan(dbio::Context& ctx, int32_t unit, const DataBlockEntry& entry, WordSink* sink)
      : ctx_(ctx),
        unit_(unit),
        d_(entry.descriptor.data(), desc::kStandardWords),
        key_(entry.key.data()),
        sink_(sink),
        bufsz_(ctx.grdblk.BUFSZ[unit]),
        blocks_in_file_(ctx.grdblk.USDBKS[unit]) {}

  ScanResult run() {
    switch (d_(desc::kKind)) {
      case kGroup: group(); break;
      case kSingleRecord: record(); break;
      case kIntegerKeyed: integer_keyed(); break;
      case kMultiKey: multikey(); break;
      default: fail("its dictionary entry names kind " + str(d_(desc::kKind)));
    }
    return std::move(result_);
  }

 private:
  bool failed() const { return !result_.problem.empty(); }
  void fail(const std::string& problem) {
    if (!failed()) result_.problem = problem;
  }

  // Makes `block` resident and returns a view of it; false (with the problem) when the number
  // lies outside the file or the walk has taken more blocks than the file has, which only a
  // loop can make it do.
  bool fetch(int32_t block, const char* what, dbio::WordView& view) {
    if (block < 2 || block > blocks_in_file_) {
      fail(std::string(what) + " block " + str(block) + " lies outside the file");
      return false;
    }
    if (++steps_ > blocks_in_file_) {
      fail(std::string("the blocks of its ") + what + " chain return to block " + str(block));
      return false;
    }
    int32_t addr = 0;
    dbio::PAGFET(ctx_, unit_, block, addr);
    view = dbio::WordView(ctx_.words(addr, bufsz_), bufsz_);
    return true;
  }

  void hand_over(const int32_t* words, int64_t count) {
    if (count <= 0) return;
    result_.words += count;
    if (sink_) sink_->words(words, count);
  }

  void check_total(int64_t expected, const char* what) {
    if (!failed() && counted_ != expected) {
      fail("it holds " + str(counted_) + " " + what + ", its descriptor says " + str(expected));
    }
  }

  void group() {
    int32_t previous = 0;
    dbio::WordView b;
    for (int32_t block = d_(desc::kFirstBlock); block != 0 && !failed(); block = b(chain_block::kNextWord)) {
      if (!fetch(block, "group", b)) return;
      if (dbio::kind_of(b(kTypeWord)) != dbio::kGroupKind) return fail("group block " + str(block) + " has type " + str(b(kTypeWord)));
      if (b(chain_block::kPreviousWord) != previous) return fail("group block " + str(block) + " has a wrong back link");
      int64_t used = b(chain_block::kCountWord);
      if (used < 0 || used > bufsz_ - chain_block::kGroupReserve) {
        return fail("group block " + str(block) + " claims " + str(used) + " used words");
      }
      int64_t from = chain_block::kFirstEntryWord;
      if (previous == 0) {
        result_.object = dbio::qualifier_of(b(kTypeWord));
        if (used < chain_block::kGroupKeyWords ||
            !std::equal(key_, key_ + dbio::kKeyWords, b.part(chain_block::kFirstEntryWord, dbio::kKeyWords).begin())) {
          return fail("its first block " + str(block) + " does not hold its key");
        }
        from += chain_block::kGroupKeyWords;
        used -= chain_block::kGroupKeyWords;
      }
      counted_ += used;
      hand_over(b.part(from, used).begin(), used);
      previous = block;
    }
    check_total(d_(desc::kEntries), "data words");
  }

  void record() {
    if (d_(desc::kWritten) == 0) return;  // created, never written: no words
    const int32_t shared = d_(desc::kFirstBlock);
    dbio::WordView b;
    if (!fetch(shared, "shared record", b)) return;
    if (b(kTypeWord) != dbio::kRecordKind) return fail("its shared block " + str(shared) + " has type " + str(b(kTypeWord)));
    const int64_t first = d_(desc::kRecordAt), length = d_(desc::kLength);
    const int64_t last = first - 1 + record_block::kRecordHeaderWords + length;
    if (first <= record_block::kHeaderWords || length < 1 ||
        last > std::min<int64_t>(b(record_block::kUsedWord), bufsz_)) {
      return fail("its record at word " + str(first) + " of " + str(length) + " words does not lie inside shared block " +
                  str(shared));
    }
    const dbio::WordView rec = b.part(first, record_block::kRecordHeaderWords + length);
    if (rec(record_block::kRecordLengthWord) != length) {
      return fail("its record says " + str(rec(record_block::kRecordLengthWord)) + " words, its descriptor " + str(length));
    }
    result_.object = rec(1);
    hand_over(rec.part(record_block::kRecordHeaderWords + 1, length).begin(), length);
  }

  void integer_keyed() {
    const int64_t L = d_(desc::kLength);
    if (L < 1 || L + chain_block::kHeaderWords > bufsz_) return fail("its entries of " + str(L) + " words do not fit a block");
    const int64_t capacity = (bufsz_ - chain_block::kHeaderWords) / L;
    int32_t previous = 0;
    bool any = false;
    int32_t last_key = 0;
    dbio::WordView b;
    for (int32_t block = d_(desc::kFirstBlock); block != 0 && !failed(); block = b(chain_block::kNextWord)) {
      if (!fetch(block, "data", b)) return;
      if (dbio::kind_of(b(kTypeWord)) != dbio::kDataKind) return fail("data block " + str(block) + " has type " + str(b(kTypeWord)));
      if (b(chain_block::kPreviousWord) != previous) return fail("data block " + str(block) + " has a wrong back link");
      if (previous == 0) result_.object = dbio::qualifier_of(b(kTypeWord));
      const int64_t n = b(chain_block::kCountWord);
      if (n < 0 || n > capacity) return fail("data block " + str(block) + " claims " + str(n) + " entries");
      const dbio::WordView entries = b.part(chain_block::kFirstEntryWord, n * L);
      // Inserted again, entries whose keys do not ascend would land elsewhere or replace others.
      for (int64_t i = 0; i < n; ++i) {
        const int32_t k = entries(1 + i * L);
        if (any && k <= last_key) return fail("key " + str(k) + " in data block " + str(block) + " is not above " + str(last_key));
        any = true;
        last_key = k;
      }
      counted_ += n;
      hand_over(entries.begin(), n * L);
      previous = block;
    }
    check_total(d_(desc::kEntries), "entries");
  }

  void multikey() {
    L_ = d_(desc::kLength);
    const int32_t signed_k = d_(desc::kKeyWords);
    k_ = signed_k == INT32_MIN ? 0 : std::abs(signed_k);
    rotated_ = signed_k < 0 && k_ > 1;
    if (!mk::fits(bufsz_, L_, k_)) {
      return fail("its entries of " + str(L_) + " words keyed by " + str(k_) + " words do not fit blocks of " +
                  str(bufsz_) + " words");
    }
    if (rotated_) entry_.resize(static_cast<std::size_t>(L_));
    const int32_t root = d_(desc::kRoot);
    if (root != 0 && mk::entries_in_index(L_, k_)) {
      S_ = mk::index_entry_words(L_, k_);
      node(root, 0);
    } else {
      data_chain();
    }
    check_total(d_(desc::kEntries), "entries");
  }

  // Hands over `n` entries of L words at `first`, each with its key turned back when rotated.
  void entries(const int32_t* first, int64_t n) {
    if (!rotated_) return hand_over(first, n * L_);
    for (int64_t i = 0; i < n; ++i) {
      std::copy(first + i * L_, first + (i + 1) * L_, entry_.begin());
      std::rotate(entry_.begin(), entry_.begin() + 1, entry_.begin() + k_);
      hand_over(entry_.data(), L_);
    }
  }

  void data_chain() {
    int32_t previous = 0;
    dbio::WordView b;
    for (int32_t block = d_(desc::kFirstBlock); block != 0 && !failed(); block = b(key_block::kNextWord)) {
      if (!fetch(block, "data", b)) return;
      if (dbio::kind_of(b(kTypeWord)) != mk::kDataKind) return fail("data block " + str(block) + " has type " + str(b(kTypeWord)));
      if (b(key_block::kPreviousWord) != previous) return fail("data block " + str(block) + " has a wrong back link");
      const int64_t in_use = b(key_block::kInUseWord);
      if (b(key_block::kStrideWord) != L_ || in_use < key_block::kDataHeaderWords || in_use > bufsz_ ||
          (in_use - key_block::kDataHeaderWords) % L_ != 0) {
        return fail("data block " + str(block) + " claims " + str(in_use) + " words in use for entries of " +
                    str(b(key_block::kStrideWord)) + " words");
      }
      if (previous == 0) result_.object = b(kTypeWord) / kKeyedObjectScale;
      const int64_t n = (in_use - key_block::kDataHeaderWords) / L_;
      counted_ += n;
      entries(b.part(key_block::kFirstEntryWord, n * L_).begin(), n);
      previous = block;
    }
  }

  // The entries below `block` in key order: the child below the first entry, then each entry
  // followed by the child above it. A node is fetched again after each child, whose reading may
  // have reused its page.
  // Parent words are not looked at: the format's own writer leaves them stale until a later
  // descent refreshes them, and the descent alone decides what the index holds.
  void node(int32_t block, int depth) {
    if (depth > kMaxIndexDepth) return fail("its index is deeper than " + str(kMaxIndexDepth) + " levels");
    dbio::WordView b;
    if (!fetch(block, "index", b)) return;
    if (dbio::kind_of(b(kTypeWord)) != mk::kIndexKind || b(key_block::kStrideWord) != S_) {
      return fail("index block " + str(block) + " has type " + str(b(kTypeWord)) + " and entries of " +
                  str(b(key_block::kStrideWord)) + " words");
    }
    const int64_t in_use = b(key_block::kInUseWord);
    if (in_use < key_block::kNodeHeaderWords || in_use > bufsz_ || (in_use - key_block::kNodeHeaderWords) % S_ != 0) {
      return fail("index block " + str(block) + " claims " + str(in_use) + " words in use");
    }
    if (depth == 0) result_.object = b(kTypeWord) / kKeyedObjectScale;
    const int64_t m = (in_use - key_block::kNodeHeaderWords) / S_;
    int32_t child = b(key_block::kBelowFirstWord);
    for (int64_t i = 0; i <= m && !failed(); ++i) {
      if (child != 0) {
        node(child, depth + 1);
        if (failed() || i == m) return;
        int32_t addr = 0;
        dbio::PAGFET(ctx_, unit_, block, addr);
        b = dbio::WordView(ctx_.words(addr, bufsz_), bufsz_);
      }
      if (i == m) return;
      const dbio::WordView e = b.part(key_block::kFirstIndexWord + i * S_, S_);
      ++counted_;
      entries(e.begin(), 1);
      child = e(S_);
    }
  }

  dbio::Context& ctx_;
  const int32_t unit_;
  const dbio::WordView d_;
  const int32_t* key_;
  WordSink* sink_;
  const int64_t bufsz_;
  const int32_t blocks_in_file_;
  int64_t steps_ = 0;    // blocks fetched
  int64_t counted_ = 0;  // words of a group, entries of a relation
  ScanResult result_;
  // Relations keyed by several words.
  int32_t L_ = 0, k_ = 0, S_ = 0;
  bool rotated_ = false;
  std::vector<int32_t> entry_;  // one entry with its key turned back
};

}  // namespace

ScanResult scan_data_block(dbio::Context& ctx, int32_t unit, const DataBlockEntry& entry, WordSink* sink) {
  return Scan(ctx, unit, entry, sink).run();
}

CreationOrder::CreationOrder(dbio::Context& ctx, int32_t unit) : ctx_(ctx), unit_(unit) {
  last_sequence_ = ctx.grdblk.INFINU[unit];
  fill_window(1);
}

void CreationOrder::fill_window(int64_t low) {
  const int64_t width = std::clamp<int64_t>(last_sequence_ - low + 1, 0, kWindow);
  window_.assign(static_cast<std::size_t>(width), 0);
  const bool first = low == 1;
  dict::DictionaryWalk walk = dict::walk_dictionary(ctx_, unit_, [&](const dict::WalkedEntry& e) {
    const int64_t sequence = e.descriptor[desc::kSequence - 1];
    if (sequence < low || sequence >= low + width) return;
    window_[static_cast<std::size_t>(sequence - low)] =
        (uint64_t{static_cast<uint32_t>(e.block)} << 32) | static_cast<uint32_t>(e.offset);
  });
  if (first) {
    problems_ = std::move(walk.problems);
    entries_ = walk.entries;
  }
}

void CreationOrder::read_entry(uint64_t place, DataBlockEntry& entry) {
  const auto block = static_cast<int32_t>(place >> 32);
  const auto offset = static_cast<int32_t>(place & 0xFFFFFFFFu);
  const int32_t dbdlen = std::min<int32_t>(ctx_.grdblk.DBDLEN[unit_], desc::kExtendedWords);
  int32_t addr = 0;
  dict::DICBLK(ctx_, unit_, block, addr);
  const int32_t* words = ctx_.words(addr + offset, dbio::kKeyWords + dbdlen);
  entry.key.fill(0);
  entry.descriptor.fill(0);
  std::copy(words, words + dbio::kKeyWords, entry.key.begin());
  std::copy(words + dbio::kKeyWords, words + dbio::kKeyWords + dbdlen, entry.descriptor.begin());
}

std::vector<uint8_t> element_types(dbio::Context& ctx, int32_t unit, int32_t object, int32_t length) {
  std::vector<uint8_t> types;
  const int64_t record = dbio::ddl_object_record(ctx, unit, object);
  if (record == 0) return types;
  if (length <= 0) length = ctx.W(record + 3);
  if (length <= 0) return types;
  for (const dbio::Run& r : dbio::entry_types(ctx, record, length).runs) {
    types.insert(types.end(), static_cast<std::size_t>(r.words), static_cast<uint8_t>(r.cls));
  }
  return types;
}

void load_ddl(dbio::Context& ctx, int32_t unit) { dbio::KOVGDM(ctx, unit); }

int32_t stored_ddl_block(dbio::Context& ctx, int32_t unit) {
  int32_t addr = 0;
  dbio::PAGFET(ctx, unit, 1, addr);
  return ctx.W(int64_t{addr} + dbio::header_block::kDdlBlock - 1);
}

}  // namespace xdb
