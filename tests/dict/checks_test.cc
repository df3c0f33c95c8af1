// The dictionary walker and the pool check on damaged state: every kind of damage is named, and
// none leads either check astray. The state: 60 keys of one name in blocks of 300 words, that is
// data blocks 3, 5, 6, 7, 8 (chained in that order) of 12 entries each below secondary index
// block 4, with the header block locked, in the smallest pool.

#include <gtest/gtest.h>

#include <functional>

#include "dbio/pool.h"
#include "dbio/poolcheck.h"
#include "dbio/datamgr.h"
#include "tests/dict/dictionary_fixture.h"

namespace {

using namespace dicttest;
using dbio::down_link;
using dbio::up_link;

struct Damage {
  const char* what;
  std::function<void(support::ScratchDatabase&, dbio::Sysfil&)> apply;
  const char* problem;  // part of the line that names it
};
class Damaged : public ::testing::TestWithParam<Damage> {};

TEST_P(Damaged, IsReported) {
  support::ScratchDatabase db(300, 11);
  ASSERT_EQ(db.open(1, 100, 300, "damaged.xdb"), 0);
  for (int32_t q = 1; q <= 60; ++q) ASSERT_EQ(insert(db, key(q)), 0);
  int32_t addr = 0;
  dbio::DATMGR(db.ctx, 1, 1, addr);
  const auto sound = dict::walk_dictionary(db.ctx, 1);
  ASSERT_EQ(sound.problems, std::vector<std::string>{});
  ASSERT_EQ(dbio::check_pool(db.ctx), std::vector<std::string>{});
  ASSERT_EQ(std::vector<int64_t>({sound.entries, sound.data_blocks, sound.secondary_blocks}),
            std::vector<int64_t>({60, 5, 1}));
  GetParam().apply(db, db.ctx.sysfil);
  auto problems = dbio::check_pool(db.ctx);  // the walker reads through the pool: only a sound one
  if (problems.empty()) problems = dict::walk_dictionary(db.ctx, 1).problems;
  std::string found;
  for (const auto& line : problems) found += line + "\n";
  EXPECT_NE(found.find(GetParam().problem), std::string::npos) << found;
}

int32_t& slot_page(support::ScratchDatabase& db, int32_t i) { return db.ctx.W(db.ctx.sysfil.DBASEP + i); }

INSTANTIATE_TEST_SUITE_P(
    Dictionary, Damaged,
    ::testing::Values(
        Damage{"EntriesOutOfOrder", [](auto& db, auto&) { block_word(db, 3, 5 + 24 + 2) = -7; }, "is not above"},
        Damage{"IndexKeyDiffers", [](auto& db, auto&) { block_word(db, 4, 4 + 13 + 2) += 1; }, "differs from the first key"},
        Damage{"BrokenBackLink", [](auto& db, auto&) { block_word(db, 6, 3) = 3; }, "names previous block 3, expected 5"},
        Damage{"ChainLoopsBack", [](auto& db, auto&) { block_word(db, 8, 2) = 3; }, "names next block 3, expected 0"},
        Damage{"CountBeyondCapacity", [](auto& db, auto&) { block_word(db, 5, 4) = 9999; }, "holds 9999 entries, outside 1..12"},
        Damage{"BlockBeyondTheFile", [](auto& db, auto&) { block_word(db, 4, 4 + 26 + 12) = 5000; }, "block 5000, outside 2..8"},
        Damage{"BlockReachedTwice", [](auto& db, auto&) { block_word(db, 4, 4 + 26 + 12) = 5; }, "the walk has already reached"},
        Damage{"WrongBlockType", [](auto& db, auto&) { block_word(db, 7, 1) = 4; }, "has type 4, expected 7"},
        Damage{"SequenceNumberTwice", [](auto& db, auto&) { block_word(db, 3, 5 + 24 + 12) = 1; }, "number 1 used twice"},
        Damage{"EntryCountDisagrees", [](auto& db, auto&) { db.ctx.grdblk.NUMDB[1] += 1; }, "NUMDB is 61"},
        Damage{"PrimaryCountBeyondCapacity", [](auto& db, auto&) { db.ctx.grdblk.DICNSI[1] = 40; }, "outside 1..23"},
        Damage{"PageLost", [](auto& db, auto& s) { up_link(db.ctx, s.FREE = down_link(db.ctx, s.FREE)) = 0; }, "is lost"},
        Damage{"PageInTwoPlaces", [](auto& db, auto& s) { down_link(db.ctx, s.LOCKED) = slot_page(db, 1); },
               "is in the locked chain and in dictionary-cache slot 1"},
        Damage{"WrongUpLink", [](auto& db, auto& s) { up_link(db.ctx, down_link(db.ctx, s.FREE)) = 0; }, "has up link 0"},
        Damage{"WrongLastPageInUse", [](auto&, auto& s) { s.LSTUSD = s.FREE; }, "LSTUSD is"},
        Damage{"SlotListCycle", [](auto& db, auto& s) { db.ctx.W(s.DBASEL + s.DLSTR) = s.DLSTR; }, "comes back to slot"},
        Damage{"BlockHeldTwice", [](auto& db, auto&) { dbio::page_block(db.ctx, slot_page(db, 2)) = dbio::page_block(db.ctx, slot_page(db, 1)); },
               "is held by pages"}),
    [](const auto& info) { return std::string(info.param.what); });

}  // namespace
