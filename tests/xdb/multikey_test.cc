// Relations keyed by several words: entries written through OPENRL and WRITRL in every arrival
// order, then read back word for word after the database was closed and opened again read-only,
// with the index, the data chain, the dictionary, the pool and the file's blocks checked as well.
// (What the reader reports of damaged index nodes and data blocks is held to its exact lines by
// the checker's table in tests/app/checker_test.cc.)

#include "dict/multikey.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <optional>
#include <random>

#include "dbio/poolcheck.h"
#include "dict/dictionary.h"
#include "dict/walker.h"
#include "testkit/neutral_model.h"
#include "testkit/scratch_database.h"
#include "xdb/datablocks.h"
#include "xdb/readers.h"

namespace {

using Key = std::vector<int32_t>;
using Name = std::array<int32_t, 12>;
using Descriptor = std::array<int32_t, 14>;

Name name_of(const char* text, int32_t q1 = 0) { return support::key(text, q1).words(); }

// The order that stored relations use: word by word, by the sign of the wrapping difference.
struct Comparison {
  Key a, b;
  int expected;
};

class KeyOrder : public ::testing::TestWithParam<Comparison> {};

TEST_P(KeyOrder, FollowsTheSignOfTheWrappingDifference) {
  const auto& c = GetParam();
  EXPECT_EQ(dict::compare_keys(c.a.data(), c.b.data(), static_cast<int32_t>(c.a.size())), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Words, KeyOrder,
                         ::testing::Values(Comparison{{-1}, {0}, -1}, Comparison{{5}, {5}, 0},
                                           Comparison{{INT32_MAX}, {INT32_MIN}, -1},  // across 2^31 it wraps
                                           Comparison{{INT32_MIN + 5}, {INT32_MAX - 5}, 1},
                                           Comparison{{0x40000000}, {-0x40000000}, -1},  // 2^31 apart: each is
                                           Comparison{{-0x40000000}, {0x40000000}, -1},  // below the other
                                           Comparison{{1, 5, 0}, {1, 4, 9}, 1},
                                           Comparison{{7, 7, 7, 7, 7, INT32_MIN}, {7, 7, 7, 7, 7, INT32_MAX}, 1}));

// KEYFND and KEYFN1 over keys ascending across 2^31, by halving (more than 16) or from the front.
struct SearchCase {
  int32_t k, count;
};

class KeySearch : public ::testing::TestWithParam<SearchCase> {};

TEST_P(KeySearch, FindsEveryKeyAndEveryGapAcrossTheWrap) {
  // Not a structured binding: clang 14 cannot capture one in the lambdas below.
  const int32_t k = GetParam().k, count = GetParam().count;
  const int32_t stride = k + 1;
  auto key_at = [&](int32_t i, int32_t shift) {  // record i's key (from 0), its last word moved by shift
    Key key(k, 3);
    key[k - 1] = static_cast<int32_t>(0x7ffffff0u + 2u * static_cast<uint32_t>(i) + static_cast<uint32_t>(shift));
    return key;
  };
  std::vector<int32_t> list(static_cast<std::size_t>(count) * stride, -7);
  for (int32_t i = 0; i < count; ++i) std::copy_n(key_at(i, 0).begin(), k, list.begin() + i * stride);
  auto expect = [&](const Key& key, int32_t pos, int32_t notfnd) {
    int32_t p = 0, n = -1;
    if (k == 1) {
      dict::KEYFN1(key[0], list.data(), stride, count, p, n);
    } else {
      dict::KEYFND(key.data(), k, list.data(), stride, count, p, n);
    }
    EXPECT_EQ(p, pos) << key.back();
    EXPECT_EQ(n, notfnd) << key.back();
  };
  for (int32_t i = 0; i < count; ++i) {
    expect(key_at(i, 0), i * stride + 1, 0);
    expect(key_at(i, -1), i * stride + 1, 1);
  }
  expect(key_at(count - 1, 1), count * stride + 1, 1);
}

INSTANTIATE_TEST_SUITE_P(Counts, KeySearch,
                         ::testing::Values(SearchCase{1, 1}, SearchCase{1, 16}, SearchCase{1, 17}, SearchCase{1, 40},
                                           SearchCase{3, 2}, SearchCase{3, 16}, SearchCase{3, 17}, SearchCase{6, 41}));

// Stored keys (rotation applied): key i spells i in `radix` digits, most significant first, digit
// d stored as origin + d * stride (wrapping). All words lie in a window narrower than 2^31 from
// origin, in which the key order is the order of the distance from origin; so key i is below key
// j exactly when i < j. The window lies around 0, or around 2^31.
struct KeySpace {
  int32_t k, radix = 2;
  uint32_t origin = 0, stride = 1;

  KeySpace(int32_t key_words, int count, bool around_the_wrap) : k(key_words) {
    while (std::pow(double(radix), k) < count) ++radix;
    stride = std::max<uint32_t>(1, (1u << 30) / static_cast<uint32_t>(radix));
    origin = (around_the_wrap ? 0x80000000u : 0u) - stride * static_cast<uint32_t>(radix - 1) / 2;
  }
  Key key(int64_t i) const {
    Key key(k);
    for (int32_t j = k - 1; j >= 0; --j, i /= radix) {
      key[j] = static_cast<int32_t>(origin + static_cast<uint32_t>(i % radix) * stride);
    }
    return key;
  }
};

enum Order { kAscending, kDescending, kRandom, kClustered, kDuplicates, kAscendingThenBetween };

// The keys (numbers in a KeySpace) of `count` writes in the given order.
std::vector<int64_t> arrivals(int count, Order order, uint32_t seed) {
  std::vector<int64_t> keys(order == kDuplicates ? std::max(count / 4, 1) : count), other;
  std::iota(keys.begin(), keys.end(), 0);
  std::mt19937 random(seed);
  switch (order) {
    case kAscending: return keys;
    case kDescending: std::reverse(keys.begin(), keys.end()); return keys;
    case kRandom: std::shuffle(keys.begin(), keys.end(), random); return keys;
    case kClustered: {  // seven ascending runs, interleaved
      const int run = (count + 6) / 7;
      for (int i = 0; i < run; ++i) {
        for (int s = 0; s < 7; ++s) {
          if (s * run + i < count) other.push_back(s * run + i);
        }
      }
      return other;
    }
    case kDuplicates:
      for (int i = 0; i < count; ++i) other.push_back(keys[random() % keys.size()]);
      return other;
    case kAscendingThenBetween: {  // every second key ascending, then the others in random order
      std::vector<int64_t> between;
      for (int i = 0; i < count; ++i) (i % 2 == 0 ? other : between).push_back(i);
      std::shuffle(between.begin(), between.end(), random);
      other.insert(other.end(), between.begin(), between.end());
      return other;
    }
  }
  return keys;
}

// The caller's entry for a stored entry: with rotation the first stored word is the last key word.
std::vector<int32_t> callers_entry(std::vector<int32_t> stored, int32_t k, bool rotate) {
  if (rotate && k > 1) std::rotate(stored.begin(), stored.begin() + 1, stored.begin() + k);
  return stored;
}

// Writes entries through WRITRL, each with the key of the given number and new words behind it,
// and keeps the model of the relation; checks that the caller's entry is never changed.
struct Writer {
  support::ScratchDatabase& db;
  int32_t lfn, L, k;
  bool rotate;
  const KeySpace& space;
  std::vector<int32_t> model{};    // the stored entry of key i at word i * L
  std::vector<char> present{};     // whether key i is in the relation
  std::vector<int64_t> arrival{};  // the keys that were new, in arrival order
  int32_t serial = 0;

  bool written(int64_t i) const { return i < static_cast<int64_t>(present.size()) && present[i]; }
  const int32_t* stored(int64_t i) const { return model.data() + i * L; }

  void write(int64_t i, int32_t expected_ierr = 0) {
    std::vector<int32_t> stored = space.key(i);
    for (int32_t w = k; w < L; ++w) stored.push_back(++serial * 8 + w);
    const auto entry = callers_entry(stored, k, rotate), copy = entry;
    int32_t ierr = -1;
    xdb::WRITRL(db.ctx, lfn, entry.data(), ierr);
    ASSERT_EQ(ierr, expected_ierr);
    ASSERT_EQ(entry, copy);
    if (ierr != 0) return;
    if (!written(i)) arrival.push_back(i);
    present.resize(std::max<std::size_t>(present.size(), i + 1));
    present[i] = 1;
    model.resize(present.size() * L);
    std::copy(stored.begin(), stored.end(), model.begin() + i * L);
  }
  // The entries as the reader returns them: in key order, each as the caller wrote it.
  std::vector<int32_t> expected() const {
    std::vector<int32_t> words;
    for (std::size_t i = 0; i < present.size(); ++i) {
      if (!present[i]) continue;
      const auto entry = callers_entry({stored(i), stored(i) + L}, k, rotate);
      words.insert(words.end(), entry.begin(), entry.end());
    }
    return words;
  }
  // The data blocks' entries as stored: the first block, which filled in key order, then arrival order.
  std::vector<int32_t> chain(int32_t first_block) const {
    std::vector<int64_t> keys(arrival);
    std::sort(keys.begin(), keys.begin() + std::min<std::size_t>(first_block, keys.size()));
    std::vector<int32_t> words;
    for (int64_t i : keys) words.insert(words.end(), stored(i), stored(i) + L);
    return words;
  }
};

class MultiKey : public ::testing::Test {
 protected:
  void TearDown() override {
    if (HasFailure() && db) std::cerr << "messages of the database layer:\n" << db->messages.str();
  }
  void create(int32_t block_size, int32_t pages = 40) {
    db.emplace(std::max(block_size, 300), pages);
    ASSERT_EQ(db->open(1, 10000000, block_size, "mk.xdb"), 0);
  }
  int32_t open_relation(const Name& name, int32_t L, int32_t k, int32_t keyflg = 0, int32_t negflg = 0) {
    int32_t lfn = 0, ierr = -1;
    xdb::OPENRL(db->ctx, 1, name.data(), L, lfn, k, keyflg, negflg, ierr);
    EXPECT_EQ(ierr, 0);
    return lfn;
  }
  // Writes `keys` into a new relation and closes it.
  Writer& fill(const Name& name, int32_t L, int32_t k, const std::vector<int64_t>& keys, bool rotate = false,
               bool around_the_wrap = false) {
    space.emplace(k, static_cast<int>(keys.size()), around_the_wrap);
    writer.emplace(Writer{*db, open_relation(name, L, k, rotate ? 1 : 0), L, k, rotate, *space});
    for (int64_t key : keys) {
      writer->write(key);
      if (HasFatalFailure()) break;
    }
    xdb::CLOSGR(db->ctx, writer->lfn);
    return *writer;
  }
  // Closes the database, checks that nothing was left locked, opens it read-only again and checks
  // its dictionary and pool.
  void reopen() {
    EXPECT_EQ(db->ctx.sysfil.LOCKED, 0) << "a locked page was not released";
    ASSERT_EQ(db->close(1), 0);
    ASSERT_EQ(db->open(1, 0, 0, "mk.xdb"), 0);
    auto walk = dict::walk_dictionary(db->ctx, 1);
    EXPECT_TRUE(walk.problems.empty()) << walk.problems.front();
    auto pool = dbio::check_pool(db->ctx);
    EXPECT_TRUE(pool.empty()) << pool.front();
  }
  Descriptor descriptor(const Name& name) {
    Descriptor d{};
    int32_t ierr = -1;
    dict::DICRDR(db->ctx, 1, name.data(), d.data(), ierr);
    EXPECT_EQ(ierr, 0);
    return d;
  }
  xdb::Content read(const Name& name, xdb::MultiKeyShape* shape = nullptr) {
    auto content = xdb::read_multikey(db->ctx, 1, name.data(), descriptor(name).data(), shape);
    EXPECT_TRUE(content.problems.empty()) << content.problems.size() << " problems: " << content.problems.front();
    return content;
  }

  std::optional<support::ScratchDatabase> db;
  std::optional<KeySpace> space;
  std::optional<Writer> writer;
};

// ---------------------------------------------------------------------------------------------
// Every arrival order, key length and block size; entries inside the index or in data blocks.

struct RelationCase {
  const char* name;
  int32_t block_size, L, k;
  bool rotate;
  int count;
  Order order;
  bool around_the_wrap = false;
  int32_t pages = 40;
};

class Relations : public MultiKey, public ::testing::WithParamInterface<RelationCase> {};

TEST_P(Relations, EntriesComeBackInKeyOrder) {
  const auto& c = GetParam();
  create(c.block_size, c.pages);
  const Name name = name_of("MULTI", c.order);
  const auto& w = fill(name, c.L, c.k, arrivals(c.count, c.order, c.count), c.rotate, c.around_the_wrap);
  reopen();
  int32_t kind = 0;
  const auto content = xdb::read_data_block(db->ctx, 1, name.data(), kind);
  EXPECT_EQ(kind, 3);
  EXPECT_TRUE(content.problems.empty()) << content.problems.size() << " problems: " << content.problems.front();
  EXPECT_TRUE(content.words == w.expected()) << "the entries read back differ from those written";
  EXPECT_EQ(descriptor(name)[7], static_cast<int32_t>(w.arrival.size()));
  // No block is lost: the file holds its header, the three dictionary blocks, the relation's
  // blocks and at most the one data block returned when the index took over its entries.
  const auto& g = db->ctx.grdblk;
  EXPECT_EQ(g.USDBKS[1], 4 + content.blocks + (g.DEDBKS[1] != 0 ? 1 : 0));
}

INSTANTIATE_TEST_SUITE_P(
    Orders, Relations,
    ::testing::Values(
        RelationCase{"ascending_300_key1_in_index", 300, 1, 1, false, 20000, kAscending},
        RelationCase{"descending_300_key2_in_index", 300, 4, 2, false, 20000, kDescending},
        RelationCase{"random_300_key3", 300, 6, 3, false, 20000, kRandom},
        RelationCase{"clustered_300_key6", 300, 20, 6, false, 20000, kClustered},
        RelationCase{"duplicates_300_key2", 300, 9, 2, false, 20000, kDuplicates},
        RelationCase{"random_300_key4_rotated_whole_entry", 300, 4, 4, true, 20000, kRandom},
        RelationCase{"random_300_key5_rotated_in_index", 300, 7, 5, true, 20000, kRandom},
        RelationCase{"wrap_300_key2_rotated", 300, 5, 2, true, 20000, kRandom, true},
        RelationCase{"wrap_300_key1_descending", 300, 2, 1, false, 20000, kDescending, true},
        RelationCase{"long_entries_300_key1", 300, 140, 1, false, 3000, kRandom},
        RelationCase{"random_1024_key1_in_index", 1024, 3, 1, false, 30000, kRandom},
        RelationCase{"ascending_1024_key3", 1024, 10, 3, false, 30000, kAscending},
        RelationCase{"descending_1024_key5_rotated", 1024, 12, 5, true, 30000, kDescending},
        RelationCase{"clustered_1024_key2_in_index", 1024, 2, 2, false, 30000, kClustered},
        RelationCase{"wrap_1024_key1", 1024, 4, 1, false, 30000, kRandom, true},
        RelationCase{"duplicates_1024_key6_rotated", 1024, 8, 6, true, 30000, kDuplicates},
        RelationCase{"random_4096_key2", 4096, 16, 2, false, 100000, kRandom, false, 250},
        RelationCase{"random_4096_key1_in_index", 4096, 2, 1, false, 200000, kRandom, false, 250},
        RelationCase{"ascending_4096_key1_in_index", 4096, 1, 1, false, 200000, kAscending, false, 60},
        RelationCase{"descending_4096_key6_in_index_rotated", 4096, 6, 6, true, 50000, kDescending, false, 60},
        RelationCase{"wrap_4096_key3_clustered", 4096, 9, 3, false, 50000, kClustered, true, 60},
        // Tiny blocks make deep indexes; at 34 words a node holds the fewest entries allowed.
        RelationCase{"deep_64_key6_random_small_pool", 64, 20, 6, false, 10000, kRandom, false, 15},
        RelationCase{"fewest_34_key6_random", 34, 8, 6, false, 5000, kRandom},
        RelationCase{"fewest_34_key6_ascending", 34, 8, 6, false, 5000, kAscending},
        RelationCase{"fewest_34_key6_descending_rotated", 34, 8, 6, true, 5000, kDescending},
        RelationCase{"fewest_34_key6_duplicates", 34, 9, 6, false, 5000, kDuplicates}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// What a relation's blocks must hold is checked when it is opened, exactly at each edge.

struct LimitCase {
  const char* name;
  int32_t block_size, L, k, ierr;
};

class OpenLimits : public MultiKey, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(OpenLimits, AcceptExactlyWhatTheBlocksCanHold) {
  const auto& c = GetParam();
  create(c.block_size);
  int32_t lfn = 0, ierr = -1;
  xdb::OPENRL(db->ctx, 1, name_of("EDGE").data(), c.L, lfn, c.k, 0, 0, ierr);
  ASSERT_EQ(ierr, c.ierr);
  if (ierr != 0) {
    EXPECT_EQ(db->ctx.grdblk.NUMDB[1], 0) << "a refused open left a dictionary entry";
    return;
  }
  xdb::CLOSGR(db->ctx, lfn);
  // What is accepted works, with an index of several levels.
  const auto& w = fill(name_of("WORKS"), c.L, c.k, arrivals(600, kRandom, 3));
  reopen();
  EXPECT_TRUE(read(name_of("WORKS")).words == w.expected());
}

INSTANTIATE_TEST_SUITE_P(
    Edges, OpenLimits,
    ::testing::Values(LimitCase{"key_longer_than_entry", 300, 2, 3, xdb::kTooLongForBlock},
                      LimitCase{"key_as_long_as_entry", 300, 3, 3, 0},
                      LimitCase{"entry_longer_than_a_data_block", 300, 296, 1, xdb::kTooLongForBlock},
                      LimitCase{"entry_filling_a_data_block", 300, 295, 6, 0},
                      LimitCase{"node_of_two_nine_word_index_entries", 33, 8, 6, xdb::kTooLongForBlock},
                      LimitCase{"node_of_three_nine_word_index_entries", 34, 8, 6, 0},
                      LimitCase{"node_of_two_seven_word_index_entries", 27, 6, 4, xdb::kTooLongForBlock},
                      LimitCase{"node_of_three_seven_word_index_entries", 28, 6, 4, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// The index built when the first data block fills: one entry more than the block holds.

struct FirstIndexCase {
  const char* name;
  int32_t block_size, L, k;
  Order order;
  int32_t lowest_nodes;  // 0: the root alone
};

class FirstIndex : public MultiKey, public ::testing::WithParamInterface<FirstIndexCase> {};

TEST_P(FirstIndex, SpreadsAFullDataBlockOverNodesThatHoldIt) {
  const auto& c = GetParam();
  create(c.block_size);
  const int32_t n = (c.block_size - 5) / c.L;
  const auto& w = fill(name_of("FIRST"), c.L, c.k, arrivals(n + 1, c.order, 11));
  reopen();
  xdb::MultiKeyShape shape;
  EXPECT_TRUE(read(name_of("FIRST"), &shape).words == w.expected());
  const auto& nodes = shape.node_entries;
  if (c.lowest_nodes == 0) {
    EXPECT_EQ(nodes, std::vector<std::vector<int32_t>>{{n + 1}});
  } else if (c.order == kAscending && c.lowest_nodes == 2) {
    // Half and half, less one on the left, and one in the root; the new entry goes behind.
    EXPECT_EQ(nodes, (std::vector<std::vector<int32_t>>{{1}, {n / 2 - 1, n - n / 2 + 1}}));
  } else {
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_EQ(nodes[0], std::vector<int32_t>{c.lowest_nodes - 1});
    EXPECT_EQ(static_cast<int32_t>(nodes[1].size()), c.lowest_nodes);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, FirstIndex,
    ::testing::Values(
        // Entries of one word keyed by it: a full data block needs three nodes of (BUFSZ - 7) / 2.
        FirstIndexCase{"one_word_300_ascending", 300, 1, 1, kAscending, 3},
        FirstIndexCase{"one_word_300_descending", 300, 1, 1, kDescending, 3},
        FirstIndexCase{"one_word_1024_random", 1024, 1, 1, kRandom, 3},
        FirstIndexCase{"one_word_4096_ascending", 4096, 1, 1, kAscending, 3},
        FirstIndexCase{"one_word_4096_random", 4096, 1, 1, kRandom, 3},
        FirstIndexCase{"two_words_300_ascending", 300, 2, 1, kAscending, 2},
        FirstIndexCase{"two_words_1024_descending", 1024, 2, 1, kDescending, 2},
        FirstIndexCase{"six_words_key6_300_random", 300, 6, 6, kRandom, 2},
        FirstIndexCase{"long_entries_fit_the_root", 300, 30, 1, kRandom, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Arrival order: the append balance tilts the splits, and data blocks keep arrival order.

struct BalanceCase {
  const char* name;
  Order order;
  int32_t balance;
  int32_t usual_lowest_node;  // the entries most lowest-level nodes hold; 0: not checked
};

class Balance : public MultiKey, public ::testing::WithParamInterface<BalanceCase> {};

// Blocks of 300 words: 59 entries of 5 words fill a data block, 58 index entries of 5 words a node.
// Ascending entries leave split nodes with 58 - 5 - 1 entries (a tenth moves right, one up),
// descending ones with 58 - 29 - 1 (the left node keeps half).
TEST_P(Balance, TiltsTheSplitsTowardsTheArrivalOrder) {
  const auto& c = GetParam();
  create(300);
  const auto& w = fill(name_of("BALANCE"), 5, 2, arrivals(20000, c.order, 5));
  reopen();
  xdb::MultiKeyShape shape;
  EXPECT_TRUE(read(name_of("BALANCE"), &shape).words == w.expected());
  EXPECT_EQ(descriptor(name_of("BALANCE"))[6], c.balance);
  EXPECT_TRUE(shape.chain_words == w.chain(59)) << "data blocks do not hold the entries in arrival order";
  for (std::size_t i = 0; i + 1 < shape.data_entries.size(); ++i) EXPECT_EQ(shape.data_entries[i], 59);
  if (c.usual_lowest_node == 0) return;
  std::map<int32_t, int> sizes;
  for (int32_t entries : shape.node_entries.back()) ++sizes[entries];
  const auto usual = std::max_element(sizes.begin(), sizes.end(), [](auto& a, auto& b) { return a.second < b.second; });
  EXPECT_EQ(usual->first, c.usual_lowest_node);
  EXPECT_GT(usual->second, static_cast<int>(shape.node_entries.back().size()) * 9 / 10);
}

INSTANTIATE_TEST_SUITE_P(Orders, Balance,
                         ::testing::Values(BalanceCase{"ascending_splits_keep_nine_tenths", kAscending, 150, 52},
                                           BalanceCase{"descending_splits_in_halves", kDescending, -150, 28},
                                           BalanceCase{"random", kRandom, -150, 0},
                                           BalanceCase{"half_a_block_is_kept", kAscendingThenBetween, 150, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Keys written again: overwritten, or refused when the relation refuses duplicates.

struct DuplicateCase {
  const char* name;
  int32_t L, k;
  int count;
  int32_t negflg;
};

class Duplicates : public MultiKey, public ::testing::WithParamInterface<DuplicateCase> {};

TEST_P(Duplicates, AreOverwrittenOrRefused) {
  const auto& c = GetParam();
  create(300);
  const Name name = name_of("DUPS");
  const KeySpace keys(c.k, c.count, false);
  Writer w{*db, open_relation(name, c.L, c.k, 1, c.negflg), c.L, c.k, true, keys};
  for (int64_t key : arrivals(c.count, kRandom, 4)) w.write(key);
  const auto before = w.expected();
  std::vector<int64_t> again{c.count - 1, 0, w.arrival.back()};  // highest, lowest, last written
  for (int i = 0; i < c.count; i += 5) again.push_back(w.arrival[i]);
  for (int64_t key : again) w.write(key, c.negflg != 0 ? 2 : 0);
  EXPECT_EQ(db->ctx.grfist.record[w.lfn][8], c.count);
  xdb::CLOSGR(db->ctx, w.lfn);
  reopen();
  const auto words = read(name).words;
  EXPECT_TRUE(words == w.expected());
  EXPECT_EQ(words == before, c.negflg != 0);
}

INSTANTIATE_TEST_SUITE_P(Stages, Duplicates,
                         ::testing::Values(DuplicateCase{"one_data_block_overwritten", 10, 2, 20, 0},
                                           DuplicateCase{"one_data_block_refused", 10, 2, 20, 1},
                                           DuplicateCase{"data_blocks_overwritten", 10, 2, 3000, 0},
                                           DuplicateCase{"data_blocks_refused", 10, 2, 3000, 1},
                                           DuplicateCase{"in_the_index_overwritten", 4, 3, 3000, 0},
                                           DuplicateCase{"in_the_index_refused", 4, 3, 3000, 1},
                                           DuplicateCase{"one_word_key_in_the_index_refused", 2, 1, 3000, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Rotated keys: stored with the last key word first, read back as written.

struct RotationCase {
  int32_t k, keyflg;
  std::vector<int32_t> entry, stored;
};

class Rotation : public MultiKey, public ::testing::WithParamInterface<RotationCase> {};

TEST_P(Rotation, StoresTheLastKeyWordFirst) {
  const auto& c = GetParam();
  create(300);
  int32_t lfn = open_relation(name_of("ROTATE"), static_cast<int32_t>(c.entry.size()), c.k, c.keyflg), ierr = -1;
  xdb::WRITRL(db->ctx, lfn, c.entry.data(), ierr);
  ASSERT_EQ(ierr, 0);
  xdb::CLOSGR(db->ctx, lfn);
  reopen();
  xdb::MultiKeyShape shape;
  EXPECT_EQ(read(name_of("ROTATE"), &shape).words, c.entry);
  EXPECT_EQ(shape.chain_words, c.stored);
  EXPECT_EQ(descriptor(name_of("ROTATE"))[5], c.keyflg % 2 != 0 ? -c.k : c.k);
}

INSTANTIATE_TEST_SUITE_P(Keys, Rotation,
                         ::testing::Values(RotationCase{2, 1, {1, 2, 10}, {2, 1, 10}},
                                           RotationCase{6, 3, {1, 2, 3, 4, 5, 6}, {6, 1, 2, 3, 4, 5}},
                                           RotationCase{3, 2, {1, 2, 3, 10}, {1, 2, 3, 10}},
                                           RotationCase{1, 1, {5, 10}, {5, 10}}));

// ---------------------------------------------------------------------------------------------

TEST_F(MultiKey, SeveralOpenRelationsReleaseTheirPagesWhenClosed) {
  create(300, 60);
  const int32_t shapes[4][2] = {{1, 1}, {9, 3}, {4, 4}, {20, 6}};  // L, k
  std::vector<KeySpace> spaces;
  std::vector<Writer> writers;
  for (int i = 0; i < 4; ++i) spaces.emplace_back(shapes[i][1], 5000, i == 3);
  for (int i = 0; i < 4; ++i) {
    const int32_t L = shapes[i][0], k = shapes[i][1];
    writers.push_back(Writer{*db, open_relation(name_of("MANY", i), L, k, i % 2), L, k, i % 2 == 1, spaces[i]});
  }
  const auto ascending = arrivals(5000, kAscending, 0), random = arrivals(5000, kRandom, 1);
  for (int j = 0; j < 5000; ++j) {
    for (int i = 0; i < 4; ++i) writers[i].write(i == 0 ? ascending[j] : random[j]);
  }
  for (auto& w : writers) {
    EXPECT_NE(db->ctx.sysfil.LOCKED, 0);
    xdb::CLOSGR(db->ctx, w.lfn);
  }
  reopen();
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(read(name_of("MANY", i)).words == writers[i].expected()) << i;
}

TEST_F(MultiKey, EntryCountStopsBelowTwoToTheThirtyFirst) {
  create(300);
  int32_t lfn = open_relation(name_of("COUNT"), 4, 2), ierr = -1;
  int32_t entry[4] = {1, 1, 0, 0};
  xdb::WRITRL(db->ctx, lfn, entry, ierr);
  db->ctx.grfist.record[lfn][8] = 2147483645;
  for (entry[1] = 2; entry[1] <= 4; ++entry[1]) xdb::WRITRL(db->ctx, lfn, entry, ierr);
  EXPECT_EQ(db->ctx.grfist.record[lfn][8], 2147483646);
  xdb::CLOSGR(db->ctx, lfn);
}

}  // namespace
