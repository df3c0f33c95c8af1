// Neutral files that once converted wrongly, kept in tests/regressions/ as they were reported.
// Each must now convert as its row says, into an XDB that the checker finds sound and that holds
// exactly what the neutral file holds, block by block as the reader decodes it.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "testkit/end_to_end.h"
#include "testkit/neutral_blocks.h"
#include "testkit/test_directory.h"

namespace {

namespace fs = std::filesystem;

struct Regression {
  const char* file;
  int status;      // the converter's exit status
  bool cut_short;  // the data end early: the XDB must be sound, but holds only what was closed
  const char* fault;  // what went wrong with it
};

const Regression kRegressions[] = {
    {"relation-level2-split.ndb", 0, false,
     "a relation keyed by word 1 whose level-2 blocks split in random key order: pairs went to a level-2 block "
     "that was not the data block's own, the index named blocks without their keys (exit status 0)"},
    {"group-rewrite-leak.ndb", 0, false,
     "two groups written again shorter: each close gave back the rest of the old chain with the current block as "
     "its end, so the released chain lost every block released before (blocks 7-10 belonged to nothing)"},
    {"group-rewrite-premature-end.ndb", 1, true,
     "the data end while a group is written again: the forced close changed the group's first block after the "
     "flush without marking it, so the file kept the old chain behind a descriptor of the new one"},
    {"multikey-wrapping-order.ndb", 2, false,
     "a relation keyed by five rotated words, 2^31 or more apart, whose key order is not transitive: the entry "
     "that built the index lies where its search put it, the next one above it behind a higher key, as the writer "
     "leaves it; the checker called that a problem (the cut last entry warns; five doubles carry a word beyond "
     "an entry, which is no part of it)"},
};

// The blocks the XDB holds: a key that comes again rewrites a group (the later one holds) and is
// refused for any other kind (the first one holds).
std::vector<support::Block> as_stored(const std::vector<support::Block>& blocks) {
  std::vector<support::Block> stored;
  std::map<std::array<int32_t, 12>, std::size_t> at;
  for (const auto& block : blocks) {
    const auto [it, fresh] = at.emplace(block.key.words(), stored.size());
    if (fresh) {
      stored.push_back(block);
    } else if (block.kind() == support::BlockKind::kGroup && stored[it->second].kind() == support::BlockKind::kGroup) {
      stored[it->second] = block;
    }
  }
  return stored;
}

void PrintTo(const Regression& r, std::ostream* os) { *os << r.file; }

fs::path regressions() { return fs::path(LOADXDB_SOURCE_DIR) / "tests" / "regressions"; }

class Regressions : public ::testing::TestWithParam<Regression> {};

TEST_P(Regressions, ConvertsSoundAndHoldsWhatTheFileHolds) {
  const Regression& r = GetParam();
  const support::TestDirectory dir("regression");
  const std::string xdb = dir.path("out.xdb");
  const support::NeutralFile neutral = support::read_neutral_file((regressions() / r.file).string());
  if (!r.cut_short) {
    ASSERT_EQ(neutral.failure, "");
  }

  const auto run = support::run_converter({(regressions() / r.file).string(), "output=" + xdb, "verbose=no"}, dir.path());
  EXPECT_EQ(run.status, r.status) << r.fault << "\n" << run.messages;
  if (r.status == 0) {
    EXPECT_EQ(run.messages, "");
  }
  ASSERT_EQ(run.checked.size(), 1u);
  EXPECT_EQ(run.unsound(), "") << r.fault;
  if (r.cut_short) return;
  const auto comparison =
      support::compare_with_model(xdb, as_stored(neutral.blocks), support::block_words_of(neutral.block_size));
  for (std::size_t i = 0; i < std::min<std::size_t>(comparison.differences.size(), 10); ++i) {
    ADD_FAILURE() << comparison.differences[i];
  }
}

INSTANTIATE_TEST_SUITE_P(Files, Regressions, ::testing::ValuesIn(kRegressions), [](const auto& info) {
  std::string name = info.param.file;
  name = name.substr(0, name.find('.'));
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
});

// A file added to tests/regressions/ without a row would never be converted.
TEST(RegressionFiles, EveryFileHasItsRow) {
  std::set<std::string> rows;
  for (const auto& r : kRegressions) rows.insert(r.file);
  for (const auto& entry : fs::directory_iterator(regressions())) {
    EXPECT_TRUE(rows.count(entry.path().filename().string())) << entry.path() << " has no row";
  }
}

}  // namespace
