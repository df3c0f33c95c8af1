// Groups written again from their start (OPENGR mode 1 on a group that exists): the close gives
// back exactly the blocks the new content no longer needs and keeps the released-block chain
// whole, and a database close that finds the rewrite still open leaves the group as a close at
// that point would have left it.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <sstream>
#include <vector>

#include "dbio/blocks.h"
#include "dbio/pool.h"
#include "testkit/scratch_database.h"
#include "xdb/datablocks.h"
#include "xdb/readers.h"
#include "xdb/verify.h"

namespace {

constexpr int32_t kBlockWords = 300;

std::array<int32_t, 12> group_key(int32_t q1) {
  std::array<int32_t, 12> key{};
  std::memcpy(key.data(), "GROUP   ", 8);
  key[2] = q1;
  return key;
}

std::vector<int32_t> words_of(int32_t length, int32_t seed) {
  std::vector<int32_t> words(length);
  for (int32_t i = 0; i < length; ++i) words[i] = seed * 100000 + i;
  return words;
}

class GroupRewrite : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(db.open(1, 1000000, kBlockWords, "g.xdb"), 0); }
  void TearDown() override {
    if (HasFailure()) std::cerr << "messages of the database layer:\n" << db.messages.str();
  }

  // Opens group q1 in `mode` and writes `words` in chunks of at most `chunk` words; returns the LFN.
  int32_t write(int32_t q1, int32_t mode, const std::vector<int32_t>& words, int32_t chunk = 1000) {
    auto key = group_key(q1);
    int32_t lfn = 0, ierr = -1;
    xdb::OPENGR(db.ctx, 1, key.data(), mode, lfn, 0, ierr);
    EXPECT_EQ(ierr, 0);
    for (std::size_t at = 0; at < words.size(); at += chunk) {
      const int32_t n = static_cast<int32_t>(std::min<std::size_t>(chunk, words.size() - at));
      xdb::WRITGR(db.ctx, lfn, words.data() + at, n, ierr);
      EXPECT_EQ(ierr, 0);
    }
    return lfn;
  }
  void write_and_close(int32_t q1, int32_t mode, const std::vector<int32_t>& words) {
    int32_t lfn = write(q1, mode, words);
    xdb::CLOSGR(db.ctx, lfn);
  }

  // The blocks of group q1 and its words, read back through its descriptor; no problem allowed.
  std::set<int32_t> group_blocks(int32_t q1, const std::vector<int32_t>& expected) {
    auto key = group_key(q1);
    int32_t kind = 0;
    const xdb::Content c = xdb::read_data_block(db.ctx, 1, key.data(), kind);
    EXPECT_EQ(kind, 2);
    EXPECT_TRUE(c.problems.empty()) << "group " << q1 << ": " << c.problems.front();
    EXPECT_EQ(c.words, expected) << "group " << q1;
    return {c.reached.begin(), c.reached.end()};
  }
  // The released-block chain from DEDBKS, in order; a block met twice ends it (and fails).
  std::vector<int32_t> released_chain() {
    std::vector<int32_t> chain;
    for (int32_t b = db.ctx.grdblk.DEDBKS[1]; b != 0;) {
      if (std::find(chain.begin(), chain.end(), b) != chain.end()) {
        ADD_FAILURE() << "the released chain loops at block " << b;
        break;
      }
      chain.push_back(b);
      int32_t addr = 0;
      dbio::PAGFET(db.ctx, 1, b, addr);
      b = db.ctx.W(int64_t{addr} + dbio::chain_word(db.ctx.W(addr)) - 1);
    }
    return chain;
  }
  void reopen() {
    ASSERT_EQ(db.close(1), 0);
    ASSERT_EQ(db.open(1, 0, 0, "g.xdb"), 0);
  }
  // The whole file as the checker sees it: sound, every block held by exactly one part.
  void expect_sound() {
    std::ostringstream problems;
    const xdb::Verdict v = xdb::verify_database(db.ctx, 1, "g.xdb", problems, nullptr);
    EXPECT_EQ(v.problems, 0) << problems.str();
    EXPECT_EQ(problems.str(), "");
  }

  support::ScratchDatabase db{kBlockWords, 20};
};

struct Rewrite {
  int32_t old_words, new_words;
};

void PrintTo(const Rewrite& c, std::ostream* os) { *os << c.old_words << " words written again as " << c.new_words; }

class Rewrites : public GroupRewrite, public ::testing::WithParamInterface<Rewrite> {};

