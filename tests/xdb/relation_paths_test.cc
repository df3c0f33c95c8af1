// Relations keyed by their first word, driven to the moments when a level-2 index block is full:
// each insertion path (after the highest key, before the lowest, into a full data block in the
// middle) meets a full level-2 block, and the test checks which blocks were taken, in which
// order, and which level-2 block names which data block. The blocks of 300 words hold two
// entries of 148 words, and a level-2 block 148 pairs, so a full level-2 block costs 148 data
// blocks.
//
// The entries are written through the logical-file operations, then the database is closed and
// opened again read-only: the reader checks every index pair against the first key of the block
// it names and the key order along the data chain, and the entries must equal a model.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "dbio/pool.h"
#include "testkit/scratch_database.h"
#include "xdb/datablocks.h"
#include "xdb/readers.h"

namespace {

constexpr int32_t kBlockWords = 300, kEntryWords = 148, kPairsPerLevel2 = 148;

class Level2Paths : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(db.open(1, 1000000, kBlockWords, "rel.xdb"), 0);
    int32_t ierr = -1;
    xdb::OPENRL(db.ctx, 1, key.data(), kEntryWords, lfn, 0, 0, 0, ierr);
    ASSERT_EQ(ierr, 0);
    root = db.ctx.grfist.record[lfn][3];
  }
  void TearDown() override {
    if (HasFailure()) std::cerr << "messages of the database layer:\n" << db.messages.str();
  }

  void write(int32_t k) {
    std::vector<int32_t> entry(kEntryWords);
    entry[0] = k;
    for (int32_t w = 1; w < kEntryWords; ++w) entry[w] = ++serial;
    model[k] = entry;
    int32_t ierr = -1;
    xdb::WRITRL(db.ctx, lfn, entry.data(), ierr);
    ASSERT_EQ(ierr, 0) << "key " << k;
  }
  // Record word k of the open relation.
  int32_t record(int k) const { return db.ctx.grfist.record[lfn][k]; }

  // Closes the relation and the database, opens it read-only and compares the entries with the
  // model through the reader, which checks the tree on the way.
  void close_and_verify() {
    xdb::CLOSGR(db.ctx, lfn);
    ASSERT_EQ(db.close(1), 0);
    ASSERT_EQ(db.open(1, 0, 0, "rel.xdb"), 0);
    int32_t kind = 0;
    const auto content = xdb::read_data_block(db.ctx, 1, key.data(), kind);
    EXPECT_EQ(kind, 1);
    for (const auto& problem : content.problems) ADD_FAILURE() << problem;
    std::vector<int32_t> expected;
    for (const auto& [k, e] : model) expected.insert(expected.end(), e.begin(), e.end());
    EXPECT_EQ(content.words.size(), expected.size());
    EXPECT_TRUE(content.words == expected);
  }

  // Words of block b as the file holds it (after close_and_verify).
  std::vector<int32_t> block(int32_t b) {
    int32_t addr = 0;
    dbio::PAGFET(db.ctx, 1, b, addr);
    const int32_t* w = db.ctx.words(addr, kBlockWords);
    return std::vector<int32_t>(w, w + kBlockWords);
  }
  // The (key, block) pairs of a root (from word 26, count in word 23) or level-2 block (from
  // word 4, count in word 3).
  std::vector<std::pair<int32_t, int32_t>> pairs(int32_t b) {
    const auto w = block(b);
    const bool is_root = w[0] == 1;
    const int32_t count = is_root ? w[22] : w[2];
    const int first = is_root ? 25 : 3;
    std::vector<std::pair<int32_t, int32_t>> list;
    for (int32_t i = 0; i < count; ++i) list.emplace_back(w[first + 2 * i], w[first + 2 * i + 1]);
    return list;
  }
  // The keys held by data block b.
  std::vector<int32_t> keys(int32_t b) {
    const auto w = block(b);
    std::vector<int32_t> list;
    for (int32_t i = 0; i < w[3]; ++i) list.push_back(w[4 + i * kEntryWords]);
    return list;
  }

  support::ScratchDatabase db{kBlockWords, 20};
  const std::array<int32_t, 12> key = [] {
    std::array<int32_t, 12> k{};
    std::memcpy(k.data(), "LEVELTWO", 8);
    return k;
  }();
  int32_t lfn = 0, root = 0, serial = 0;
  std::map<int32_t, std::vector<int32_t>> model;
};

// Keys 10, 20, ... ascending: every data block is left with two entries, and a new data block
// and its pair arrive with each odd entry.
TEST_F(Level2Paths, AfterTheHighestKeyAFullLevel2BlockIsFollowedByANewOne) {
  const int32_t entries = 2 * kPairsPerLevel2 + 1;  // the last one needs a 149th data block
  for (int32_t i = 1; i <= entries; ++i) write(10 * i);
  const int32_t last_data = record(24);
  EXPECT_EQ(record(9), kPairsPerLevel2 + 1);
  EXPECT_EQ(record(10), 2);
  close_and_verify();

  const auto top = pairs(root);
  ASSERT_EQ(top.size(), 2u);
  // The new data block is taken first, then the level-2 block that names it.
  EXPECT_EQ(top[1], std::make_pair(10 * entries, last_data + 1));
  EXPECT_EQ(pairs(top[0].second).size(), static_cast<std::size_t>(kPairsPerLevel2));
  EXPECT_EQ(pairs(top[1].second), (std::vector<std::pair<int32_t, int32_t>>{{10 * entries, last_data}}));
}

