// The ordered-list routines, the dictionary cache, and reading and rewriting entries. (The key
// order itself is key_order_test.cc's.)

#include "dict/dictionary.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "dbio/blocks.h"
#include "dbio/pool.h"
#include "dbio/poolcheck.h"
#include "dbio/datamgr.h"
#include "tests/dict/dictionary_fixture.h"

namespace {

using namespace dicttest;

TEST(OrderedList, SearchGivesTheMatchOrTheInsertionWordAndInsertKeepsTheOrder) {
  std::vector<int32_t> list(5 * 13, 0);  // 13-word index records: key and block number
  int32_t dup = -1, pos = 0, notfnd = 0;
  for (int32_t n = 0; int32_t q : {30, 10, 40, 20}) {
    dict::LSTINS(list.data(), n++, 12, 13, -1, key(q).data(), 12, &q, 1, dup);
    EXPECT_EQ(dup, 0);
  }
  for (auto [q, count, want_pos, want_notfnd] : std::vector<std::array<int32_t, 4>>{
           {30, 4, 27, 0}, {40, 4, 40, 0}, {5, 4, 1, 1}, {25, 4, 27, 1}, {60, 4, 53, 1}, {30, 0, 1, 1}}) {
    dict::DICSRC(key(q).data(), list.data(), 13, 12, count, pos, notfnd);
    EXPECT_EQ(std::make_pair(pos, notfnd), std::make_pair(want_pos, want_notfnd)) << q;
    dict::INTSRC(q, list.data() + 2, 13, count, pos, notfnd);  // the first qualifier as integer key
    EXPECT_EQ(std::make_pair(pos, notfnd), std::make_pair(want_pos, want_notfnd)) << q;
  }
  int32_t block = 99;
  dict::LSTINS(list.data(), 4, 12, 13, -1, key(20).data(), 12, &block, 1, dup);
  EXPECT_EQ(dup, 1);  // overwritten where it was, nothing moved
  EXPECT_EQ(std::vector<int32_t>({list[12], list[25], list[38], list[51]}), std::vector<int32_t>({10, 99, 30, 40}));
  const std::vector<int32_t> first_higher = {5, -10, -3};  // INTSRC stops at once below the first key
  dict::INTSRC(-3, first_higher.data(), 1, 3, pos, notfnd);
  EXPECT_EQ(std::make_pair(pos, notfnd), std::make_pair(1, 1));
}

// The blocks held by the dictionary-cache slots, most recently used first.
std::vector<int32_t> cached(support::ScratchDatabase& db) {
  auto& s = db.ctx.sysfil;
  std::vector<int32_t> blocks;
  for (int32_t i = s.DLSTR; i >= 1; i = db.ctx.W(s.DBASEL + i)) {
    if (int32_t page = db.ctx.W(s.DBASEP + i)) blocks.push_back(dbio::page_block(db.ctx, page));
  }
  return blocks;
}

TEST(DictionaryCache, ReusesEmptyThenNeverUsedThenLeastRecentlyUsedSlots) {
  support::ScratchDatabase db;  // 3 slots
  ASSERT_EQ(db.open(1, 100, 1024, "cache.xdb"), 0);
  for (int32_t b : {2, 3, 4, 2}) block_word(db, b, 1);
  EXPECT_EQ(cached(db), (std::vector<int32_t>{2, 4, 3}));
  block_word(db, 1, 1);
  EXPECT_EQ(cached(db), (std::vector<int32_t>{1, 2, 4}));
  EXPECT_EQ(dbio::page_block(db.ctx, db.ctx.sysfil.FREE), 3);  // its page heads the page chain again
  dbio::BLKRET(db.ctx, 1, 2, 0);                                // empties the slot in the middle
  block_word(db, 3, 1);
  EXPECT_EQ(cached(db), (std::vector<int32_t>{3, 1, 4}));
  EXPECT_EQ(dbio::check_pool(db.ctx), std::vector<std::string>{});

  ASSERT_EQ(db.close(1), 0);
  ASSERT_EQ(db.open(1, 0, 0, "cache.xdb"), 0);
  int32_t addr = 0;
  dbio::DATMGR(db.ctx, 1, 1, addr);  // the page chain holds no page in use now
  for (int32_t b : {2, 3, 4, 2}) {
    block_word(db, b, 1);
    EXPECT_EQ(dbio::check_pool(db.ctx), std::vector<std::string>{}) << b;
  }
}

TEST(Lookup, ReadsOnlyTheBlocksOnTheWayToTheKey) {
  support::ScratchDatabase db(300, 11);
  ASSERT_EQ(db.open(1, 1000, 300, "lookup.xdb"), 0);
  std::vector<int32_t> entry(12);
  auto reads_for = [&](int32_t q, int32_t want_ierr) {  // blocks read from the file (trace lines)
    db.messages.str("");
    db.ctx.DBGFLG[dbio::kTraceBlocks] = true;
    int32_t ierr = -1;
    dict::DICRDR(db.ctx, 1, key(q).data(), entry.data(), ierr);
    EXPECT_EQ(ierr, want_ierr) << q;
    const std::string text = db.messages.str();
    return std::count(text.begin(), text.end(), '\n');
  };
  ASSERT_EQ(db.close(1), 0);
  ASSERT_EQ(db.open(1, -1, 0, "lookup.xdb"), 0);  // nothing resident but the header block
  EXPECT_EQ(reads_for(5, 1), 0);                   // an empty dictionary
  for (int32_t q = 10; q <= 400; q += 10) ASSERT_EQ(insert(db, key(q)), 0);
  ASSERT_EQ(db.close(1), 0);
  ASSERT_EQ(db.open(1, 0, 0, "lookup.xdb"), 0);
  EXPECT_EQ(reads_for(5, 1), 1);    // below every key: the primary index
  EXPECT_EQ(reads_for(250, 0), 2);  // a secondary index and a data block more
  EXPECT_EQ(entry, descriptor_for(key(250), 12, 25));
  EXPECT_EQ(reads_for(255, 1), 0);
}

TEST(Lookup, RewriteUsesTheRememberedEntryOnlyWhileItCarriesTheSequenceNumber) {
  support::ScratchDatabase db;
  ASSERT_EQ(db.open(1, 100, 1024, "update.xdb"), 0);
  for (int32_t q : {1, 2}) ASSERT_EQ(insert(db, key(q)), 0);  // key 2 remembered, sequence number 2
  std::vector<int32_t> got(12);
  auto update = [&](int32_t q, int32_t sequence, int32_t value) {
    std::vector<int32_t> entry = {sequence, value, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    int32_t ierr = -1;
    dict::DICUPD(db.ctx, 1, key(q).data(), entry.data(), ierr);
    return ierr;
  };
  auto value = [&](int32_t q) {
    int32_t ierr = -1;
    dict::DICRDR(db.ctx, 1, key(q).data(), got.data(), ierr);
    return got[1];
  };
  EXPECT_EQ(update(1, 2, 77), 0);  // without comparing keys: entry 2 is rewritten
  EXPECT_EQ(value(2), 77);
  EXPECT_NE(value(1), 77);  // key 1 is remembered now
  EXPECT_EQ(update(2, 2, 88), 0);  // found by searching
  EXPECT_EQ(value(2), 88);
  EXPECT_EQ(update(3, 3, 99), 1);
}

}  // namespace
