// Block services: handing out and taking back blocks, the released-block chain with the lists
// carried by released relation blocks, and the trace lines.

#include "dbio/blocks.h"

#include <gtest/gtest.h>

#include "dbio/pool.h"
#include "testkit/scratch_database.h"

namespace {

class Blocks : public ::testing::Test {
 protected:
  int32_t get() {
    int32_t block = 0, addr = 0;
    dbio::BLKGET(db.ctx, 1, block, addr);
    last_addr = addr;
    return block;
  }
  // Writes a block of the given type whose chain word points to `next`.
  void set(int32_t block, std::initializer_list<std::pair<int, int32_t>> words) {
    int32_t addr = 0;
    dbio::PAGFET(db.ctx, 1, block, addr);
    for (auto [k, v] : words) db.ctx.W(addr + k - 1) = v;
    dbio::PAGMOD(db.ctx, 1, block);
  }

  support::ScratchDatabase db;
  int32_t last_addr = 0;
};

TEST_F(Blocks, NewDatabaseGrowsUntilItsMaximum) {
  ASSERT_EQ(db.open(1, 6, 1024, "grow.xdb"), 0);
  EXPECT_EQ(db.ctx.grdblk.USDBKS[1], 4);
  EXPECT_EQ(get(), 5);
  EXPECT_EQ(get(), 6);
  EXPECT_EQ(db.ctx.grdblk.FREBKS[1], 0);
  EXPECT_EQ(db.stops([&] { get(); }), platform::kExitFatal);
  EXPECT_NE(db.messages.str().find(" *** SYSTEM FATAL ERROR 6062 (DBIO) \n"
                                   " *** DIOMSG ERROR MESSAGE     4 FROM SUBROUTINE BLKGET  \n"
                                   "     INSUFFICIENT SPACE ALLOCATED FOR DATA BASE UNIT     1\n"),
            std::string::npos);
  EXPECT_EQ(db.output.str(), " FATAL ERROR DETECTED\n");
  EXPECT_EQ(db.ctx.grdblk.USDBKS[1], 6);  // nothing changed
}

TEST_F(Blocks, ReleasedBlocksComeBackFirstInChainOrder) {
  ASSERT_EQ(db.open(1, 100, 1024, "chain.xdb"), 0);
  for (int i = 5; i <= 12; ++i) ASSERT_EQ(get(), i);
  dbio::BLKRET(db.ctx, 1, 7, 0);
  EXPECT_EQ(db.ctx.grdblk.DEDBKS[1], 7);
  EXPECT_EQ(get(), 7);
  EXPECT_EQ(db.ctx.grdblk.DEDBKS[1], 0);

  // 9 -> 10 -> 11 -> 12 returned as one range.
  set(9, {{1, 4}, {2, 10}});
  set(10, {{1, 4}, {2, 11}});
  set(11, {{1, 4}, {2, 12}});
  set(12, {{1, 4}, {2, 0}});
  dbio::BLKRET(db.ctx, 1, 5, 0);
  dbio::BLKRET(db.ctx, 1, 9, 12);
  EXPECT_EQ(get(), 9);
  EXPECT_EQ(get(), 10);
  EXPECT_EQ(get(), 11);
  EXPECT_EQ(get(), 12);
  EXPECT_EQ(get(), 5);
  EXPECT_EQ(get(), 13);
}

TEST_F(Blocks, ReleasedRootHandsOutItsWholeTreeLastEntryFirst) {
  ASSERT_EQ(db.open(1, 100, 1024, "tree.xdb"), 0);
  for (int i = 5; i <= 14; ++i) get();
  // Root 5 lists level-2 blocks 6 and 7; 6 lists data blocks 8, 9; 7 lists 10, 11, 12.
  set(5, {{1, 101}, {4, 0}, {23, 2}, {27, 6}, {29, 7}});
  set(6, {{1, 2}, {2, 5}, {3, 2}, {5, 8}, {7, 9}});
  set(7, {{1, 2}, {2, 99}, {3, 3}, {5, 10}, {7, 11}, {9, 12}});
  dbio::BLKRET(db.ctx, 1, 5, 0);
  std::vector<int32_t> order;
  for (int i = 0; i < 9; ++i) order.push_back(get());
  EXPECT_EQ(order, (std::vector<int32_t>{12, 11, 10, 7, 9, 8, 6, 5, 15}));
}

TEST_F(Blocks, TraceLinesUnderDebugFlag20) {
  ASSERT_EQ(db.open(1, 100, 1024, "trace.xdb"), 0);
  db.ctx.DBGFLG[dbio::kTraceBlocks] = true;
  db.messages.str("");
  EXPECT_EQ(get(), 5);
  dbio::BLKRET(db.ctx, 1, 5, 0);
  EXPECT_EQ(db.messages.str(),
            " ACCESS BLKGET CALLED DBNUM, BLOCK NUMBER RETURNED =    1           5\n"
            " ACCESS BLKRET FOR DATABASE   1 RANGE          5         0\n");
}

TEST_F(Blocks, UnitChecks) {
  EXPECT_EQ(db.stops([&] { get(); }), platform::kExitFatal);
  EXPECT_NE(db.messages.str().find("BLOCK REQUEST FROM DATA BASE UNIT     1, WHICH IS CLOSED."), std::string::npos);
  db.messages.str("");
  int32_t block = 0, addr = 0;
  EXPECT_EQ(db.stops([&] { dbio::BLKGET(db.ctx, 31, block, addr); }), platform::kExitFatal);
  EXPECT_NE(db.messages.str().find(" *** USER FATAL MESSAGE 6060 (DBIO) \n"), std::string::npos);
  EXPECT_NE(db.messages.str().find("DATA BASE UNIT    31 IS OUT OF RANGE."), std::string::npos);
}

}  // namespace