// A key that falls into the last data block while the level-2 slot still holds another level-2
// block (the entry after the highest key fitted, so only the data slot moved): the split must
// give its pair to the last data block's own level-2 block.
TEST_F(Level2Paths, SplitOfTheLastDataBlockUsesItsOwnLevel2Block) {
  const int32_t entries = 2 * kPairsPerLevel2 + 1;
  for (int32_t i = 1; i <= entries; ++i) write(10 * i);
  write(10);  // found in the first data block: overwritten, the level-2 slot holds the first one
  const int32_t last = 10 * entries;
  write(last + 10);  // fits the last data block, which is now full
  const int32_t last_data = record(24);
  write(last + 5);  // into the full last data block
  EXPECT_EQ(record(10), 2) << "no level-2 block splits: the last one has room";
  close_and_verify();

  const auto top = pairs(root);
  ASSERT_EQ(top.size(), 2u);
  // The last level-2 block was taken right after the last data block, the split's block next.
  const int32_t last_level2 = top[1].second, split_data = last_level2 + 1;
  EXPECT_EQ(last_level2, last_data + 1);
  EXPECT_EQ(pairs(top[0].second).size(), static_cast<std::size_t>(kPairsPerLevel2));
  EXPECT_EQ(pairs(last_level2),
            (std::vector<std::pair<int32_t, int32_t>>{{last, last_data}, {last + 10, split_data}}));
  EXPECT_EQ(keys(last_data), (std::vector<int32_t>{last, last + 5}));
  EXPECT_EQ(keys(split_data), (std::vector<int32_t>{last + 10}));
}

// A data block in the upper half of a full level-2 block splits: the level-2 block splits too and
// the data block's pair moves to the new level-2 block. The next split of that data block must
// find its pair there, not in the level-2 block it was reached through before.
TEST_F(Level2Paths, DataBlockWhosePairMovedSplitsAgainInItsNewLevel2Block) {
  for (int32_t i = 1; i <= 2 * kPairsPerLevel2; ++i) write(10 * i);  // one full level-2 block
  const int32_t last = 10 * 2 * kPairsPerLevel2, last_data = record(24);
  write(last - 5);  // the last data block splits, and with it the level-2 block
  EXPECT_EQ(record(10), 2);
  const int32_t new_data = record(24);
  write(last - 8);  // the same data block again
  EXPECT_EQ(record(9), kPairsPerLevel2 + 2);
  close_and_verify();

  const auto top = pairs(root);
  ASSERT_EQ(top.size(), 2u);
  const int32_t moved_level2 = top[1].second;
  EXPECT_EQ(new_data + 1, moved_level2) << "the data block is taken before the level-2 block";
  const auto low = pairs(top[0].second), high = pairs(moved_level2);
  EXPECT_EQ(low.size(), static_cast<std::size_t>(kPairsPerLevel2 / 2));
  ASSERT_EQ(high.size(), static_cast<std::size_t>(kPairsPerLevel2 - kPairsPerLevel2 / 2 + 2));
  EXPECT_EQ(top[1].first, high[0].first);
  // The tail of the moved half: the split block, then the block of its second split, then the
  // block of its first split.
  const std::vector<std::pair<int32_t, int32_t>> tail(high.end() - 3, high.end());
  EXPECT_EQ(tail, (std::vector<std::pair<int32_t, int32_t>>{
                      {last - 10, last_data}, {last - 5, moved_level2 + 1}, {last, new_data}}));
  EXPECT_EQ(keys(last_data), (std::vector<int32_t>{last - 10, last - 8}));
  EXPECT_EQ(keys(moved_level2 + 1), (std::vector<int32_t>{last - 5}));
  EXPECT_EQ(keys(new_data), (std::vector<int32_t>{last}));
}

// Keys descending: every entry goes before the lowest key, the first data block splits with each
// second entry and the first level-2 block fills from its front; it splits twice, so three
// level-2 blocks exist, with the lowest key at the front of the root.
TEST_F(Level2Paths, BeforeTheLowestKeyTheFirstLevel2BlockSplitsAndKeepsTheLowestKey) {
  const int32_t entries = 4 * kPairsPerLevel2;
  for (int32_t i = 0; i < entries; ++i) write(1000000 - 10 * i);
  EXPECT_GE(record(10), 3);
  close_and_verify();
  const auto top = pairs(root);
  ASSERT_GE(top.size(), 3u);
  EXPECT_EQ(top[0].first, 1000000 - 10 * (entries - 1));
  EXPECT_EQ(pairs(top[0].second)[0].first, top[0].first);
}

// Keys in the middle of a full level-2 block, above and below the level-2 split point, then more
// keys into the blocks on both sides.
TEST_F(Level2Paths, MiddleKeysIntoFullBlocksOnBothSidesOfALevel2Split) {
  for (int32_t i = 1; i <= 2 * kPairsPerLevel2; ++i) write(100 * i);
  for (int32_t round = 1; round <= 60; ++round) {
    write(100 * (round % 148) + round % 97 + 1);           // low half
    write(100 * (148 + round % 148) + round % 89 + 2);     // high half
    write(100 * (74 + round % 30) + 50 + round % 40);      // around the split point
  }
  EXPECT_GE(record(10), 3);
  close_and_verify();
}

}  // namespace