// Two groups, each then written again: the blocks a rewrite leaves behind go to the front of the
// released chain, in front of those released before it, and nothing else does.
TEST_P(Rewrites, TheCloseReleasesExactlyTheBlocksTheGroupNoLongerUses) {
  const Rewrite c = GetParam();
  const auto first_a = words_of(c.old_words, 1), first_b = words_of(c.old_words, 2);
  write_and_close(1, 1, first_a);
  write_and_close(2, 1, first_b);
  const std::set<int32_t> old_a = group_blocks(1, first_a), old_b = group_blocks(2, first_b);
  ASSERT_TRUE(released_chain().empty());

  const auto second_a = words_of(c.new_words, 3), second_b = words_of(c.new_words, 4);
  write_and_close(1, 1, second_a);
  std::vector<int32_t> after_a = released_chain();
  write_and_close(2, 1, second_b);
  reopen();

  const std::set<int32_t> new_a = group_blocks(1, second_a), new_b = group_blocks(2, second_b);
  std::vector<int32_t> left_a, left_b;
  std::set_difference(old_a.begin(), old_a.end(), new_a.begin(), new_a.end(), std::back_inserter(left_a));
  std::set_difference(old_b.begin(), old_b.end(), new_b.begin(), new_b.end(), std::back_inserter(left_b));
  std::sort(after_a.begin(), after_a.end());
  EXPECT_EQ(after_a, left_a) << "the first rewrite released other blocks than the ones it left";

  // The chain now: the second group's leftovers, then the first group's, all of them.
  const std::vector<int32_t> chain = released_chain();
  ASSERT_EQ(chain.size(), left_a.size() + left_b.size());
  std::vector<int32_t> front(chain.begin(), chain.begin() + static_cast<std::ptrdiff_t>(left_b.size()));
  std::vector<int32_t> back(chain.begin() + static_cast<std::ptrdiff_t>(left_b.size()), chain.end());
  std::sort(front.begin(), front.end());
  std::sort(back.begin(), back.end());
  EXPECT_EQ(front, left_b);
  EXPECT_EQ(back, left_a);
  expect_sound();
}

INSTANTIATE_TEST_SUITE_P(Lengths, Rewrites,
                         ::testing::Values(Rewrite{1500, 400}, Rewrite{1500, 0}, Rewrite{1500, 1500},
                                           Rewrite{400, 1500}, Rewrite{1500, 283}, Rewrite{1500, 284},
                                           Rewrite{2000, 578}));

// The database is closed while a group is being written again: the forced close must leave the
// group exactly as a close at that point would, whether the rewrite is still in the first block,
// in a later block of the old chain, or past its end.
class ForcedClose : public GroupRewrite, public ::testing::WithParamInterface<int32_t> {};

TEST_P(ForcedClose, InTheMiddleOfARewriteLeavesTheGroupWhole) {
  const auto first = words_of(1500, 1), partial = words_of(GetParam(), 2);
  write_and_close(1, 1, first);
  write_and_close(2, 1, first);
  write(1, 1, partial, 250);
  db.messages.str("");
  ASSERT_EQ(db.close(1), 0);
  EXPECT_NE(db.messages.str().find("FORCE CLOSING"), std::string::npos);
  ASSERT_EQ(db.open(1, 0, 0, "g.xdb"), 0);
  group_blocks(1, partial);
  group_blocks(2, first);
  expect_sound();
}

INSTANTIATE_TEST_SUITE_P(WordsWrittenAgain, ForcedClose, ::testing::Values(0, 100, 700, 1800));

// The same holds for a relation keyed by its first word: its root keeps a copy of the counts,
// which only the close writes.
TEST_F(GroupRewrite, AForcedCloseOfARelationWritesItsRootCopy) {
  auto key = group_key(9);
  int32_t lfn = 0, ierr = -1;
  xdb::OPENRL(db.ctx, 1, key.data(), 3, lfn, 0, 0, 0, ierr);
  ASSERT_EQ(ierr, 0);
  std::vector<int32_t> entries;
  for (int32_t k = 0; k < 500; ++k) {
    const int32_t entry[3] = {k * 7 - 1000, k, -k};
    xdb::WRITRL(db.ctx, lfn, entry, ierr);
    ASSERT_EQ(ierr, 0);
    entries.insert(entries.end(), entry, entry + 3);
  }
  ASSERT_EQ(db.close(1), 0);
  ASSERT_EQ(db.open(1, 0, 0, "g.xdb"), 0);
  int32_t kind = 0;
  const xdb::Content c = xdb::read_data_block(db.ctx, 1, key.data(), kind);
  EXPECT_TRUE(c.problems.empty()) << c.problems.front();
  EXPECT_EQ(c.words, entries);
  // Root words 20, 21, 22, 24 and 25 repeat descriptor words 7, 8, 9, 11 and 12.
  int32_t d[15] = {};
  xdb::DICRDR(db.ctx, 1, key.data(), d + 1, ierr);
  ASSERT_EQ(ierr, 0);
  int32_t addr = 0;
  dbio::PAGFET(db.ctx, 1, d[3], addr);
  auto root = [&](int k) { return db.ctx.W(int64_t{addr} + k - 1); };
  EXPECT_EQ((std::vector<int32_t>{root(20), root(21), root(22), root(24), root(25)}),
            (std::vector<int32_t>{d[7], d[8], d[9], d[11], d[12]}));
  EXPECT_EQ(d[8], 500);
  expect_sound();
}

}  // namespace
