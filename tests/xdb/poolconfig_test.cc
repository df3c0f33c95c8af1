// Pool configuration: the layout of the pool and the presets of the shared state.

#include "xdb/poolconfig.h"

#include "bio/library.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

struct Configured {
  explicit Configured(int32_t length, int32_t pagsiz, int32_t ddlcfg, int32_t ndict = 0, int32_t output = 0) {
    units.message = &messages;
    xdb::PAGSET(ctx, output, 1, length, pagsiz, ddlcfg, ndict, 0, ierr);
  }
  std::ostringstream messages;
  platform::Units units;
  bio::Library block_io;
  dbio::Context ctx{units, block_io};
  int32_t ierr = -1;
};

TEST(PoolConfig, LaysOutTheWorkedExample) {
  Configured c(35161, 1024, 200005000);
  ASSERT_EQ(c.ierr, 0);
  const auto& s = c.ctx.sysfil;
  EXPECT_EQ(s.POOLEN, 17773);
  EXPECT_EQ(s.NOFP, 15);
  EXPECT_EQ(s.NPDICT, 3);
  EXPECT_EQ(s.NPOOL, 12);
  EXPECT_EQ(s.DBASEL, 32);
  EXPECT_EQ(s.DBASEP, 35);
  EXPECT_EQ(s.BASELL, 38);
  EXPECT_EQ(s.BASEBL, 53);
  EXPECT_EQ(s.BASEDB, 68);
  EXPECT_EQ(s.BASEBN, 83);
  EXPECT_EQ(s.BASEAD, 98);
  for (int p = 1; p <= 15; ++p) EXPECT_EQ(c.ctx.W(s.BASEAD + p), 115 + (p - 1) * 1024) << p;
  EXPECT_EQ(c.ctx.W(s.BASEAD + 15), 14451);
  EXPECT_EQ(s.BASEXB, 15475);
  EXPECT_EQ(s.BASEDD, 17524);
  EXPECT_EQ(s.BASRML, 32527);
  EXPECT_EQ(c.ctx.W(s.BASEDD), -1);
  EXPECT_LE(s.BASRML + 2000 - 1, 35161);  // the object index ends inside the pool
  EXPECT_EQ(s.FREE, 1);
  EXPECT_EQ(s.DLSTR, 1);
  EXPECT_EQ(s.LOCKED, 0);
  EXPECT_EQ(s.LSTUSD, 0);
  EXPECT_EQ(s.BASTRN, -1);

  Configured no_ddl(17958, 1024, 0);
  ASSERT_EQ(no_ddl.ierr, 0);
  EXPECT_EQ(no_ddl.ctx.sysfil.POOLEN, 17660);
  EXPECT_EQ(no_ddl.ctx.sysfil.NOFP, 15);
  EXPECT_EQ(no_ddl.ctx.sysfil.BASEXB, 15475);
  EXPECT_EQ(no_ddl.ctx.sysfil.BASRML, 17527);
}

TEST(PoolConfig, StartsEveryChainUnused) {
  Configured c(35161, 1024, 200005000);
  const auto& s = c.ctx.sysfil;
  for (int p = 1; p <= s.NOFP; ++p) {
    EXPECT_EQ(c.ctx.W(s.BASELL + p), p == s.NOFP ? -1 : -(p + 1));
    EXPECT_EQ(c.ctx.W(s.BASEBL + p), p - 1);
    EXPECT_EQ(c.ctx.W(s.BASEDB + p), 0);
    EXPECT_EQ(c.ctx.W(s.BASEBN + p), 0);
    EXPECT_EQ(c.ctx.W(s.BASEAD + p) % 2, 1);  // odd index: 8-byte aligned buffer
  }
  for (int i = 1; i <= s.NPDICT; ++i) {
    EXPECT_EQ(c.ctx.W(s.DBASEL + i), i == s.NPDICT ? -1 : -(i + 1));
    EXPECT_EQ(c.ctx.W(s.DBASEP + i), 0);
  }
  EXPECT_EQ(c.ctx.W(1), 1);
  EXPECT_EQ(c.ctx.W(31), 1073741824);
  EXPECT_EQ(c.ctx.W(32), INT32_MIN);
}

