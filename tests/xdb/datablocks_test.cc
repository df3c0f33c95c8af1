// Data block operations: groups, single records and relations keyed by their first word, written
// through logical files, then read back word for word after the database was closed and opened
// again read-only, with the dictionary and the pool checked as well.

#include "xdb/datablocks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "dbio/pool.h"
#include "dbio/poolcheck.h"
#include "dict/dictionary.h"
#include "dict/walker.h"
#include "testkit/neutral_model.h"
#include "testkit/scratch_database.h"
#include "xdb/readers.h"

namespace {

std::array<int32_t, 12> key_of(const char* name, int32_t q1 = 0) { return support::key(name, q1).words(); }

class DataBlocks : public ::testing::Test {
 protected:
  void TearDown() override {
    if (HasFailure()) std::cerr << "messages of the database layer:\n" << db.messages.str();
  }
  void create(int32_t blksiz) { ASSERT_EQ(db.open(1, 1000000, blksiz, "data.xdb"), 0); }

  // Closes the database, checks that nothing was left locked, opens it read-only again and checks
  // its dictionary and pool.
  void reopen() {
    EXPECT_EQ(db.ctx.sysfil.LOCKED, 0) << "a locked page was not released";
    ASSERT_EQ(db.close(1), 0);
    ASSERT_EQ(db.open(1, 0, 0, "data.xdb"), 0);
    auto walk = dict::walk_dictionary(db.ctx, 1);
    EXPECT_TRUE(walk.problems.empty()) << walk.problems.front();
    auto pool = dbio::check_pool(db.ctx);
    EXPECT_TRUE(pool.empty()) << pool.front();
  }
  xdb::Content read(const std::array<int32_t, 12>& key, int32_t expected_kind) {
    int32_t kind = 0;
    auto content = xdb::read_data_block(db.ctx, 1, key.data(), kind);
    EXPECT_EQ(kind, expected_kind);
    EXPECT_TRUE(content.problems.empty()) << content.problems.front();
    return content;
  }
  // Word k of a block. REQUIRES: the block is not locked (the pool fetches only unlocked pages).
  int32_t group_block_word(int32_t block, int k) {
    int32_t addr = 0;
    dbio::PAGFET(db.ctx, 1, block, addr);
    return db.ctx.W(addr + k - 1);
  }

