// The paging pool: residency, least-recently-used reuse, write-back and the modified mark, seen
// through the block reads and writes the pool issues (the block trace of debug flag 20).

#include "dbio/pool.h"

#include <gtest/gtest.h>

#include "dbio/blocks.h"
#include "testkit/scratch_database.h"

namespace {

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// A new database on unit 1 with `blocks` blocks in all (header, dictionary, then data blocks
// 5.. numbered by themselves), flushed and closed, then opened again for update: every block is on
// disk and the pool is empty.
class Pool : public ::testing::Test {
 protected:
  static constexpr int32_t kPages = 12;

  void SetUp() override {
    ASSERT_EQ(db.open(1, 1000, 1024, "pool.xdb"), 0);
    for (int32_t i = 5; i <= 40; ++i) {
      int32_t block = 0, addr = 0;
      dbio::BLKGET(db.ctx, 1, block, addr);
      ASSERT_EQ(block, i);
      db.ctx.W(addr) = 4;         // a group block ...
      db.ctx.W(addr + 4) = block;  // ... that names itself in word 5
      dbio::PAGMOD(db.ctx, 1, block);
    }
    ASSERT_EQ(db.close(1), 0);
    ASSERT_EQ(db.open(1, -1, 0, "pool.xdb"), 0);
    db.ctx.DBGFLG[dbio::kTraceBlocks] = true;
    db.messages.str("");
  }
  int32_t fetch(int32_t block) {
    int32_t addr = 0;
    dbio::PAGFET(db.ctx, 1, block, addr);
    EXPECT_EQ(db.ctx.W(addr + 4), block);
    return addr;
  }
  int reads() { return count(db.messages.str(), "ACCESS BLKRD"); }
  int writes() { return count(db.messages.str(), "ACCESS BLKWRT"); }

  support::ScratchDatabase db{1024, kPages};
};

TEST_F(Pool, ResidentBlockIsFoundWithoutReading) {
  int32_t a = fetch(7);
  EXPECT_EQ(reads(), 1);
  EXPECT_EQ(fetch(7), a);
  EXPECT_EQ(reads(), 1);
  EXPECT_EQ(dbio::page_buffer(db.ctx, db.ctx.sysfil.FREE), a);  // its page heads the chain
}

TEST_F(Pool, LeastRecentlyFetchedPageIsReusedAndWrittenBackWhenModified) {
  // Block 1 (the header) already sits in one page; fill the other pages.
  for (int32_t b = 5; b < 5 + kPages - 1; ++b) fetch(b);
  EXPECT_EQ(reads(), kPages - 1);
  fetch(5);  // block 5 becomes the most recently used, block 6 the least
  dbio::PAGMOD(db.ctx, 1, 6);
  db.messages.str("");
  fetch(30);  // reuses the page of the header block (fetched first, never again)
  EXPECT_EQ(reads(), 1);
  EXPECT_EQ(writes(), 0);
  fetch(31);  // now block 6's page goes: it is written before block 31 is read into it
  EXPECT_EQ(writes(), 1);
  EXPECT_NE(db.messages.str().find("ACCESS BLKWRT REQUEST FOR BLOCK NUMBER           6 TO DATA BASE   1"),
            std::string::npos);
  EXPECT_LT(db.messages.str().find("BLKWRT REQUEST FOR BLOCK NUMBER           6"),
            db.messages.str().find("BLKRD REQUEST FOR BLOCK NUMBER         31"));
  fetch(5);  // still resident
  EXPECT_EQ(reads(), 2);
}

TEST_F(Pool, ModifiedMarkSurvivesAFetchAndPagmodOfAnAbsentBlockDoesNothing) {
  fetch(8);
  dbio::PAGMOD(db.ctx, 1, 8);
  fetch(8);
  int32_t page = db.ctx.sysfil.FREE;
  EXPECT_EQ(dbio::page_unit(db.ctx, page), -1);
  dbio::PAGMOD(db.ctx, 1, 9);  // not resident
  for (int32_t p = 1; p <= kPages; ++p) {
    if (p != page) {
      EXPECT_GE(dbio::page_unit(db.ctx, p), 0) << p;
    }
  }
}

TEST_F(Pool, NewBlockNeitherSearchesNorReads) {
  int32_t a = fetch(5);
  int32_t addr = 0;
  dbio::PAGFET(db.ctx, -1, 41, addr);
  EXPECT_EQ(reads(), 1);
  EXPECT_NE(addr, a);
  EXPECT_EQ(db.ctx.W(a + 4), 5);  // block 5's page is untouched
}

TEST_F(Pool, ChainStaysConsistent) {
  // Every page is on the chain exactly once, in-use pages first, LSTUSD the last in use.
  for (int32_t b : {5, 6, 7, 5, 8, 9, 10, 11, 12, 13, 14, 15, 16, 6, 17}) fetch(b);
  auto& s = db.ctx.sysfil;
  std::vector<int> seen(kPages + 1, 0);
  int32_t last_in_use = 0, previous = 0, steps = 0;
  for (int32_t p = s.FREE; p > 0 && steps <= kPages; ++steps) {
    ++seen[p];
    EXPECT_EQ(dbio::up_link(db.ctx, p), previous);
    int32_t down = dbio::down_link(db.ctx, p);
    if (down < 0) break;
    last_in_use = p;
    previous = p;
    p = down;
  }
  EXPECT_EQ(last_in_use, s.LSTUSD);
  for (int32_t p = 1; p <= kPages; ++p) EXPECT_EQ(seen[p], 1) << p;
}

}  // namespace