TEST(PoolConfig, PresetsUnitsFlagsAndTables) {
  Configured c(35161, 1024, 200005000);
  auto& g = c.ctx.grdblk;
  for (int u = 1; u <= 30; ++u) {
    EXPECT_EQ(g.BUFSZ[u], 1024);
    EXPECT_EQ(g.DBOPND[u], 0);
    EXPECT_EQ(g.GRFNUM[u], 39 + u);
  }
  EXPECT_EQ(c.ctx.DBFRST, 1);
  EXPECT_EQ(c.ctx.DBLAST, 1);
  EXPECT_EQ(c.ctx.grfist.count, 1);
  EXPECT_EQ(std::string(c.ctx.TYPCOD[4].data(), 2), "D ");
  EXPECT_EQ(c.ctx.TYPLEN[4], 2);
  EXPECT_EQ(std::string(c.ctx.TYPCOD[13].data(), 2), "C ");
  EXPECT_EQ(c.ctx.TYPLEN[13], 4);
  EXPECT_EQ(c.ctx.TYPLEN[20], 0);
}

TEST(PoolConfig, RejectsPoolsThatAreTooSmall) {
  struct Case {
    int32_t length, pagsiz, ddlcfg;
  } cases[] = {
      {35161, 299, 0},            // page below 300 words
      {2999 + 298, 300, 0},       // usable length 2999
      {3000 + 298, 300, 0},       // 9 pages: 7 in the pool, 3 of them for the cache, 4 left
      {1131648, INT32_MAX, 200005000},  // a page larger than the pool (and odd: no overflow)
      {-5, 1024, 0},
      {1131649, 1024, 0},         // beyond the pool array
  };
  for (const auto& k : cases) {
    Configured c(k.length, k.pagsiz, k.ddlcfg);
    EXPECT_EQ(c.ierr, xdb::kPoolTooSmall) << k.length << " " << k.pagsiz;
    EXPECT_EQ(c.ctx.sysfil.POOLEN, 0);
    EXPECT_EQ(c.ctx.sysfil.PAGSIZ, 0);
    EXPECT_EQ(c.ctx.sysfil.NOFP, 0);
    EXPECT_EQ(c.ctx.grdblk.GRFNUM[30], 69);  // presets hold even on failure
  }
  Configured bad_output(35161, 1024, 0, 0, -1);
  EXPECT_EQ(bad_output.ierr, xdb::kBadOutputUnit);
  EXPECT_EQ(bad_output.ctx.sysfil.POOLEN, 0);
}

TEST(PoolConfig, OddPageSizeIsRoundedUp) {
  Configured c(17 * 301 + 17753, 301, 200005000);
  ASSERT_EQ(c.ierr, 0);
  EXPECT_EQ(c.ctx.sysfil.PAGSIZ, 302);
}

TEST(PoolConfig, DictionaryCacheSizeFollowsTheRequest) {
  // 1024-word pages in the largest pool: n = 1114260 / 1031 = 1080 pages, NOFP = 1078, and the
  // default cache is NOFP / 10.
  struct Case {
    int32_t ndict, npdict;
  } cases[] = {{0, 107}, {-5, 5}, {-2, 3}, {4, 107}, {40, 120}, {1, 107}};
  EXPECT_EQ(Configured(1131648, 1024, 200005000).ctx.sysfil.NOFP, 1078);
  for (const auto& k : cases) {
    Configured c(1131648, 1024, 200005000, k.ndict);
    ASSERT_EQ(c.ierr, 0);
    EXPECT_EQ(c.ctx.sysfil.NPDICT, k.npdict) << k.ndict;
    EXPECT_EQ(c.ctx.sysfil.NPOOL, c.ctx.sysfil.NOFP - k.npdict);
  }
  // A small pool: NDICT = 4 gives 3 * 4 = 12 slots.
  Configured small(17 * 1024 * 2 + 17753, 1024, 200005000, 4);
  ASSERT_EQ(small.ierr, 0);
  EXPECT_EQ(small.ctx.sysfil.NPDICT, 12);
}

}  // namespace