  support::ScratchDatabase db{4096, 20};
};

TEST_F(DataBlocks, GroupFillsBlocksUpToFiveWordsFromTheirEnd) {
  create(1024);
  auto key = key_of("GROUP", 1);
  key[3] = -2;
  int32_t lfn = 0, ierr = -1;
  xdb::OPENGR(db.ctx, 1, key.data(), 1, lfn, 0, ierr);
  ASSERT_EQ(ierr, 0);
  std::vector<int32_t> words(2000);
  for (int i = 0; i < 2000; ++i) words[i] = i * 7 - 1000;
  xdb::WRITGR(db.ctx, lfn, words.data(), 2000, ierr);
  ASSERT_EQ(ierr, 0);
  const auto& r = db.ctx.grfist.record[lfn];
  EXPECT_EQ(r[8], 2000);
  EXPECT_EQ(r[9], 2002);
  const int32_t first = r[4], second = r[24];
  xdb::CLOSGR(db.ctx, lfn);
  EXPECT_EQ(lfn, -1);
  EXPECT_EQ(group_block_word(first, 4), 1019);
  EXPECT_EQ(group_block_word(second, 4), 993);
  EXPECT_EQ(group_block_word(second, 3), first);
  reopen();
  EXPECT_EQ(read(key, 2).words, words);
}

TEST_F(DataBlocks, GroupsOfAnyLengthInAnyChunks) {
  create(300);
  std::mt19937 random(5);
  std::map<int, std::vector<int32_t>> model;
  for (int g = 0; g < 12; ++g) {
    auto key = key_of("G", g);
    int32_t lfn = 0, ierr = -1;
    xdb::OPENGR(db.ctx, 1, key.data(), 1, lfn, 0, ierr);
    ASSERT_EQ(ierr, 0);
    const int length = g == 0 ? 0 : static_cast<int>(random() % (g * 1500));
    auto& words = model[g];
    for (int i = 0; i < length; ++i) words.push_back(static_cast<int32_t>(random()));
    for (int at = 0; at < length;) {
      int chunk = std::min<int>(length - at, 1 + random() % 700);
      xdb::WRITGR(db.ctx, lfn, words.data() + at, chunk, ierr);
      ASSERT_EQ(ierr, 0);
      at += chunk;
    }
    xdb::CLOSGR(db.ctx, lfn);
  }
  reopen();
  for (const auto& [g, words] : model) EXPECT_EQ(read(key_of("G", g), 2).words, words) << g;
}

TEST_F(DataBlocks, SingleRecordsShareBlocksUntilOneDoesNotFit) {
  create(1024);
  std::vector<int32_t> a(600, 11), b(600, 22);
  int32_t lfn = 0, ierr = -1;
  xdb::OPENRC(db.ctx, 1, key_of("RECA").data(), 600, lfn, 0, ierr);
  ASSERT_EQ(ierr, 0);
  const int32_t first_shared = db.ctx.grdblk.SRBLK[1];
  EXPECT_EQ(db.ctx.grfist.record[lfn][7], 3);
  xdb::WRITRC(db.ctx, lfn, a.data(), ierr);
  ASSERT_EQ(ierr, 0);
  xdb::CLOSGR(db.ctx, lfn);
  xdb::OPENRC(db.ctx, 1, key_of("RECB").data(), 600, lfn, 1, ierr);
  ASSERT_EQ(ierr, 0);
  EXPECT_NE(db.ctx.grdblk.SRBLK[1], first_shared);  // 602 + 602 + 2 > 1024
  EXPECT_EQ(db.ctx.grfist.record[lfn][7], 3);
  xdb::WRITRC(db.ctx, lfn, b.data(), ierr);
  ASSERT_EQ(ierr, 0);
  xdb::WRITRC(db.ctx, lfn, a.data(), ierr);
  EXPECT_EQ(ierr, 2);  // written once
  xdb::CLOSGR(db.ctx, lfn);
  reopen();
  EXPECT_EQ(read(key_of("RECA"), 4).words, a);
  EXPECT_EQ(read(key_of("RECB"), 4).words, b);
}

TEST_F(DataBlocks, RefusedOpensLeaveTheDictionaryUnchanged) {
  create(300);
  int32_t lfn = 0, ierr = -1;
  xdb::OPENRC(db.ctx, 1, key_of("R").data(), 0, lfn, 0, ierr);
  EXPECT_EQ(ierr, 4);
  xdb::OPENRC(db.ctx, 1, key_of("R").data(), 297, lfn, 0, ierr);
  EXPECT_EQ(ierr, xdb::kTooLongForBlock);
  xdb::OPENRL(db.ctx, 1, key_of("L").data(), 24, lfn, 7, 0, 0, ierr);
  EXPECT_EQ(ierr, 3);
  xdb::OPENRL(db.ctx, 1, key_of("L").data(), 0, lfn, 0, 0, 0, ierr);
  EXPECT_EQ(ierr, 4);
  xdb::OPENRL(db.ctx, 1, key_of("L").data(), 297, lfn, 0, 0, 0, ierr);
  EXPECT_EQ(ierr, xdb::kTooLongForBlock);
  EXPECT_EQ(db.ctx.grdblk.NUMDB[1], 0);
  EXPECT_EQ(db.ctx.grdblk.INFINU[1], 0);
  // At the edge both fit.
  xdb::OPENRC(db.ctx, 1, key_of("R").data(), 296, lfn, 0, ierr);
  ASSERT_EQ(ierr, 0);
  xdb::CLOSGR(db.ctx, lfn);
  xdb::OPENRL(db.ctx, 1, key_of("L").data(), 296, lfn, 0, 0, 0, ierr);
  ASSERT_EQ(ierr, 0);
  xdb::CLOSGR(db.ctx, lfn);
  xdb::OPENRL(db.ctx, 1, key_of("L").data(), 10, lfn, 0, 0, 0, ierr);
  EXPECT_EQ(ierr, 1);  // the key exists
  EXPECT_EQ(db.ctx.grdblk.NUMDB[1], 2);
}

TEST_F(DataBlocks, ClosingAnUnusedLogicalFileOnlyResetsIt) {
  int32_t lfn = 0;
  xdb::CLOSGR(db.ctx, lfn);
  EXPECT_EQ(lfn, -1);
  lfn = 7;
  xdb::CLOSGR(db.ctx, lfn);
  EXPECT_EQ(lfn, -1);
}

TEST_F(DataBlocks, DatabaseCloseForceClosesAnOpenGroup) {
  create(1024);
  auto key = key_of("OPEN", 3);
  int32_t lfn = 0, ierr = -1;
  xdb::OPENGR(db.ctx, 1, key.data(), 1, lfn, 0, ierr);
  std::vector<int32_t> words{1, 2, 3};
  xdb::WRITGR(db.ctx, lfn, words.data(), 3, ierr);
  db.messages.str("");
  ASSERT_EQ(db.close(1), 0);
  EXPECT_NE(db.messages.str().find(" *** USER WARNING MESSAGE 6061 (DBIO) \n"
                                   " *** DIOMSG ERROR MESSAGE    15 FROM SUBROUTINE PAGDBF  \n"
                                   "     THE FOLLOWING LOGICAL FILE WAS LEFT OPEN AT DATABASE CLOSE, FORCE CLOSING\n"
                                   "     OPEN           3       0"),
            std::string::npos);
  ASSERT_EQ(db.open(1, 0, 0, "data.xdb"), 0);
  EXPECT_EQ(read(key, 2).words, words);
}

// Relations keyed by their first word, written in different orders.
struct RelationCase {
  const char* name;
  int32_t block_size, entry_length;
  int count;
  int order;  // 0 ascending, 1 descending, 2 random, 3 clustered, 4 below -200 around non-negative
};

void PrintTo(const RelationCase& c, std::ostream* os) { *os << c.name; }

class IntegerKeyed : public DataBlocks, public ::testing::WithParamInterface<RelationCase> {};

std::vector<int32_t> keys_for(const RelationCase& c) {
  std::vector<int32_t> keys;
  std::mt19937 random(c.count);
  for (int i = 0; i < c.count; ++i) {
    switch (c.order) {
      case 0: keys.push_back(i * 3 - c.count); break;
      case 1: keys.push_back(c.count * 3 - i * 3); break;
      case 2: keys.push_back(static_cast<int32_t>(random())); break;
      case 3: keys.push_back((i % 7) * 100000 + i); break;
      case 4: keys.push_back(i % 3 == 0 ? -300 - i : (i % 3 == 1 ? i : -201 - (i % 50) * 1000)); break;
    }
  }
  return keys;
}

TEST_P(IntegerKeyed, EntriesComeBackInKeyOrder) {
  const auto& c = GetParam();
  create(c.block_size);
  auto key = key_of("REL", c.order);
  int32_t lfn = 0, ierr = -1;
  xdb::OPENRL(db.ctx, 1, key.data(), c.entry_length, lfn, 0, 0, 0, ierr);
  ASSERT_EQ(ierr, 0);
  std::map<int32_t, std::vector<int32_t>> model;
  std::vector<int32_t> entry(c.entry_length);
  int serial = 0;
  for (int32_t k : keys_for(c)) {
    entry[0] = k;
    for (int w = 1; w < c.entry_length; ++w) entry[w] = ++serial;
    model[k] = entry;  // a key written twice is overwritten
    xdb::WRITRL(db.ctx, lfn, entry.data(), ierr);
    ASSERT_EQ(ierr, 0);
  }
  auto pool = dbio::check_pool(db.ctx);
  EXPECT_TRUE(pool.empty()) << pool.front();
  xdb::CLOSGR(db.ctx, lfn);
  reopen();
  std::vector<int32_t> expected;
  for (const auto& [k, e] : model) expected.insert(expected.end(), e.begin(), e.end());
  auto content = read(key, 1);
  EXPECT_EQ(content.words.size(), expected.size());
  EXPECT_TRUE(content.words == expected);
}

INSTANTIATE_TEST_SUITE_P(
    Orders, IntegerKeyed,
    ::testing::Values(RelationCase{"ascending_small", 300, 5, 20000, 0}, RelationCase{"descending_small", 300, 5, 20000, 1},
                      RelationCase{"random_small", 300, 3, 30000, 2}, RelationCase{"clustered_small", 300, 7, 20000, 3},
                      RelationCase{"below_minus_200", 300, 4, 20000, 4}, RelationCase{"random_1024", 1024, 24, 50000, 2},
                      RelationCase{"descending_4096", 4096, 1, 100000, 1}, RelationCase{"random_4096", 4096, 13, 60000, 2},
                      RelationCase{"one_entry_per_block", 300, 200, 400, 2},
                      RelationCase{"two_entries_per_block", 300, 148, 600, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DataBlocks, DuplicateKeysOverwriteOrAreRefused) {
  create(300);
  int32_t lfn = 0, ierr = -1;
  xdb::OPENRL(db.ctx, 1, key_of("KEEP").data(), 2, lfn, 0, 0, 1, ierr);  // refuses duplicates
  ASSERT_EQ(ierr, 0);
  for (int32_t k : {5, 1, 9, 3}) {
    int32_t e[2] = {k, k * 10};
    xdb::WRITRL(db.ctx, lfn, e, ierr);
    ASSERT_EQ(ierr, 0);
  }
  int32_t again[2] = {3, 99};
  xdb::WRITRL(db.ctx, lfn, again, ierr);
  EXPECT_EQ(ierr, 2);
  xdb::CLOSGR(db.ctx, lfn);
  reopen();
  EXPECT_EQ(read(key_of("KEEP"), 1).words, (std::vector<int32_t>{1, 10, 3, 30, 5, 50, 9, 90}));
}

TEST_F(DataBlocks, SplitBelowMinus200KeepsTheTwoGroupsApart) {
  create(300);
  int32_t lfn = 0, ierr = -1;
  xdb::OPENRL(db.ctx, 1, key_of("SPLIT").data(), 74, lfn, 0, 0, 0, ierr);  // 4 entries per block
  ASSERT_EQ(ierr, 0);
  std::vector<int32_t> e(74, 0);
  for (int32_t k : {-500, -400, 10, 20}) {
    e[0] = k;
    xdb::WRITRL(db.ctx, lfn, e.data(), ierr);
  }
  const int32_t first_data = db.ctx.grfist.record[lfn][4];
  e[0] = -450;
  xdb::WRITRL(db.ctx, lfn, e.data(), ierr);
  ASSERT_EQ(ierr, 0);
  xdb::CLOSGR(db.ctx, lfn);
  // The old block keeps -500, -450, -400; the non-negative keys moved to the new block.
  EXPECT_EQ(group_block_word(first_data, 4), 3);
  const int32_t next = group_block_word(first_data, 2);
  EXPECT_EQ(group_block_word(next, 4), 2);
  EXPECT_EQ(group_block_word(next, 5), 10);
  reopen();
  EXPECT_EQ(read(key_of("SPLIT"), 1).words.size(), 5u * 74);
}

}  // namespace
